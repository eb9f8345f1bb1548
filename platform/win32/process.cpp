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

std::wstring CurrentDirectory() {
    const DWORD need = ::GetCurrentDirectoryW(0, nullptr);
    if (need == 0) return L"";
    std::wstring path(need, L'\0');
    const DWORD n = ::GetCurrentDirectoryW(need, &path[0]);
    path.resize(n < need ? n : 0);
    return path;
}

}  // namespace process

namespace text {

std::wstring LowerCase(std::wstring s) {
    if (!s.empty()) ::CharLowerBuffW(&s[0], static_cast<DWORD>(s.size()));
    return s;
}

}  // namespace text
