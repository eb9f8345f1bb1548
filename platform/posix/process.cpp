#include "platform/process.h"
#include "platform/text.h"

#include <clocale>
#include <cwctype>
#include <locale.h>
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
