#include "platform/process.h"
#include "platform/text.h"

#include <windows.h>

namespace process {

std::wstring ExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return L"";
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace process

namespace text {

std::wstring LowerCase(std::wstring s) {
    if (!s.empty()) ::CharLowerBuffW(&s[0], static_cast<DWORD>(s.size()));
    return s;
}

}  // namespace text
