// The file-operation contract, run against the POSIX backend on real trees.
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
using fileops::CreateDir;
using fileops::DeleteFile;
using fileops::DirectoryExists;
using fileops::FileExists;

std::wstring W(const std::string& s) { return posixport::Wide(s); }

class FileOps : public ::testing::Test {
protected:
    std::string P(const std::string& name) const { return dir_ / name; }
    std::wstring WP(const std::string& name) const { return W(P(name)); }
    TempDir dir_;
};

TEST_F(FileOps, ExistenceTestsTellFilesFromFoldersThroughLinks) {
    WriteFile(P("file"), "x");
    MakeDirs(P("folder"));
    ASSERT_EQ(::symlink(P("file").c_str(), P("file-link").c_str()), 0);
    ASSERT_EQ(::symlink(P("folder").c_str(), P("folder-link").c_str()), 0);
    ASSERT_EQ(::symlink(P("gone").c_str(), P("dangling").c_str()), 0);

    EXPECT_TRUE(FileExists(WP("file")));
    EXPECT_FALSE(FileExists(WP("folder")));
    EXPECT_TRUE(FileExists(WP("file-link")));
    EXPECT_FALSE(FileExists(WP("folder-link")));
    EXPECT_FALSE(FileExists(WP("dangling")));
    EXPECT_FALSE(FileExists(WP("missing")));
    EXPECT_FALSE(FileExists(WP("file/below")));

    EXPECT_FALSE(DirectoryExists(WP("file")));
    EXPECT_TRUE(DirectoryExists(WP("folder")));
    EXPECT_FALSE(DirectoryExists(WP("file-link")));
    EXPECT_TRUE(DirectoryExists(WP("folder-link")));
    EXPECT_FALSE(DirectoryExists(WP("dangling")));
    EXPECT_FALSE(DirectoryExists(WP("missing/deeper")));
}

TEST_F(FileOps, AFolderThatCannotBeSearchedCountsAsExisting) {
    MakeDirs(P("locked/inner"));
    WriteFile(P("locked/file"), "x");
    ::chmod(P("locked").c_str(), 0700);
    const int seen = RunUnprivileged([&] {
        return (DirectoryExists(WP("locked/inner")) ? 1 : 0) | (DirectoryExists(WP("locked/none")) ? 2 : 0) |
               (FileExists(WP("locked/file")) ? 4 : 0);
    });
    // Access denied is not "not there": the folder is never created over it.
    // The file cannot be listed either, so it does not count as existing.
    EXPECT_EQ(seen, 1 | 2);
}

TEST_F(FileOps, CreateDirMakesOneLevelOnly) {
    EXPECT_FALSE(CreateDir(WP("a/b")));
    EXPECT_FALSE(Exists(P("a")));
    EXPECT_TRUE(CreateDir(WP("a")));
    EXPECT_TRUE(CreateDir(WP("a/b")));
    EXPECT_FALSE(CreateDir(WP("a")));  // already there
    WriteFile(P("f"), "x");
    EXPECT_FALSE(CreateDir(WP("f")));
    EXPECT_FALSE(CreateDir(WP("f/sub")));
}

TEST_F(FileOps, DeleteFileRemovesFilesAndLinksButNeverAFolder) {
    WriteFile(P("file"), "x");
    MakeDirs(P("folder"));
    WriteFile(P("folder/keep"), "k");
    ASSERT_EQ(::symlink(P("folder").c_str(), P("folder-link").c_str()), 0);

    EXPECT_TRUE(DeleteFile(WP("file")));
    EXPECT_FALSE(Exists(P("file")));
    EXPECT_FALSE(DeleteFile(WP("file")));
    EXPECT_FALSE(DeleteFile(WP("folder")));
    EXPECT_TRUE(Exists(P("folder/keep")));
    EXPECT_TRUE(DeleteFile(WP("folder-link")));
    EXPECT_FALSE(Exists(P("folder-link")));
    EXPECT_EQ(ReadFile(P("folder/keep")), "k");
}

TEST_F(FileOps, CopyReplacesTheTargetAndCarriesContentTimeAndMode) {
    std::string big(300000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    WriteFile(P("src"), big);
    ::chmod(P("src").c_str(), 0640);
    WriteFile(P("dst"), "older and longer than nothing");
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ::utimensat(AT_FDCWD, P("src").c_str(), times, 0);

    ASSERT_TRUE(CopyFileW(WP("src"), WP("dst"), false));
    EXPECT_EQ(ReadFile(P("dst")), big);
    struct stat st;
    ASSERT_EQ(::stat(P("dst").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);

    WriteFile(P("empty"), "");
    EXPECT_TRUE(CopyFileW(WP("empty"), WP("dst"), false));
    EXPECT_EQ(ReadFile(P("dst")), "");
    EXPECT_FALSE(CopyFileW(WP("src"), WP("dst"), true));
    EXPECT_EQ(ReadFile(P("dst")), "");
}

TEST_F(FileOps, CopyFailsWithoutHarm) {
    WriteFile(P("src"), "new");
    WriteFile(P("ro"), "old");
    ::chmod(P("ro").c_str(), 0444);
    MakeDirs(P("folder"));

    EXPECT_FALSE(CopyFileW(WP("src"), WP("ro"), false));  // read-only holds even for root
    EXPECT_EQ(ReadFile(P("ro")), "old");
    EXPECT_FALSE(CopyFileW(WP("missing"), WP("t"), false));
    EXPECT_FALSE(Exists(P("t")));
    EXPECT_FALSE(CopyFileW(WP("src"), WP("nowhere/t"), false));
    EXPECT_FALSE(CopyFileW(WP("src"), WP("folder"), false));
    EXPECT_FALSE(CopyFileW(WP("folder"), WP("t"), false));
    EXPECT_FALSE(Exists(P("t")));
    // Onto itself, directly or through a link: the source must survive.
    ASSERT_EQ(::symlink(P("src").c_str(), P("src-link").c_str()), 0);
    EXPECT_FALSE(CopyFileW(WP("src"), WP("src"), false));
    EXPECT_FALSE(CopyFileW(WP("src"), WP("src-link"), false));
    EXPECT_EQ(ReadFile(P("src")), "new");
}

TEST_F(FileOps, RecordFileReportsEachStepsErrorCode) {
    fileops::RecordFile f;
    std::int32_t v = 0;
    f.Assign(WP("missing"));
    EXPECT_EQ(f.Reset(), fileops::kErrorFileNotFound);
    f.Assign(WP("nodir/file"));
    EXPECT_EQ(f.Reset(), fileops::kErrorPathNotFound);
    MakeDirs(P("folder"));
    f.Assign(WP("folder"));
    EXPECT_EQ(f.Reset(), fileops::kErrorAccessDenied);
    EXPECT_FALSE(f.IsOpen());

    WriteFile(P("short"), "abc");
    f.Assign(WP("short"));
    ASSERT_EQ(f.Reset(), 0u);
    EXPECT_EQ(f.Read(v), fileops::kErrorReadBeyondEnd);
    EXPECT_EQ(f.Close(), 0u);

    WriteFile(P("two"), std::string("\x05\x00\x00\x00\xFE\xFF\xFF\xFF", 8));
    f.Assign(WP("two"));
    ASSERT_EQ(f.Reset(), 0u);
    ASSERT_EQ(f.Read(v), 0u);
    EXPECT_EQ(v, 5);
    ASSERT_EQ(f.Read(v), 0u);
    EXPECT_EQ(v, -2);
    EXPECT_EQ(f.Close(), 0u);
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f.Close(), 0u);
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
