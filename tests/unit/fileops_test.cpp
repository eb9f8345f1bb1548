// The file-operation contract, on real trees. The same sources run against
// the POSIX backend natively and against the Win32 backend under Wine; what a
// system cannot produce is skipped with the reason, never passed.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "platform/fileops.h"
#include "platform/process.h"
#include "tests/unit/contract_host.h"

namespace {

using namespace contract;
using fileops::CopyFileW;
using fileops::CreateDir;
using fileops::DeleteFile;
using fileops::DirectoryExists;
using fileops::FileExists;
using fileops::FlushFile;
using fileops::InUse;
using fileops::LastError;
using fileops::MakeWritable;
using fileops::Publish;

#define SKIP_UNLESS_DONE(reason)             \
    do {                                     \
        const std::string why = (reason);    \
        if (!why.empty()) GTEST_SKIP() << why; \
    } while (0)

class FileOps : public ::testing::Test {
protected:
    std::wstring P(const std::wstring& name) const { return dir_ / name; }
    Folder dir_;
};

TEST_F(FileOps, ExistenceTestsTellFilesFromFolders) {
    Write(P(L"file"), "x");
    MakeDir(P(L"folder"));
    EXPECT_TRUE(FileExists(P(L"file")));
    EXPECT_FALSE(FileExists(P(L"folder")));
    EXPECT_FALSE(FileExists(P(L"missing")));
    EXPECT_FALSE(FileExists(P(L"file/below")));
    EXPECT_FALSE(DirectoryExists(P(L"file")));
    EXPECT_TRUE(DirectoryExists(P(L"folder")));
    EXPECT_FALSE(DirectoryExists(P(L"missing/deeper")));
}

TEST_F(FileOps, ExistenceTestsFollowLinks) {
    Write(P(L"file"), "x");
    MakeDir(P(L"folder"));
    SKIP_UNLESS_DONE(MakeLink(P(L"file"), P(L"file-link"), false));
    SKIP_UNLESS_DONE(MakeLink(P(L"folder"), P(L"folder-link"), true));
    SKIP_UNLESS_DONE(MakeLink(P(L"gone"), P(L"dangling"), false));
    EXPECT_TRUE(FileExists(P(L"file-link")));
    EXPECT_FALSE(FileExists(P(L"folder-link")));
    EXPECT_FALSE(FileExists(P(L"dangling")));
    EXPECT_FALSE(DirectoryExists(P(L"file-link")));
    EXPECT_TRUE(DirectoryExists(P(L"folder-link")));
    EXPECT_FALSE(DirectoryExists(P(L"dangling")));
}

TEST_F(FileOps, AFileHeldOpenWithoutSharingExists) {
    Write(P(L"busy"), "in use");
    ExclusiveHold hold(P(L"busy"));
    ASSERT_TRUE(hold.held());
    EXPECT_TRUE(FileExists(P(L"busy")));
    EXPECT_FALSE(DirectoryExists(P(L"busy")));
}

// Access denied is not "not there": the folder is never created over it. A
// file there cannot be listed either, so it does not count as existing.
TEST_F(FileOps, AFolderThatCannotBeListedCountsAsExisting) {
    MakeDir(P(L"locked"));
    MakeDir(P(L"locked/inner"));
    Write(P(L"locked/file"), "x");
    std::string reason;
    const int seen = WithListingDenied(P(L"locked"), [](const std::wstring& locked) {
        return (DirectoryExists(Join(locked, L"inner")) ? 1 : 0) | (DirectoryExists(Join(locked, L"none")) ? 2 : 0) |
               (FileExists(Join(locked, L"file")) ? 4 : 0);
    }, reason);
    SKIP_UNLESS_DONE(reason);
    EXPECT_EQ(seen, 1 | 2);
}

TEST_F(FileOps, CreateDirMakesOneLevelOnly) {
    EXPECT_FALSE(CreateDir(P(L"a/b")));
    EXPECT_FALSE(Exists(P(L"a")));
    EXPECT_TRUE(CreateDir(P(L"a")));
    EXPECT_TRUE(CreateDir(P(L"a/b")));
    EXPECT_FALSE(CreateDir(P(L"a")));  // already there
    Write(P(L"f"), "x");
    EXPECT_FALSE(CreateDir(P(L"f")));
    EXPECT_FALSE(CreateDir(P(L"f/sub")));
}

TEST_F(FileOps, DeleteFileRemovesFilesButNeverAFolder) {
    Write(P(L"file"), "x");
    MakeDir(P(L"folder"));
    Write(P(L"folder/keep"), "k");
    EXPECT_TRUE(DeleteFile(P(L"file")));
    EXPECT_FALSE(Exists(P(L"file")));
    EXPECT_FALSE(DeleteFile(P(L"file")));
    EXPECT_FALSE(DeleteFile(P(L"folder")));
    EXPECT_EQ(Read(P(L"folder/keep")), "k");
    Write(P(L"ro"), "stays");
    MakeReadOnly(P(L"ro"));
    EXPECT_FALSE(DeleteFile(P(L"ro")));
    EXPECT_EQ(Read(P(L"ro")), "stays");
}

TEST_F(FileOps, DeleteFileRemovesAFolderLinkButNotWhatItNames) {
    MakeDir(P(L"folder"));
    Write(P(L"folder/keep"), "k");
    SKIP_UNLESS_DONE(MakeLink(P(L"folder"), P(L"folder-link"), true));
    EXPECT_TRUE(DeleteFile(P(L"folder-link")));
    EXPECT_FALSE(Exists(P(L"folder-link")));
    EXPECT_EQ(Read(P(L"folder/keep")), "k");
}

TEST_F(FileOps, CopyReplacesTheTarget) {
    std::string big(300000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    Write(P(L"src"), big);
    Write(P(L"dst"), "older and longer than nothing");
    ASSERT_TRUE(CopyFileW(P(L"src"), P(L"dst"), false));
    EXPECT_EQ(Read(P(L"dst")), big);
    Write(P(L"empty"), "");
    EXPECT_TRUE(CopyFileW(P(L"empty"), P(L"dst"), false));
    EXPECT_EQ(Read(P(L"dst")), "");
    EXPECT_FALSE(CopyFileW(P(L"src"), P(L"dst"), true));
    EXPECT_EQ(Read(P(L"dst")), "");
}

TEST_F(FileOps, CopyFailsWithoutHarm) {
    Write(P(L"src"), "new");
    Write(P(L"ro"), "old");
    MakeReadOnly(P(L"ro"));
    MakeDir(P(L"folder"));
    EXPECT_FALSE(CopyFileW(P(L"src"), P(L"ro"), false));  // read-only holds even for root
    EXPECT_EQ(Read(P(L"ro")), "old");
    EXPECT_FALSE(CopyFileW(P(L"missing"), P(L"t"), false));
    EXPECT_FALSE(Exists(P(L"t")));
    EXPECT_FALSE(CopyFileW(P(L"src"), P(L"nowhere/t"), false));
    EXPECT_FALSE(CopyFileW(P(L"src"), P(L"folder"), false));
    EXPECT_FALSE(CopyFileW(P(L"folder"), P(L"t"), false));
    EXPECT_FALSE(Exists(P(L"t")));
    EXPECT_FALSE(CopyFileW(P(L"src"), P(L"src"), false));  // onto itself: the source must survive
    EXPECT_EQ(Read(P(L"src")), "new");
}

TEST_F(FileOps, CopyOntoItselfThroughALinkKeepsTheSource) {
    Write(P(L"src"), "new");
    SKIP_UNLESS_DONE(MakeLink(P(L"src"), P(L"src-link"), false));
    EXPECT_FALSE(CopyFileW(P(L"src"), P(L"src-link"), false));
    EXPECT_EQ(Read(P(L"src")), "new");
}

// A replace gives the name the new file whole; a kept name that is there, a
// read-only file and a folder stay as they were, and so does the new file.
TEST_F(FileOps, PublishReplacesTheTargetOrLeavesBothFilesWhole) {
    const struct {
        const char* what;
        std::function<void(const std::wstring&)> arrange;
        bool replace, published;
    } cases[] = {
        {"a file replaced", [](const std::wstring& to) { Write(to, "old"); }, true, true},
        {"a free name for a kept file", [](const std::wstring&) {}, false, true},
        {"a kept file there", [](const std::wstring& to) { Write(to, "old"); }, false, false},
        {"a read-only file", [](const std::wstring& to) {
             Write(to, "old");
             MakeReadOnly(to);
         }, true, false},
        {"a folder", [](const std::wstring& to) { MakeDir(to); }, true, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::wstring from = P(L"new" + std::to_wstring(++n)), to = P(L"target" + std::to_wstring(n));
        Write(from, "new");
        c.arrange(to);
        const bool published = Publish(from, to, c.replace);
        const std::uint32_t error = LastError();
        EXPECT_EQ(published, c.published) << c.what;
        EXPECT_EQ(Read(to), published ? "new" : FileExists(to) ? "old" : "") << c.what;
        EXPECT_EQ(Exists(from), !published) << c.what;
        if (!published && c.replace) EXPECT_EQ(error, kAccessDeniedHere) << c.what;
    }
    EXPECT_FALSE(InUse(P(L"target4"))) << "a read-only file is refused for its attribute";
}

// Side by side: a hidden file is refused for its attribute and is not in
// use; a file another program holds is in use, and one it lets go of within
// a moment (a scanner's) is published.
TEST_F(FileOps, AHiddenTargetIsRefusedAndAHeldOneIsInUseUntilLetGo) {
    Write(P(L"new"), "new");
    Write(P(L"hidden"), "old");
    SKIP_UNLESS_DONE(MakeHidden(P(L"hidden")));
    EXPECT_FALSE(Publish(P(L"new"), P(L"hidden"), true));
    EXPECT_EQ(LastError(), kAccessDeniedHere);
    EXPECT_FALSE(InUse(P(L"hidden")));
    EXPECT_EQ(Read(P(L"hidden")), "old");
    Write(P(L"held"), "old");
    {
        ExclusiveHold hold(P(L"held"));
        ASSERT_TRUE(hold.held());
        if (Publish(P(L"new"), P(L"held"), true)) GTEST_SKIP() << "this system replaces a file another process holds";
        EXPECT_TRUE(InUse(P(L"held")));
    }
    EXPECT_EQ(Read(P(L"held")), "old");
    {
        ExclusiveHold moment(P(L"held"), 150);
        ASSERT_TRUE(moment.held());
        EXPECT_TRUE(Publish(P(L"new"), P(L"held"), true)) << "error " << LastError();
    }
    EXPECT_EQ(Read(P(L"held")), "new");
}

TEST_F(FileOps, MakeWritableAndFlushFileKeepTheData) {
    Write(P(L"ro"), "data");
    MakeReadOnly(P(L"ro"));
    EXPECT_TRUE(MakeWritable(P(L"ro")));
    EXPECT_TRUE(MakeWritable(P(L"ro")));
    EXPECT_TRUE(FlushFile(P(L"ro")));
    EXPECT_EQ(Read(P(L"ro")), "data");
    EXPECT_TRUE(DeleteFile(P(L"ro"))) << "still read-only";
    EXPECT_FALSE(MakeWritable(P(L"missing")));
    EXPECT_FALSE(FlushFile(P(L"missing")));
}

// A desktop deep enough that its names pass MAX_PATH: the copy, its
// preparation and its publishing all reach them.
TEST_F(FileOps, AFileIsCopiedAndPublishedPastMaxPath) {
    const std::wstring folder = P(std::wstring(120, L'a')), desktop = Join(folder, std::wstring(120, L'b'));
    MakeDir(folder);
    MakeDir(desktop);
    const std::wstring target = Join(desktop, L"Orvo Tool.lnk"), temporary = target + L".setup-new";
    ASSERT_GT(target.size(), 260u);
    Write(P(L"src"), "new");
    Write(target, "old");
    ASSERT_TRUE(CopyFileW(P(L"src"), temporary, true));
    EXPECT_TRUE(MakeWritable(temporary));
    EXPECT_TRUE(FlushFile(temporary));
    EXPECT_TRUE(Publish(temporary, target, true)) << "error " << LastError();
    EXPECT_EQ(Read(target), "new");
    EXPECT_FALSE(Exists(temporary));
}

// One run at a time: the lock is held until let go, taken from a holder that
// died without letting go, and refused with the system's reason when it
// cannot be had.
TEST(InstallationLock, IsTakenFromAHolderThatDiedAndRefusedWithTheSystemsReason) {
    LockPlace place;
    ASSERT_EQ(process::LockInstallation(), 0u);
    EXPECT_FALSE(place.FreeElsewhere());
    process::UnlockInstallation();
    EXPECT_TRUE(place.FreeElsewhere());
    SKIP_UNLESS_DONE(place.HolderDies());
    EXPECT_EQ(process::LockInstallation(), 0u);
    EXPECT_FALSE(place.FreeElsewhere()) << "an abandoned lock is taken, and held";
    process::UnlockInstallation();
    const std::uint32_t refused = place.Block();
    EXPECT_EQ(process::LockInstallation(), refused);
    place.Unblock();
    EXPECT_EQ(process::LockInstallation(), 0u);
    process::UnlockInstallation();
}

TEST_F(FileOps, RecordFileReportsEachStepsErrorCode) {
    fileops::RecordFile f;
    std::int32_t v = 0;
    f.Assign(P(L"missing"));
    EXPECT_EQ(f.Reset(), fileops::kErrorFileNotFound);
    f.Assign(P(L"nodir/file"));
    EXPECT_EQ(f.Reset(), fileops::kErrorPathNotFound);
    MakeDir(P(L"folder"));
    f.Assign(P(L"folder"));
    EXPECT_EQ(f.Reset(), fileops::kErrorAccessDenied);
    EXPECT_FALSE(f.IsOpen());

    Write(P(L"short"), "abc");
    f.Assign(P(L"short"));
    ASSERT_EQ(f.Reset(), 0u);
    EXPECT_EQ(f.Read(v), fileops::kErrorReadBeyondEnd);
    EXPECT_EQ(f.Close(), 0u);

    Write(P(L"two"), std::string("\x05\x00\x00\x00\xFE\xFF\xFF\xFF", 8));
    f.Assign(P(L"two"));
    ASSERT_EQ(f.Reset(), 0u);
    ASSERT_EQ(f.Read(v), 0u);
    EXPECT_EQ(v, 5);
    ASSERT_EQ(f.Read(v), 0u);
    EXPECT_EQ(v, -2);
    EXPECT_EQ(f.Close(), 0u);
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f.Close(), 0u);
}

}  // namespace
