#include "tools/setup_check/machine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/win32/handles.h"
#include "tools/boxdriver/boxdriver.h"
#include "tools/boxdriver/gdi.h"

namespace kit {
namespace {

const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

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

std::string Hex(const std::vector<BYTE>& data) {
    std::string out;
    char two[3];
    for (BYTE b : data) std::snprintf(two, sizeof two, "%02x", b), out += two;
    return out;
}

std::vector<BYTE> Unhex(const std::string& hex) {
    std::vector<BYTE> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<BYTE>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    return out;
}

// The value a scenario replaced, for the Ctrl+C handler's thread too.
SRWLOCK g_lock = SRWLOCK_INIT;
bool g_replaced = false;
RegValue g_original;
std::wstring g_saveFile;

class Locked {
public:
    Locked() { ::AcquireSRWLockExclusive(&g_lock); }
    ~Locked() { ::ReleaseSRWLockExclusive(&g_lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

// Written through to the disk before the value changes: it must outlive a kill.
bool SaveValue(const std::wstring& file, const RegValue& v) {
    const std::string text = "setup-check keeps the Desktop value here while a scenario has replaced it\r\nexists=" +
                             std::to_string(v.exists ? 1 : 0) + "\r\ntype=" + std::to_string(v.type) +
                             "\r\ndata=" + Hex(v.data) + "\r\n";
    win32::UniqueFile f(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
    DWORD written = 0;
    return f && ::WriteFile(f.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size() && ::FlushFileBuffers(f.get());
}

bool LoadValue(const std::wstring& file, RegValue& v) {
    std::string text;
    if (!ReadFile(file, text)) return false;
    auto field = [&text](const char* name) {
        const std::string key = std::string("\n") + name + "=";
        const auto at = text.find(key);
        if (at == std::string::npos) return std::string("?");
        const auto from = at + key.size();
        return text.substr(from, text.find_first_of("\r\n", from) - from);
    };
    const std::string exists = field("exists"), type = field("type"), data = field("data");
    if (exists == "?" || type == "?" || data == "?") return false;
    v.exists = exists == "1";
    v.type = static_cast<DWORD>(std::strtoul(type.c_str(), nullptr, 10));
    v.data = Unhex(data);
    return true;
}

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

const char* ArchitectureName(WORD arch) {
    switch (arch) {
    case PROCESSOR_ARCHITECTURE_INTEL: return "x86";
    case PROCESSOR_ARCHITECTURE_AMD64: return "x64";
    case 12: return "ARM64";  // PROCESSOR_ARCHITECTURE_ARM64
    default: return "other";
    }
}

std::string WindowsVersion() {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW v{};
    v.dwOSVersionInfoSize = sizeof v;
    // The true version: GetVersionEx answers what the manifest claims to support.
    if (auto get = Export<RtlGetVersionFn>(L"ntdll.dll", "RtlGetVersion")) get(&v);
    const win32::UniqueKey nt = OpenVersionKey();
    std::wstring name = RegText(nt, L"ProductName");
    const std::wstring display = RegText(nt, L"DisplayVersion");
    if (!display.empty()) name += L" " + display;
    return std::to_string(v.dwMajorVersion) + "." + std::to_string(v.dwMinorVersion) + ", build " +
           std::to_string(v.dwBuildNumber) + "." + std::to_string(RegNumber(nt, L"UBR")) +
           (name.empty() ? "" : " (" + Narrow(name) + ")");
}

std::string Architecture() {
    SYSTEM_INFO si{};
    ::GetNativeSystemInfo(&si);
    BOOL wow = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow);
    return std::string(ArchitectureName(si.wProcessorArchitecture)) + " system; this kit is " +
           (sizeof(void*) == 8 ? "64-bit" : "32-bit") + (wow ? ", running under WoW64" : ", not under WoW64");
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

std::wstring CurrentFolder() {
    wchar_t buf[32768];
    const DWORD n = ::GetCurrentDirectoryW(32768, buf);
    return std::wstring(buf, n < 32768 ? n : 0);
}

std::wstring ModuleFolder() {
    wchar_t buf[32768];
    const DWORD n = ::GetModuleFileNameW(nullptr, buf, 32768);
    std::wstring path(buf, n < 32768 ? n : 0);
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

bool RemoveTree(const std::wstring& path) {
    const DWORD attrs = AttributesOf(path);
    if (attrs == INVALID_FILE_ATTRIBUTES) return true;
    if (attrs & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesW(path.c_str(), attrs & ~FILE_ATTRIBUTE_READONLY);
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) return ::DeleteFileW(path.c_str()) || !Exists(path);
    if (!IsLinkFolder(attrs))
        ForEachEntry(path, [&](const std::wstring& name, DWORD) { RemoveTree(Join(path, name)); });
    return ::RemoveDirectoryW(path.c_str()) || !Exists(path);
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

RegValue ReadDesktopValue() {
    RegValue v;
    HKEY raw = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS) return v;
    win32::UniqueKey key(raw);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        if (::RegQueryValueExW(key.get(), L"Desktop", nullptr, &v.type, nullptr, &size) != ERROR_SUCCESS) return {};
        v.data.assign(size, 0);
        const LSTATUS rc = ::RegQueryValueExW(key.get(), L"Desktop", nullptr, &v.type, v.data.data(), &size);
        if (rc == ERROR_SUCCESS) {
            v.data.resize(size);
            v.exists = true;
            return v;
        }
        if (rc != ERROR_MORE_DATA) return {};
    }
    return {};
}

bool WriteDesktopValue(const RegValue& value) {
    HKEY raw = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, KEY_SET_VALUE, &raw) != ERROR_SUCCESS) return false;
    win32::UniqueKey key(raw);
    if (!value.exists) {
        const LSTATUS rc = ::RegDeleteValueW(key.get(), L"Desktop");
        return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
    }
    return ::RegSetValueExW(key.get(), L"Desktop", 0, value.type, value.data.empty() ? nullptr : value.data.data(),
                            static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

RegValue TextValue(DWORD type, const std::wstring& text) {
    RegValue v;
    v.exists = true;
    v.type = type;
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    v.data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    return v;
}

std::wstring FolderOf(const RegValue& value) {
    if (!value.exists || (value.type != REG_SZ && value.type != REG_EXPAND_SZ)) return L"";
    std::wstring text(value.data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) std::memcpy(&text[0], value.data.data(), text.size() * sizeof(wchar_t));
    text = text.substr(0, text.find(L'\0'));
    if (value.type != REG_EXPAND_SZ) return text;
    wchar_t buf[32768];
    const DWORD n = ::ExpandEnvironmentStringsW(text.c_str(), buf, 32768);
    return n > 0 && n <= 32768 ? std::wstring(buf) : L"";
}

std::wstring Describe(const RegValue& value) {
    if (!value.exists) return L"(no value)";
    const wchar_t* type = value.type == REG_SZ ? L"REG_SZ" : value.type == REG_EXPAND_SZ ? L"REG_EXPAND_SZ" : L"type ";
    std::wstring text(value.data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) std::memcpy(&text[0], value.data.data(), text.size() * sizeof(wchar_t));
    return std::wstring(type) + (value.type > REG_EXPAND_SZ ? std::to_wstring(value.type) : L"") + L" \"" +
           text.substr(0, text.find(L'\0')) + L"\"";
}

DesktopOverride::DesktopOverride(const std::wstring& saveFile, const RegValue& value) {
    Locked lock;
    const RegValue original = ReadDesktopValue();
    if (!SaveValue(saveFile, original)) {
        error_ = L"cannot save the Desktop value to " + saveFile + L" before changing it";
        return;
    }
    g_replaced = true;
    g_original = original;
    g_saveFile = saveFile;
    if (!WriteDesktopValue(value)) error_ = L"cannot set the Desktop value";
}

DesktopOverride::~DesktopOverride() { RestoreDesktopNow(); }

void RestoreDesktopNow() {
    Locked lock;
    if (!g_replaced) return;
    if (WriteDesktopValue(g_original) && ReadDesktopValue() == g_original) {
        ::DeleteFileW(g_saveFile.c_str());
        g_replaced = false;
    }
}

std::wstring RestoreFromSaveFile(const std::wstring& saveFile) {
    if (!Exists(saveFile)) return L"";
    RegValue saved;
    if (!LoadValue(saveFile, saved))
        return L"cannot read " + saveFile + L"; set the Desktop value by hand and delete that file";
    if (!WriteDesktopValue(saved) || !(ReadDesktopValue() == saved))
        return L"cannot restore the Desktop value from " + saveFile;
    ::DeleteFileW(saveFile.c_str());
    return L"restored the Desktop value an earlier, interrupted run had replaced: " + Describe(saved);
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
