#include "platform/posix/paths.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace posixport {
namespace {

std::string DriveRoot(wchar_t letter) {
    const char* prefix = std::getenv("WINEPREFIX");
    std::string root;
    if (prefix && *prefix) {
        root = prefix;
    } else {
        const char* home = std::getenv("HOME");
        root = std::string(home ? home : "") + "/.wine";
    }
    const char lower = static_cast<char>(letter | 0x20);
    if (lower == 'c') return root + "/drive_c";
    return root + "/dosdevices/" + lower + ":";
}

bool HasDriveLetter(const std::wstring& p) {
    return p.size() >= 2 && p[1] == L':' &&
           ((p[0] >= L'A' && p[0] <= L'Z') || (p[0] >= L'a' && p[0] <= L'z'));
}

}  // namespace

std::string Utf8(const std::wstring& s) {
    std::string out;
    for (wchar_t wc : s) {
        auto c = static_cast<std::uint32_t>(wc);
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

std::wstring Wide(const std::string& utf8) {
    std::wstring out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
        std::uint32_t c = extra == 0 ? b : b & (0x3F >> extra);
        if (b >= 0x80 && b < 0xC0) extra = 0, c = 0xFFFD;
        ++i;
        for (int k = 0; k < extra; ++k, ++i) {
            if (i >= utf8.size() || (static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
                c = 0xFFFD;
                break;
            }
            c = (c << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
        }
        out += static_cast<wchar_t>(c);
    }
    return out;
}

std::string NativePath(const std::wstring& windowsPath) {
    std::wstring rest = windowsPath;
    std::string root;
    if (HasDriveLetter(windowsPath)) {
        root = DriveRoot(windowsPath[0]);
        rest = windowsPath.substr(2);
    }
    for (auto& c : rest)
        if (c == L'\\') c = L'/';
    return root + Utf8(rest);
}

std::uint32_t WinError(int err) {
    switch (err) {
    case ENOENT: return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return 3;
    case EMFILE:
    case ENFILE: return 4;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return 5;
    case EBADF: return 6;
    case ENOSPC: return 112;
    case EBUSY:
    case ETXTBSY: return 32;
    case EEXIST: return 80;
    default: return 31;  // ERROR_GEN_FAILURE
    }
}

std::uint32_t WinErrorForPath(int err, const std::string& path) {
    if (err != ENOENT) return WinError(err);
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return 2;
    struct stat st;
    const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 2 : 3;
}

}  // namespace posixport
