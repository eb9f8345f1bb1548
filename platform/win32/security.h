// Security descriptors this program creates objects with, from SDDL.
#pragma once

#include <string>

#include "platform/win32/handles.h"

namespace win32 {

// The descriptor an SDDL string describes; empty when it cannot be made.
UniqueSecurity SecurityFromSddl(const std::wstring& sddl);
// The running process's user, as an SDDL SID string; "" when unreadable,
// with the failed call's last error.
std::wstring CurrentUserSid();
// The program folder's: protected from what the folder above passes down;
// full control for SYSTEM, Administrators and the installing user, read and
// execute for Authenticated Users and Users; each for the folder, its
// subfolders and its files.
std::wstring ProgramFolderSddl(const std::wstring& userSid);
UniqueSecurity ProgramFolderSecurity();

// Whether this process runs with an administrator's full token.
bool Elevated();

enum class RedirectionTrust {
    NotElevated,  // not asked for: the user's own junctions are followed as before
    Unknown,      // this system has no such policy (before Windows 8)
    Refused,      // asked for, refused
    Off,          // asked for, and read back off
    Enforced,     // read back on: junctions made by non-administrators are not followed
};
// When elevated, switches on the redirection trust policy, and reads it back.
// Looked up at run time: Windows 7 has neither call.
RedirectionTrust EnforceRedirectionTrust();

}  // namespace win32
