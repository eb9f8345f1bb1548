#include "tools/setup_check/machine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/win32/handles.h"
#include "platform/win32/shell_folders_key.h"
#include "tools/boxdriver/boxdriver.h"
#include "tools/boxdriver/gdi.h"
#include "tools/setup_check/facts.h"

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

template <typename Fn>
Fn Export(const wchar_t* module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(module), name)));
}

// Read through the 64-bit view: a 32-bit kit would otherwise read WoW64's copy.
win32::UniqueKey OpenVersionKey() {
    HKEY raw = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                        KEY_QUERY_VALUE | KEY_WOW64_64KEY, &raw) != ERROR_SUCCESS)
        raw = nullptr;
    return win32::UniqueKey(raw);
}

std::wstring RegText(const win32::UniqueKey& key, const wchar_t* name) {
    wchar_t buf[256];
    DWORD size = sizeof buf;
    if (!key || ::RegGetValueW(key.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, buf, &size) != ERROR_SUCCESS)
        return L"";
    return buf;
}

DWORD RegNumber(const win32::UniqueKey& key, const wchar_t* name) {
    DWORD value = 0, size = sizeof value;
    if (!key || ::RegGetValueW(key.get(), nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return 0;
    return value;
}

std::string Narrow(const std::wstring& s) { return boxdriver::Utf8(s); }

unsigned MachineOf(WORD processorArchitecture) {
    switch (processorArchitecture) {
    case PROCESSOR_ARCHITECTURE_INTEL: return kMachineX86;
    case PROCESSOR_ARCHITECTURE_AMD64: return kMachineX64;
    case 12: return kMachineArm64;  // PROCESSOR_ARCHITECTURE_ARM64
    default: return kMachineUnknown;
    }
}

std::string WindowsVersion() {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW v{};
    v.dwOSVersionInfoSize = sizeof v;
    // The true version: GetVersionEx answers what the manifest claims to support.
    if (auto get = Export<RtlGetVersionFn>(L"ntdll.dll", "RtlGetVersion")) get(&v);
    const win32::UniqueKey nt = OpenVersionKey();
    std::string name = WindowsName(Narrow(RegText(nt, L"ProductName")), v.dwBuildNumber);
    const std::wstring display = RegText(nt, L"DisplayVersion");
    if (!display.empty()) name += " " + Narrow(display);
    return std::to_string(v.dwMajorVersion) + "." + std::to_string(v.dwMinorVersion) + ", build " +
           std::to_string(v.dwBuildNumber) + "." + std::to_string(RegNumber(nt, L"UBR")) + " (" + name + ")";
}

// IsWow64Process2 (Windows 10 1511 and later) names the machine even where
// the kit is emulated; GetNativeSystemInfo answers an x86 program on ARM64
// with x86, and IsWow64Process cannot say what it runs on.
std::string Architecture() {
    using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    USHORT process = 0, native = 0;
    if (auto is2 = Export<IsWow64Process2Fn>(L"kernel32.dll", "IsWow64Process2"))
        if (is2(::GetCurrentProcess(), &process, &native) != FALSE)
            return ArchitectureText(process, native, sizeof(void*) == 8);
    SYSTEM_INFO si{};
    ::GetNativeSystemInfo(&si);
    BOOL wow = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow);
    return ArchitectureText(wow ? kMachineX86 : kMachineUnknown, MachineOf(si.wProcessorArchitecture),
                            sizeof(void*) == 8);
}

std::string UiLanguage() {
    const LANGID id = ::GetUserDefaultUILanguage();
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = L"";
    ::LCIDToLocaleName(MAKELCID(id, SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%04x", id);
    return Narrow(name) + " (" + hex + ")";
}

std::string Dpi() {
    using GetDpiForSystemFn = UINT(WINAPI*)();
    const boxdriver::ScreenDc screen;
    const int logical = ::GetDeviceCaps(screen.get(), LOGPIXELSY);
    const auto forSystem = Export<GetDpiForSystemFn>(L"user32.dll", "GetDpiForSystem");
    return "system " + std::to_string(forSystem ? forSystem() : static_cast<UINT>(logical)) + " (" +
           std::to_string(logical * 100 / 96) + " %)";
}

win32::UniqueHandle OwnToken() {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) raw = nullptr;
    return win32::UniqueHandle(raw);
}

template <typename T>
std::vector<BYTE> TokenInfo(TOKEN_INFORMATION_CLASS what) {
    const win32::UniqueHandle token = OwnToken();
    DWORD size = 0;
    if (!token) return {};
    ::GetTokenInformation(token.get(), what, nullptr, 0, &size);
    std::vector<BYTE> info(size < sizeof(T) ? sizeof(T) : size);
    if (!::GetTokenInformation(token.get(), what, info.data(), static_cast<DWORD>(info.size()), &size)) return {};
    return info;
}

std::string UserName() {
    const auto info = TokenInfo<TOKEN_USER>(TokenUser);
    if (info.empty()) return "unknown (error " + std::to_string(::GetLastError()) + ")";
    wchar_t name[256] = L"", domain[256] = L"";
    DWORD nameSize = 256, domainSize = 256;
    SID_NAME_USE use;
    if (!::LookupAccountSidW(nullptr, reinterpret_cast<const TOKEN_USER*>(info.data())->User.Sid, name, &nameSize,
                             domain, &domainSize, &use))
        return "unknown (error " + std::to_string(::GetLastError()) + ")";
    return Narrow(std::wstring(domain) + L"\\" + name);
}

std::string IntegrityLevel() {
    const auto info = TokenInfo<TOKEN_MANDATORY_LABEL>(TokenIntegrityLevel);
    if (info.empty()) return "unknown";
    PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(info.data())->Label.Sid;
    const DWORD rid = *::GetSidSubAuthority(sid, *::GetSidSubAuthorityCount(sid) - 1);
    const char* name = rid >= SECURITY_MANDATORY_SYSTEM_RID       ? "system"
                       : rid >= SECURITY_MANDATORY_HIGH_RID        ? "high"
                       : rid >= SECURITY_MANDATORY_MEDIUM_RID + 0x100 ? "medium plus"
                       : rid >= SECURITY_MANDATORY_MEDIUM_RID      ? "medium"
                       : rid >= SECURITY_MANDATORY_LOW_RID         ? "low"
                                                                   : "untrusted";
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%04lx", static_cast<unsigned long>(rid));
    return std::string(name) + " (" + hex + ")";
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

OneKitAtATime::OneKitAtATime() {
    // In the Global namespace, which any user may create in: one kit per
    // machine, whoever runs it. A mutex another user made refuses us access.
    mutex_.reset(::CreateMutexW(nullptr, FALSE, L"Global\\setup-check"));
    alone_ = mutex_ && ::GetLastError() != ERROR_ALREADY_EXISTS;
}

bool Elevated() {
    const auto info = TokenInfo<TOKEN_ELEVATION>(TokenElevation);
    return !info.empty() && reinterpret_cast<const TOKEN_ELEVATION*>(info.data())->TokenIsElevated != 0;
}

bool UnderWine() { return Export<void*>(L"ntdll.dll", "wine_get_version") != nullptr; }

std::wstring FileSystemOf(const std::wstring& path, bool* namedStreams) {
    wchar_t volume[MAX_PATH + 1] = L"", fs[MAX_PATH + 1] = L"";
    DWORD flags = 0;
    if (!::GetVolumePathNameW(path.c_str(), volume, MAX_PATH + 1) ||
        !::GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, &flags, fs, MAX_PATH + 1))
        return L"unknown (error " + std::to_wstring(::GetLastError()) + L")";
    if (namedStreams) *namedStreams = (flags & FILE_NAMED_STREAMS) != 0;
    return std::wstring(fs) + L" on " + volume + ((flags & FILE_NAMED_STREAMS) ? L", named streams" : L", no named streams");
}

std::vector<std::string> SystemFacts(const std::wstring& desktop) {
    using WineVersionFn = const char*(CDECL*)();
    std::vector<std::string> facts{"Windows: " + WindowsVersion()};
    if (auto wine = Export<WineVersionFn>(L"ntdll.dll", "wine_get_version"))
        facts.push_back(std::string("Wine: ") + wine() + " (not Windows: the version above is what Wine reports)");
    facts.push_back("Architecture: " + Architecture());
    facts.push_back("User: " + UserName() + "; " + (Elevated() ? "elevated" : "not elevated") + "; integrity level " +
                    IntegrityLevel());
    facts.push_back("User interface language: " + UiLanguage());
    facts.push_back("DPI: " + Dpi());
    facts.push_back("File system of C:: " + Narrow(FileSystemOf(L"C:\\")));
    facts.push_back("Desktop: " + Narrow(desktop) + ", file system " + Narrow(FileSystemOf(desktop)));
    return facts;
}

std::wstring SystemErrorText(DWORD code, const std::vector<LANGID>& languages) {
    constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
    for (const LANGID language : languages) {
        wchar_t* buffer = nullptr;
        const DWORD n = ::FormatMessageW(kFlags, nullptr, code, language, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
        if (n == 0) continue;
        std::wstring text(buffer, n);
        ::LocalFree(buffer);
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
        return text;
    }
    return L"Error " + std::to_wstring(code);
}

}  // namespace kit
