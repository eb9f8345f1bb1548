#include "platform/fileops.h"

#include <vector>

#include "platform/win32/folders.h"
#include "platform/win32/handles.h"

namespace win32 {
namespace {

// Where a handle is, as the system spells it, \\?\ first; "" when unknown.
std::wstring FinalPath(HANDLE file) {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetFinalPathNameByHandleW(file, &name[0], static_cast<DWORD>(name.size()),
                                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        const bool fits = n < name.size();
        name.resize(n);
        if (fits) return name;
    }
}

// `final` names `path`, compared as NTFS compares names; the prefix of long
// names aside (a network name keeps its UNC\, alike on both sides).
bool SameName(const std::wstring& final, const std::wstring& path) {
    const std::size_t skip = final.compare(0, 4, L"\\\\?\\") == 0 ? 4 : 0;
    return final.size() > skip && ::CompareStringOrdinal(final.c_str() + skip, -1, path.c_str(),
                                                         static_cast<int>(path.size()), TRUE) == CSTR_EQUAL;
}

// The folders of the trees are named in full, as the handle is found there.
struct Held {
    std::wstring name;
    UniqueFile handle;
};

std::vector<Held>& HeldFolders() {
    static std::vector<Held> held;
    return held;
}

const Held* Find(const std::wstring& fullName) {
    for (const Held& held : HeldFolders())
        if (::CompareStringOrdinal(held.name.c_str(), -1, fullName.c_str(), -1, TRUE) == CSTR_EQUAL) return &held;
    return nullptr;
}

bool IsReparsePoint(HANDLE file) {
    const DWORD attrs = AttributesOf(file);
    return attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Closes the handle first, so that the code outlives it.
fileops::FolderHold Refuse(UniqueFile& folder, DWORD error) {
    folder.reset();
    ::SetLastError(error);
    return fileops::FolderHold::Refused;
}

// What a copy into the folder would meet: no such path.
fileops::FolderHold Absent(UniqueFile& folder) {
    folder.reset();
    ::SetLastError(ERROR_PATH_NOT_FOUND);
    return fileops::FolderHold::NotThere;
}

}  // namespace

DWORD AttributesOf(HANDLE file) {
    FILE_ATTRIBUTE_TAG_INFO info;
    return ::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &info, sizeof info) != FALSE ? info.FileAttributes
                                                                                                    : INVALID_FILE_ATTRIBUTES;
}

bool InPlace(HANDLE file, const std::wstring& path) {
    const std::size_t cut = path.find_last_of(L'\\');
    return cut == std::wstring::npos || !Find(path.substr(0, cut)) || SameName(FinalPath(file), path);
}

}  // namespace win32

namespace fileops {

// The folder itself, not what a link there leads to. Wine opens the folder a
// Unix symbolic link leads to and reports no reparse point on that handle:
// where the handle is tells it there. Any failure but "not there" refuses it
// (another account holding it with delete access, say): unheld, it could be
// swapped.
FolderHold HoldFolder(const std::wstring& path) {
    win32::UniqueFile folder(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME)
            return win32::Absent(folder);
        return win32::Refuse(folder, error);
    }
    const DWORD attrs = win32::AttributesOf(folder.get());
    if (attrs == INVALID_FILE_ATTRIBUTES) return win32::Refuse(folder, ::GetLastError());
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) return win32::Absent(folder);
    if ((attrs & FILE_ATTRIBUTE_REPARSE_POINT) || !win32::SameName(win32::FinalPath(folder.get()), path))
        return win32::Refuse(folder, fileops::kErrorReparsePointEncountered);
    win32::HeldFolders().push_back({path, std::move(folder)});
    return FolderHold::Held;
}

bool HeldFolderIsPlain(const std::wstring& path) {
    const win32::Held* held = win32::Find(path);
    if (!held || !win32::IsReparsePoint(held->handle.get())) return true;
    ::SetLastError(fileops::kErrorReparsePointEncountered);
    return false;
}

void ReleaseFolders() { win32::HeldFolders().clear(); }

}  // namespace fileops
