#include "platform/shellfolders.h"

#include <cstring>
#include <vector>

#include "platform/win32/handles.h"
#include "platform/win32/shell_folders_key.h"

namespace shellfolders {
namespace {

unsigned long g_lookups = 0;

// Registry strings carry no promise of a terminating NUL or an even size: take
// the whole characters stored, up to the first NUL.
std::wstring StoredText(const std::vector<BYTE>& data, DWORD size) {
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (!text.empty()) std::memcpy(&text[0], data.data(), text.size() * sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

bool Expand(const std::wstring& stored, std::wstring& out) {
    const DWORD need = ::ExpandEnvironmentStringsW(stored.c_str(), nullptr, 0);
    if (need == 0) return false;
    std::wstring buf(need, L'\0');
    const DWORD got = ::ExpandEnvironmentStringsW(stored.c_str(), &buf[0], need);
    if (got == 0 || got > need) return false;
    out = buf.substr(0, buf.find(L'\0'));
    return true;
}

// The value may grow between the size query and the read (the shell rewrites
// Shell Folders): a read that finds the buffer too small starts again with the
// size it reports, a few times at most.
bool ReadValue(HKEY key, DWORD size, DWORD& type, std::vector<BYTE>& data, DWORD& got) {
    constexpr int kAttempts = 4;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        data.assign(size, 0);
        got = size;
        const LSTATUS status = ::RegQueryValueExW(key, L"Desktop", nullptr, &type, data.data(), &got);
        if (status == ERROR_SUCCESS) return true;
        if (status != ERROR_MORE_DATA || got <= size) return false;
        size = got;
    }
    return false;
}

}  // namespace

DesktopLookup ReadDesktopFolder() {
    ++g_lookups;
    HKEY raw = nullptr;
    // Query rights only: reading must never need the right to write.
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kShellFoldersKey, 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS)
        return {Status::KeyMissing, L""};
    win32::UniqueKey key(raw);
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key.get(), L"Desktop", nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        size == 0)
        return {Status::Missing, L""};
    if (type != REG_SZ && type != REG_EXPAND_SZ) return {Status::InvalidType, L""};
    std::vector<BYTE> data;
    DWORD got = 0;
    if (!ReadValue(key.get(), size, type, data, got)) return {Status::ReadFailed, L""};
    if (type != REG_SZ && type != REG_EXPAND_SZ) return {Status::InvalidType, L""};
    std::wstring text = StoredText(data, got);
    if (type == REG_EXPAND_SZ && !Expand(text, text)) return {Status::ReadFailed, L""};
    if (text.empty()) return {Status::Missing, L""};
    return {Status::Found, text};
}

unsigned long LookupCount() { return g_lookups; }

}  // namespace shellfolders
