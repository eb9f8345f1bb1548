// The POSIX stand-in for the Shell Folders key: the freedesktop user-dirs file.
#include <gtest/gtest.h>

#include "platform/posix/paths.h"
#include "platform/shellfolders.h"
#include "tests/unit/test_support.h"

namespace {

using namespace testing_support;
using shellfolders::Status;

class UserDirs : public ::testing::Test {
protected:
    shellfolders::DesktopLookup Read(const std::string& content) {
        WriteFile(dir_ / "user-dirs.dirs", content);
        return shellfolders::ReadDesktopFolder();
    }
    TempDir dir_;
    ScopedEnv config_{"XDG_CONFIG_HOME", dir_.path()};
    ScopedEnv home_{"HOME", "/home/ola"};
};

TEST_F(UserDirs, ReadsTheQuotedDesktopEntryWithHomeExpanded) {
    auto r = Read("# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Doc\"\n  XDG_DESKTOP_DIR=\"$HOME/Pracovní plocha\"  \n");
    EXPECT_EQ(r.status, Status::Found);
    EXPECT_EQ(posixport::Utf8(r.value), "/home/ola/Pracovní plocha");
    EXPECT_EQ(Read("XDG_DESKTOP_DIR=\"/srv/desk\"\nXDG_DESKTOP_DIR=\"/srv/last\"\n").value, L"/srv/last");
    EXPECT_EQ(Read("XDG_DESKTOP_DIR=\"/a \\\"b\\\" \\\\c\"").value, L"/a \"b\" \\c");
    EXPECT_EQ(Read("XDG_DESKTOP_DIR=\"/x/$HOME\"\n").value, L"/x/$HOME");  // only a leading $HOME
}

TEST_F(UserDirs, TellsAMissingFileFromAMissingOrEmptyEntry) {
    EXPECT_EQ(Read("XDG_MUSIC_DIR=\"$HOME/Music\"\n").status, Status::Missing);
    EXPECT_EQ(Read("XDG_DESKTOP_DIR=\"\"\n").status, Status::Missing);
    EXPECT_EQ(Read("").status, Status::Missing);
    ScopedEnv elsewhere("XDG_CONFIG_HOME", dir_ / "none");
    EXPECT_EQ(shellfolders::ReadDesktopFolder().status, Status::KeyMissing);
}

TEST_F(UserDirs, AnEntryThatIsNotADoubleQuotedStringHasTheWrongType) {
    for (const char* bad : {"XDG_DESKTOP_DIR=$HOME/Desktop", "XDG_DESKTOP_DIR='/x'", "XDG_DESKTOP_DIR=\"/x",
                            "XDG_DESKTOP_DIR=\"a\"b\"", "XDG_DESKTOP_DIR=\"\\\"", "XDG_DESKTOP_DIR="})
        EXPECT_EQ(Read(bad).status, Status::InvalidType) << bad;
}

TEST_F(UserDirs, WithoutConfigHomeTheFileIsUnderHome) {
    TempDir home;
    WriteFile(home / ".config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/D\"\n");
    ScopedEnv noConfig("XDG_CONFIG_HOME", "");
    ScopedEnv realHome("HOME", home.path());
    EXPECT_EQ(posixport::Utf8(shellfolders::ReadDesktopFolder().value), home / "D");
}

}  // namespace
