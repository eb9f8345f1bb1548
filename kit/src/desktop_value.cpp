// The Desktop value: its save under the kit's key, its replacement and its restore.
#include "kit/src/machine.h"

#include "platform/win32/handles.h"
#include "platform/win32/shell_folders_key.h"

namespace kit {
namespace {

const wchar_t kRunOnce[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

// Save and restore run on the main thread and on the console's handler thread.
SRWLOCK g_lock = SRWLOCK_INIT;
Restored g_last;  // the last restore that found a save, until taken

class Locked {
public:
    Locked() { ::AcquireSRWLockExclusive(&g_lock); }
    ~Locked() { ::ReleaseSRWLockExclusive(&g_lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

const wchar_t* KeyOf(Place place) {
    switch (place) {
    case Place::kShellFolders: return kShellFoldersKey;
    case Place::kKitKey: return kKitKeyName;
    case Place::kRunOnce: return kRunOnce;
    }
    return L"";
}

win32::UniqueKey OpenKey(Place place, REGSAM access) {
    HKEY raw = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, KeyOf(place), 0, access, &raw) != ERROR_SUCCESS) raw = nullptr;
    return win32::UniqueKey(raw);
}

// HKCU as the save needs it. Only the kit's key and RunOnce are made when
// missing; Shell Folders is only ever opened.
class UserRegistry : public Registry {
public:
    RegValue Read(Place place, const std::wstring& name) override {
        const win32::UniqueKey key = OpenKey(place, KEY_QUERY_VALUE);
        RegValue v;
        for (int attempt = 0; key && attempt < 4; ++attempt) {
            DWORD type = REG_NONE, size = 0;
            if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
            v.data.assign(size, 0);
            const LSTATUS rc = ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, v.data.data(), &size);
            if (rc == ERROR_SUCCESS) {
                v.data.resize(size);
                v.type = type;
                v.exists = true;
                return v;
            }
            if (rc != ERROR_MORE_DATA) return {};
        }
        return {};
    }

    bool Write(Place place, const std::wstring& name, const RegValue& value) override {
        if (!value.exists) {
            const win32::UniqueKey key = OpenKey(place, KEY_SET_VALUE);
            if (!key) return !Exists(place);
            const LSTATUS rc = ::RegDeleteValueW(key.get(), name.c_str());
            return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
        }
        HKEY raw = nullptr;
        const LSTATUS opened =
            place == Place::kShellFolders
                ? ::RegOpenKeyExW(HKEY_CURRENT_USER, KeyOf(place), 0, KEY_SET_VALUE, &raw)
                : ::RegCreateKeyExW(HKEY_CURRENT_USER, KeyOf(place), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw, nullptr);
        if (opened != ERROR_SUCCESS) return false;
        const win32::UniqueKey key(raw);
        return ::RegSetValueExW(key.get(), name.c_str(), 0, value.type, value.data.empty() ? nullptr : value.data.data(),
                                static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
    }

    bool Flush(Place place) override {
        const win32::UniqueKey key = OpenKey(place, KEY_QUERY_VALUE);
        return key && ::RegFlushKey(key.get()) == ERROR_SUCCESS;
    }

    bool KeyExists(Place place) override { return Exists(place); }

    void RemoveKeyIfEmpty(Place place) override {
        const win32::UniqueKey key = OpenKey(place, KEY_QUERY_VALUE);
        DWORD subkeys = 1, values = 1;
        if (key && ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                      nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
            subkeys == 0 && values == 0)
            ::RegDeleteKeyW(HKEY_CURRENT_USER, KeyOf(place));
    }

private:
    static bool Exists(Place place) {
        HKEY raw = nullptr;
        const LSTATUS rc = ::RegOpenKeyExW(HKEY_CURRENT_USER, KeyOf(place), 0, KEY_QUERY_VALUE, &raw);
        win32::UniqueKey key(rc == ERROR_SUCCESS ? raw : nullptr);
        return rc != ERROR_FILE_NOT_FOUND;
    }
};

}  // namespace

RegValue ReadDesktopValue() { return UserRegistry().Read(Place::kShellFolders, L"Desktop"); }

std::wstring FolderOf(const RegValue& value) {
    if (!value.exists || (value.type != REG_SZ && value.type != REG_EXPAND_SZ)) return L"";
    const std::wstring text = TextOf(value);
    if (value.type != REG_EXPAND_SZ) return text;
    wchar_t buf[32768];
    const DWORD n = ::ExpandEnvironmentStringsW(text.c_str(), buf, 32768);
    return n > 0 && n <= 32768 ? std::wstring(buf) : L"";
}

DesktopOverride::DesktopOverride(const RegValue& value) {
    UserRegistry registry;
    Locked lock;
    error_ = SaveAndReplace(registry, value, L"\"" + ModulePath() + L"\" --restore-desktop");
}

DesktopOverride::~DesktopOverride() { RestoreDesktopNow(); }

Restored RestoreDesktopNow() {
    UserRegistry registry;
    Locked lock;
    const Restored r = RestoreSaved(registry);
    if (r.what != Restored::kNothingSaved) g_last = r;
    return r;
}

Restored TakeLastRestore() {
    Locked lock;
    Restored r = g_last;
    g_last = Restored{};
    return r;
}

}  // namespace kit
