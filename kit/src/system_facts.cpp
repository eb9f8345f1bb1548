// The report's facts about the system and the user, and the one-kit guard.
#include "kit/src/machine.h"

#include <cstdio>

#include "platform/win32/handles.h"
#include "platform/win32/security.h"
#include "lab/boxdriver/gdi.h"
#include "kit/src/facts.h"
#include "kit/src/reading.h"

namespace kit {
namespace {

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

// Asked for in this process as Setup asks for it; both then keep it.
std::string RedirectionTrust() {
    switch (win32::EnforceRedirectionTrust()) {
    case win32::RedirectionTrust::NotElevated: return "not asked for (not elevated): Setup follows this user's own junctions";
    case win32::RedirectionTrust::Unknown: return "unknown: this system has no such policy or would not read it back";
    case win32::RedirectionTrust::Refused: return "asked for and refused";
    case win32::RedirectionTrust::Off: return "asked for and read back off: junctions of any account are followed";
    case win32::RedirectionTrust::Enforced: return "enforced (read back): junctions made by non-administrators are not followed";
    }
    return "";
}

std::vector<std::string> SystemFacts(const std::wstring& desktop) {
    using WineVersionFn = const char*(CDECL*)();
    std::vector<std::string> facts{"Windows: " + WindowsVersion()};
    if (auto wine = Export<WineVersionFn>(L"ntdll.dll", "wine_get_version"))
        facts.push_back(std::string("Wine: ") + wine() + " (not Windows: the version above is what Wine reports)");
    facts.push_back("Architecture: " + Architecture());
    facts.push_back("User: " + UserName() + "; " + (Elevated() ? "elevated" : "not elevated") + "; integrity level " +
                    IntegrityLevel());
    facts.push_back("Redirection trust: " + RedirectionTrust());
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
