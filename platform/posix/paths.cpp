#include "platform/posix/paths.h"

#include "platform/text.h"

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

std::string Utf8(const std::wstring& s) { return text::ToUtf8(s); }

std::wstring Wide(const std::string& utf8) { return text::FromUtf8(utf8); }

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
