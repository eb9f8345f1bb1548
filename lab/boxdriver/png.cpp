#include "lab/boxdriver/png.h"

#include <cstdint>
#include <cstdio>
#include <memory>

namespace boxdriver {
namespace {

std::uint32_t Crc32(const unsigned char* p, std::size_t n, std::uint32_t crc = 0) {
    crc = ~crc;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void Put32(std::vector<unsigned char>& v, std::uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<unsigned char>(x >> s));
}

void Chunk(std::vector<unsigned char>& png, const char* type, const std::vector<unsigned char>& body) {
    Put32(png, static_cast<std::uint32_t>(body.size()));
    std::vector<unsigned char> typed(type, type + 4);
    typed.insert(typed.end(), body.begin(), body.end());
    png.insert(png.end(), typed.begin(), typed.end());
    Put32(png, Crc32(typed.data(), typed.size()));
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

}  // namespace

bool WritePng(const std::wstring& path, int w, int h, const std::vector<unsigned char>& rgb) {
    std::vector<unsigned char> raw;
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rgb.begin() + y * w * 3, rgb.begin() + (y + 1) * w * 3);
    }
    std::vector<unsigned char> z{0x78, 0x01};
    std::uint32_t a = 1, b = 0;
    for (unsigned char c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
    for (std::size_t off = 0; off < raw.size() || off == 0; off += 65535) {
        const std::size_t n = raw.size() - off < 65535 ? raw.size() - off : 65535;
        z.push_back(off + n >= raw.size() ? 1 : 0);
        z.push_back(n & 0xFF), z.push_back(n >> 8);
        z.push_back(~n & 0xFF), z.push_back((~n >> 8) & 0xFF);
        z.insert(z.end(), raw.begin() + off, raw.begin() + off + n);
        if (raw.empty()) break;
    }
    Put32(z, (b << 16) | a);
    std::vector<unsigned char> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<unsigned char> ihdr;
    Put32(ihdr, w), Put32(ihdr, h);
    for (unsigned char c : {8, 2, 0, 0, 0}) ihdr.push_back(c);
    Chunk(png, "IHDR", ihdr);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", {});
    std::unique_ptr<FILE, FileCloser> f(_wfopen(path.c_str(), L"wb"));
    if (!f) return false;
    const bool ok = std::fwrite(png.data(), 1, png.size(), f.get()) == png.size();
    return std::fclose(f.release()) == 0 && ok;
}

}  // namespace boxdriver
