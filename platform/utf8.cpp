// UTF-8 from and to the platform's wide strings (UTF-16 on Windows, UTF-32
// elsewhere); the same code on every backend.
#include "platform/text.h"

#include <cstdint>

namespace text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void PutWide(std::wstring& out, char32_t c) {
    if (sizeof(wchar_t) == 2 && c > 0xFFFF) {
        c -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (c >> 10));
        out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<wchar_t>(c);
    }
}

// One code point from s at i (advanced past it); a malformed sequence gives
// one replacement character and consumes only its first byte.
char32_t NextUtf8(const std::string& s, std::size_t& i) {
    const auto b = static_cast<unsigned char>(s[i++]);
    if (b < 0x80) return b;
    const int extra = b >= 0xF0 && b < 0xF5 ? 3 : b >= 0xE0 && b < 0xF0 ? 2 : b >= 0xC2 && b < 0xE0 ? 1 : -1;
    if (extra < 0 || i + extra > s.size()) return kReplacement;
    char32_t c = b & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        const auto t = static_cast<unsigned char>(s[i + k]);
        if ((t & 0xC0) != 0x80) return kReplacement;
        c = (c << 6) | (t & 0x3F);
    }
    static const char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return kReplacement;
    i += extra;
    return c;
}

// One code point from w at i (advanced past it); a lone surrogate is replaced.
char32_t NextWide(const std::wstring& w, std::size_t& i) {
    const auto c = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(w[i++]));
    if (c < 0xD800 || c > 0xDFFF) return c > 0x10FFFF ? kReplacement : c;
    if (c >= 0xDC00 || i >= w.size()) return kReplacement;
    const auto low = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(w[i]));
    if (low < 0xDC00 || low > 0xDFFF) return kReplacement;
    ++i;
    return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
}

}  // namespace

std::wstring FromUtf8(const std::string& utf8) {
    std::wstring out;
    for (std::size_t i = 0; i < utf8.size();) PutWide(out, NextUtf8(utf8, i));
    return out;
}

std::string ToUtf8(const std::wstring& wide) {
    std::string out;
    for (std::size_t i = 0; i < wide.size();) {
        const char32_t c = NextWide(wide, i);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace text
