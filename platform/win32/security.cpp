#include "platform/win32/security.h"

#include <sddl.h>

#include <vector>

namespace win32 {

UniqueSecurity SecurityFromSddl(const std::wstring& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr) ==
        FALSE)
        return {};
    return UniqueSecurity(descriptor);
}

bool Elevated() {
    HANDLE raw = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw) == FALSE) return false;
    const UniqueHandle token(raw);
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return ::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) != FALSE &&
           elevation.TokenIsElevated != 0;
}

RedirectionTrust EnforceRedirectionTrust() {
    if (!Elevated()) return RedirectionTrust::NotElevated;
    constexpr int kRedirectionTrustPolicy = 16;  // ProcessRedirectionTrustPolicy
    constexpr DWORD kEnforce = 0x1;              // EnforceRedirectionTrust
    using SetFn = BOOL(WINAPI*)(int, PVOID, SIZE_T);
    using GetFn = BOOL(WINAPI*)(HANDLE, int, PVOID, SIZE_T);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto set = reinterpret_cast<SetFn>(reinterpret_cast<void*>(::GetProcAddress(kernel, "SetProcessMitigationPolicy")));
    const auto get = reinterpret_cast<GetFn>(reinterpret_cast<void*>(::GetProcAddress(kernel, "GetProcessMitigationPolicy")));
    if (!set || !get) return RedirectionTrust::Unknown;
    DWORD flags = kEnforce;
    if (set(kRedirectionTrustPolicy, &flags, sizeof flags) == FALSE) return RedirectionTrust::Refused;
    flags = 0;
    if (get(::GetCurrentProcess(), kRedirectionTrustPolicy, &flags, sizeof flags) == FALSE)
        return RedirectionTrust::Unknown;
    return (flags & kEnforce) ? RedirectionTrust::Enforced : RedirectionTrust::Off;
}

namespace {

std::wstring NoSid(DWORD error) {
    ::SetLastError(error);
    return L"";
}

}  // namespace

// The last error stays the failed call's, for the caller to report.
std::wstring CurrentUserSid() {
    HANDLE raw = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw) == FALSE) return NoSid(::GetLastError());
    const UniqueHandle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return NoSid(::GetLastError());
    std::vector<unsigned char> buffer(size);
    if (::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size) == FALSE)
        return NoSid(::GetLastError());
    wchar_t* text = nullptr;
    if (::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text) == FALSE)
        return NoSid(::GetLastError());
    const UniqueLocalText owned(text);
    return text;
}

std::wstring ProgramFolderSddl(const std::wstring& userSid) {
    return L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + userSid +
           L")(A;OICI;FRFX;;;AU)(A;OICI;FRFX;;;BU)";
}

UniqueSecurity ProgramFolderSecurity() {
    const std::wstring user = CurrentUserSid();
    if (user.empty()) return {};
    return SecurityFromSddl(ProgramFolderSddl(user));
}

}  // namespace win32
