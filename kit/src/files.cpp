// Files and trees as the kit makes, copies, lists and removes them.
#include "kit/src/machine.h"

#include <cstring>

#include "platform/win32/handles.h"

namespace kit {
namespace {

DWORD AttributesOf(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

bool IsLinkFolder(DWORD attrs) {
    return (attrs & FILE_ATTRIBUTE_DIRECTORY) && (attrs & FILE_ATTRIBUTE_REPARSE_POINT);
}

template <typename Visit>
void ForEachEntry(const std::wstring& folder, Visit visit) {
    WIN32_FIND_DATAW data;
    win32::UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find) return;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") visit(name, data.dwFileAttributes);
    } while (::FindNextFileW(find.get(), &data));
}

}  // namespace

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || folder.back() == L'\\') return folder + name;
    return folder + L"\\" + name;
}

std::wstring FullPath(const std::wstring& path) {
    wchar_t buf[32768];
    const DWORD n = ::GetFullPathNameW(path.c_str(), 32768, buf, nullptr);
    return n > 0 && n < 32768 ? std::wstring(buf, n) : path;
}

std::wstring ModulePath() {
    wchar_t buf[32768];
    const DWORD n = ::GetModuleFileNameW(nullptr, buf, 32768);
    return std::wstring(buf, n < 32768 ? n : 0);
}

std::wstring ModuleFolder() {
    const std::wstring path = ModulePath();
    return path.substr(0, path.find_last_of(L'\\'));
}

bool Exists(const std::wstring& path) { return AttributesOf(path) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::wstring& path) {
    const DWORD a = AttributesOf(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool ReadFile(const std::wstring& path, std::string& bytes) {
    win32::UniqueFile f(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return false;
    bytes.clear();
    char buf[65536];
    DWORD got = 0;
    while (::ReadFile(f.get(), buf, sizeof buf, &got, nullptr)) {
        if (got == 0) return true;
        bytes.append(buf, got);
    }
    return false;
}

bool WriteFile(const std::wstring& path, const std::string& bytes) {
    win32::UniqueFile f(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
    DWORD written = 0;
    return f && ::WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool MakeFolders(const std::wstring& path) {
    for (std::size_t at = path.find(L'\\', 3); ; at = path.find(L'\\', at + 1)) {
        const std::wstring part = path.substr(0, at);
        if (!::CreateDirectoryW(part.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;
        if (at == std::wstring::npos) return true;
    }
}

bool CopyTree(const std::wstring& from, const std::wstring& to) {
    if (!::CreateDirectoryW(to.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;
    bool ok = true;
    ForEachEntry(from, [&](const std::wstring& name, DWORD attrs) {
        if (attrs & FILE_ATTRIBUTE_DIRECTORY)
            ok = CopyTree(Join(from, name), Join(to, name)) && ok;
        else
            ok = ::CopyFileW(Join(from, name).c_str(), Join(to, name).c_str(), FALSE) && ok;
    });
    return ok;
}

bool RemoveTree(const std::wstring& path, std::wstring* stays) {
    const DWORD attrs = AttributesOf(path);
    if (attrs == INVALID_FILE_ATTRIBUTES) return true;
    if (attrs & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesW(path.c_str(), attrs & ~FILE_ATTRIBUTE_READONLY);
    bool gone;
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        gone = ::DeleteFileW(path.c_str()) || !Exists(path);
    } else {
        if (!IsLinkFolder(attrs))
            ForEachEntry(path, [&](const std::wstring& name, DWORD) { RemoveTree(Join(path, name), stays); });
        gone = ::RemoveDirectoryW(path.c_str()) || !Exists(path);
    }
    if (!gone && stays && stays->empty()) *stays = path;
    return gone;
}

bool RemoveHeldTree(const std::wstring& path, std::wstring& held) {
    held.clear();
    const DWORD start = ::GetTickCount();
    for (std::wstring stays;; stays.clear()) {
        if (RemoveTree(path, &stays)) return true;
        if (held.empty()) held = stays;
        if (::GetTickCount() - start > 5000) return false;
        ::Sleep(250);
    }
}

std::vector<std::wstring> ListTree(const std::wstring& root) {
    std::vector<std::wstring> out;
    ForEachEntry(root, [&](const std::wstring& name, DWORD attrs) {
        if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) return out.push_back(name);
        out.push_back(name + L"\\");
        if (IsLinkFolder(attrs)) return;
        for (const auto& below : ListTree(Join(root, name))) out.push_back(name + L"\\" + below);
    });
    return out;
}

}  // namespace kit
