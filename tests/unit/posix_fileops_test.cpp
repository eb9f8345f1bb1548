// The POSIX backend beyond the shared contract: modes, times and the mapping
// of Windows names onto this file system.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fileops.h"
#include "platform/posix/paths.h"
#include "tests/unit/test_support.h"

namespace {

using namespace testing_support;
using fileops::CopyFileW;

std::wstring W(const std::string& s) { return posixport::Wide(s); }

class PosixFileOps : public ::testing::Test {
protected:
    std::string P(const std::string& name) const { return dir_ / name; }
    std::wstring WP(const std::string& name) const { return W(P(name)); }
    TempDir dir_;
};

// What only a POSIX file system has: the copy keeps the source's time and mode.
TEST_F(PosixFileOps, CopyCarriesTimeAndMode) {
    WriteFile(P("src"), "content");
    ::chmod(P("src").c_str(), 0640);
    WriteFile(P("dst"), "older");
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ::utimensat(AT_FDCWD, P("src").c_str(), times, 0);
    ASSERT_TRUE(CopyFileW(WP("src"), WP("dst"), false));
    struct stat st;
    ASSERT_EQ(::stat(P("dst").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
}

TEST(PathMapping, DriveCIsTheWinePrefixAndBackslashesAreSeparators) {
    const char* old = std::getenv("WINEPREFIX");
    const std::string saved = old ? old : "";
    ::setenv("WINEPREFIX", "/p", 1);
    EXPECT_EQ(posixport::NativePath(L"C:\\Orvo_Tool Data\\DBZ\\Power.txt"), "/p/drive_c/Orvo_Tool Data/DBZ/Power.txt");
    EXPECT_EQ(posixport::NativePath(L"c:\\x"), "/p/drive_c/x");
    EXPECT_EQ(posixport::NativePath(L"D:\\x"), "/p/dosdevices/d:/x");
    EXPECT_EQ(posixport::NativePath(L"Data\\Q KV seznam.pdf"), "Data/Q KV seznam.pdf");
    EXPECT_EQ(posixport::NativePath(L"/home/u/Desktop\\Orvo Tool.lnk"), "/home/u/Desktop/Orvo Tool.lnk");
    EXPECT_EQ(posixport::NativePath(L"Установка"), "Установка");
    if (old)
        ::setenv("WINEPREFIX", saved.c_str(), 1);
    else
        ::unsetenv("WINEPREFIX");
}

TEST(PathMapping, Utf8RoundTripsAndRejectsBrokenSequences) {
    for (const std::wstring s : {L"", L"plain", L"dokončena", L"Обновление", L"\U0001F600"})
        EXPECT_EQ(posixport::Wide(posixport::Utf8(s)), s);
    EXPECT_EQ(posixport::Wide("a\x80z"), L"a\uFFFDz");
    EXPECT_EQ(posixport::Wide("\xC3"), L"\uFFFD");
}

}  // namespace
