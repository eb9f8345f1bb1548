// The POSIX backend beyond the shared contract: modes, times and the mapping
// of Windows names onto this file system.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "app/PlanRunner.h"
#include "platform/fileops.h"
#include "platform/posix/copy_bytes.h"
#include "platform/posix/paths.h"
#include "tests/unit/test_support.h"

namespace {

using namespace testing_support;
using fileops::CopyFileW;

std::wstring W(const std::string& s) { return posixport::Wide(s); }

struct NoSequence final : SequenceSteps {
    void ReadLanguage() override {}
    void DetectOutcome() override {}
    void ClickRegister() override {}
    void ReportIncomplete(const FailureReport&) override {}
    void ReportNoLock(std::uint32_t) override {}
    void ShowCompletion() override {}
    void Terminate() override {}
    std::wstring DesktopPath(const std::wstring& name) override { return name; }
    int Language() const override { return 0; }
};

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

// A run killed at a known byte of the copy (the file size limit's signal):
// the file it replaces is whole, and the rerun publishes the new one.
TEST_F(PosixFileOps, AKilledCopyLeavesTheOldFileAndTheRerunReplacesIt) {
    NoSequence sequence;
    const std::string big(1 << 20, 'n');
    WriteFile(P("new"), big);
    WriteFile(P("program"), "the previous program");
    const std::wstring source = WP("new"), target = WP("program");
    const Plan plan = {{Op::Copy, source.c_str(), target.c_str()}};
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        const struct rlimit limit = {65536, 65536};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        PlanRunner().Run(plan, sequence);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "status " << status;
    EXPECT_EQ(ReadFile(P("program")), "the previous program");
    EXPECT_EQ(ReadFile(P("program.setup-new")).size(), 65536u);
    PlanRunner rerun;
    rerun.Run(plan, sequence);
    EXPECT_EQ(rerun.Report().failures, 0);
    EXPECT_EQ(ReadFile(P("program")), big);
    EXPECT_FALSE(Exists(P("program.setup-new")));
}

// A source that ends before its size (sysfs reports a page for a few bytes,
// as a file rewritten during the copy ends early) is a failed copy, the
// source's: never a shortened file reported as done.
TEST_F(PosixFileOps, ASourceThatEndsBeforeItsSizeFailsTheCopy) {
    const std::string source = "/sys/devices/system/cpu/online";
    struct stat st;
    if (::stat(source.c_str(), &st) != 0 || st.st_size <= static_cast<off_t>(ReadFile(source).size()))
        GTEST_SKIP() << source << " is not here or is not shorter than its size";
    EXPECT_FALSE(CopyFileW(W(source), WP("dst"), false));
    EXPECT_TRUE(fileops::IsReadFault(fileops::LastError()));
}

// A symbolic link where a folder of the trees belongs is refused, and so is
// every folder below it: nothing is made, written or deleted where it leads.
TEST_F(PosixFileOps, ASymlinkedFolderOfTheTreesIsRefused) {
    const char* old = std::getenv("WINEPREFIX");
    const std::string saved = old ? old : "";
    const std::wstring source = WP("src");
    WriteFile(P("src"), "new");
    const Plan plan = {{Op::EnsureFolder, nullptr, L"C:\\T"},
                       {Op::EnsureFolder, nullptr, L"C:\\T\\Sub"},
                       {Op::Copy, source.c_str(), L"C:\\T\\Sub\\a.txt"},
                       {Op::Remove, nullptr, L"C:\\T\\Sub\\old.txt"}};
    const auto names = [](const std::string& folder) {
        std::set<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) found.insert(entry.path().filename());
        return found;
    };
    for (const std::string link : {"T/Sub", "T"}) {
        const std::string prefix = P("prefix " + std::to_string(link.size())), outside = prefix + " outside";
        MakeDirs(prefix + "/drive_c/T");
        MakeDirs(outside);
        WriteFile(outside + "/old.txt", "theirs");
        WriteFile(outside + "/a.txt.setup-new", "theirs too");
        ::rmdir((prefix + "/drive_c/" + link).c_str());
        ASSERT_EQ(::symlink(outside.c_str(), (prefix + "/drive_c/" + link).c_str()), 0);
        ::setenv("WINEPREFIX", prefix.c_str(), 1);
        PlanRunner runner;
        NoSequence sequence;
        runner.Install(plan, sequence);
        EXPECT_EQ(runner.Report().failures, 2) << link;
        EXPECT_EQ(runner.Report().firstError, static_cast<std::uint32_t>(ELOOP)) << link;
        EXPECT_EQ(names(outside), (std::set<std::string>{"a.txt.setup-new", "old.txt"})) << link;
        EXPECT_EQ(ReadFile(outside + "/old.txt") + ReadFile(outside + "/a.txt.setup-new"), "theirstheirs too") << link;
    }
    // Held, then renamed away and a link put in its place: the names are
    // still reached in the folder that was held.
    const std::string prefix = P("prefix swapped"), outside = prefix + " outside", sub = prefix + "/drive_c/T/Sub";
    MakeDirs(sub);
    MakeDirs(outside);
    ::setenv("WINEPREFIX", prefix.c_str(), 1);
    PlanRunner runner;
    NoSequence sequence;
    runner.Run({plan.begin(), plan.begin() + 2}, sequence);
    ASSERT_EQ(::rename(sub.c_str(), (sub + " held").c_str()), 0);
    ASSERT_EQ(::symlink(outside.c_str(), sub.c_str()), 0);
    runner.Run({plan.begin() + 2, plan.begin() + 3}, sequence);
    fileops::ReleaseFolders();
    EXPECT_EQ(ReadFile(sub + " held/a.txt"), "new");
    EXPECT_EQ(names(outside), std::set<std::string>{});
    if (old)
        ::setenv("WINEPREFIX", saved.c_str(), 1);
    else
        ::unsetenv("WINEPREFIX");
}

// Both ways the copy reads, the kernel's copy (a file) and plain reads (a
// pipe, which the kernel's copy refuses), stop at the end of data short of
// the size: the copy fails as a read fault, and a whole one succeeds.
TEST_F(PosixFileOps, TheCopyLoopFailsAtAnEarlyEndOfData) {
    const std::string hundred(100, 's');
    WriteFile(P("short"), hundred);
    for (const bool pipe : {false, true}) {
        int fds[2] = {-1, -1};
        ASSERT_EQ(pipe ? ::pipe(fds) : 0, 0);
        if (pipe) {
            ASSERT_EQ(::write(fds[1], hundred.data(), hundred.size()), 100);
            ::close(fds[1]);
        }
        const int from = pipe ? fds[0] : ::open(P("short").c_str(), O_RDONLY);
        const int to = ::open(P("copy").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        errno = 0;
        EXPECT_FALSE(posixport::CopyBytes(from, to, 200)) << (pipe ? "pipe" : "file");
        EXPECT_TRUE(fileops::IsReadFault(static_cast<std::uint32_t>(errno))) << (pipe ? "pipe" : "file");
        ::close(from);
        ::close(to);
    }
    const int from = ::open(P("short").c_str(), O_RDONLY), to = ::open(P("copy").c_str(), O_WRONLY | O_TRUNC);
    EXPECT_TRUE(posixport::CopyBytes(from, to, 100));
    ::close(from);
    ::close(to);
    EXPECT_EQ(ReadFile(P("copy")), hundred);
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
