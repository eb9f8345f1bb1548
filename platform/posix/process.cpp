#include "platform/process.h"
#include "platform/text.h"

#include <clocale>
#include <cwctype>
#include <cerrno>
#include <fcntl.h>
#include <locale.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/posix/paths.h"

namespace process {

namespace {
std::wstring WindowsSpelling(const std::string& path) {
    std::wstring wide = posixport::Wide(path);
    for (auto& c : wide)
        if (c == L'/') c = L'\\';
    return wide;
}
}  // namespace

// In Windows spelling, so the program's title is derived the same way.
std::wstring ExecutablePath() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return L"";
    return WindowsSpelling(std::string(buf, static_cast<std::size_t>(n)));
}

std::wstring CurrentDirectory() {
    char buf[4096];
    return ::getcwd(buf, sizeof buf) ? WindowsSpelling(buf) : L"";
}

namespace {
int g_lockedFolder = -1;
}  // namespace

// The trees on C: are the machine's, so the lock is on C:'s own folder: no
// file of its own, and a holder that dies lets go with its descriptor. The
// code is errno, as every code this port reports.
std::uint32_t LockInstallation() {
    const std::string drive = posixport::NativePath(L"C:\\");
    const int fd = ::open(drive.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return static_cast<std::uint32_t>(errno);
    int locked;
    while ((locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        const int error = errno;
        ::close(fd);
        return static_cast<std::uint32_t>(error);
    }
    g_lockedFolder = fd;
    return 0;
}

void UnlockInstallation() {
    if (g_lockedFolder < 0) return;
    ::close(g_lockedFolder);  // closing the last descriptor lets go of the lock
    g_lockedFolder = -1;
}

}  // namespace process

namespace text {

std::wstring LowerCase(std::wstring s) {
    static locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    for (auto& c : s)
        c = utf8 ? static_cast<wchar_t>(::towlower_l(static_cast<wint_t>(c), utf8))
                 : static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return s;
}

}  // namespace text
