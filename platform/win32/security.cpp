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
