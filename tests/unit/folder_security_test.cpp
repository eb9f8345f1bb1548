// The program folder's access list as Setup asks for it, read back with the
// documented calls. Wine keeps no explicit list on a folder (it reads one
// back made from the Unix mode), so what Setup asks for is checked here and
// what Windows keeps is the check kit's to see.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "platform/fileops.h"
#include "platform/win32/security.h"
#include "tests/unit/contract_host.h"

namespace {

std::vector<unsigned char> WellKnown(WELL_KNOWN_SID_TYPE type) {
    std::vector<unsigned char> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    EXPECT_TRUE(::CreateWellKnownSid(type, nullptr, sid.data(), &size));
    return sid;
}

std::vector<unsigned char> TokenUserSid() {
    HANDLE raw = nullptr;
    EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw));
    const win32::UniqueHandle token(raw);
    std::vector<unsigned char> buffer(256);
    DWORD size = 0;
    EXPECT_TRUE(::GetTokenInformation(token.get(), TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size));
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    const auto* bytes = static_cast<const unsigned char*>(sid);
    return std::vector<unsigned char>(bytes, bytes + ::GetLengthSid(sid));
}

TEST(ProgramFolderSecurity, IsProtectedAndLetsOnlySystemAdministratorsAndTheUserChangeIt) {
    const win32::UniqueSecurity security = win32::ProgramFolderSecurity();
    ASSERT_TRUE(security);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(security.get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "inherits from the drive's root";
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(security.get(), &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl);

    const DWORD readAndRun = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
    const struct {
        const char* who;
        std::vector<unsigned char> sid;
        DWORD mask;
    } expected[] = {
        {"SYSTEM", WellKnown(WinLocalSystemSid), FILE_ALL_ACCESS},
        {"Administrators", WellKnown(WinBuiltinAdministratorsSid), FILE_ALL_ACCESS},
        {"the installing user", TokenUserSid(), FILE_ALL_ACCESS},
        {"Authenticated Users", WellKnown(WinAuthenticatedUserSid), readAndRun},
        {"Users", WellKnown(WinBuiltinUsersSid), readAndRun},
    };
    ACL_SIZE_INFORMATION size = {};
    ASSERT_TRUE(::GetAclInformation(dacl, &size, sizeof size, AclSizeInformation));
    ASSERT_EQ(size.AceCount, std::size(expected));
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void* raw = nullptr;
        ASSERT_TRUE(::GetAce(dacl, i, &raw));
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << expected[i].who;
        EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE) << expected[i].who;
        EXPECT_EQ(ace->Mask, expected[i].mask) << expected[i].who;
        EXPECT_TRUE(::EqualSid(const_cast<DWORD*>(&ace->SidStart), const_cast<unsigned char*>(expected[i].sid.data())))
            << expected[i].who;
    }
}

TEST(ProgramFolderSecurity, TheFolderIsMadeOneLevelOnly) {
    contract::Folder dir;
    EXPECT_FALSE(fileops::CreateProgramDir(dir / L"a\\b"));
    EXPECT_TRUE(fileops::CreateProgramDir(dir / L"a"));
    EXPECT_TRUE(fileops::DirectoryExists(dir / L"a"));
    EXPECT_FALSE(fileops::CreateProgramDir(dir / L"a"));
}

}  // namespace
