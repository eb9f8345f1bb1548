// The whole installation on the POSIX port, on real trees: what lands where,
// what survives an upgrade, and which failures end the run.
#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "app/Errors.h"
#include "app/InstallPlan.h"
#include "app/PlanRunner.h"
#include "app/Unit1.h"
#include "platform/posix/paths.h"
#include "platform/shellfolders.h"
#include "platform/startup.h"
#include "tests/unit/test_support.h"

namespace {

using namespace testing_support;

class Installation : public ::testing::Test {
protected:
    void SetUp() override {
        Languagem = 0;
        instal = upgrade = false;
    }
    int Run() {
        lookupsBefore_ = shellfolders::LookupCount();
        return ::Setup();
    }
    unsigned long Lookups() const { return shellfolders::LookupCount() - lookupsBefore_; }
    std::string Boxes() { return console_.Out(); }
    std::string Errors() { return console_.Err(); }

    Sandbox box_;
    ConsoleCapture console_;
    unsigned long lookupsBefore_ = 0;
};

TEST_F(Installation, FirstRunInstallsEveryFileAndPlacesTheDesktopItems) {
    WriteDistribution(1);
    ASSERT_EQ(Run(), 0) << Errors();
    EXPECT_EQ(Boxes(), "unit_tests\nInstaltion completed.\n[OK]\n");
    for (const auto& [installed, source] : InstalledFiles())
        EXPECT_EQ(ReadFile(box_.C(installed)), ReadFile(box_.Dist(source))) << installed;
    for (const std::string& name : DesktopNames("copy-to-desktop"))
        EXPECT_EQ(ReadFile(box_.Desktop(name)), ReadFile(box_.Dist(name)));
    EXPECT_EQ(ReadFile(box_.Desktop("Orvo Tool EN.pdf")), ReadFile(box_.Dist("Orvo Tool EN.pdf")));
    EXPECT_FALSE(Exists(box_.C("Orvo_Tool Data/DBZ/Rakoviny.txt")));
    EXPECT_EQ(Lookups(), 8u);  // five removals, two shortcuts, one PDF: never cached
    std::string folder = box_.Desktop("");
    folder.pop_back();
    EXPECT_EQ(posixport::Utf8(Desktopadrstr), folder + "\\Orvo Tool EN.pdf");
    EXPECT_EQ(Desktopadr, Desktopadrstr.c_str());
}

TEST_F(Installation, ASecondRunIsAnUpgradeThatKeepsEditedPowerListsOnly) {
    WriteDistribution(1);
    ASSERT_EQ(Run(), 0) << Errors();
    WriteFile(box_.C("Orvo_Tool Data/DBZ/Power.txt"), "edited in DBZ");
    WriteFile(box_.C("Orvo_Tool Data/Program/Power.txt"), "edited in Program");
    WriteFile(box_.C("Orvo_Tool Data/DBZ/QCAFL.txt"), "edited list");
    WriteFile(box_.C("Orvo_Tool Data/DBZ/Rakoviny.txt"), "old list");
    ::unlink(box_.C("Orvo_Tool Data/Program/PowerEN.txt").c_str());
    ASSERT_EQ(Run(), 0) << Errors();
    EXPECT_EQ(Boxes(), "unit_tests\nInstaltion completed.\n[OK]\nunit_tests\nUpgrade ready.\n[OK]\n");
    EXPECT_EQ(ReadFile(box_.C("Orvo_Tool Data/DBZ/Power.txt")), "edited in DBZ");
    EXPECT_EQ(ReadFile(box_.C("Orvo_Tool Data/Program/Power.txt")), "edited in Program");
    EXPECT_EQ(ReadFile(box_.C("Orvo_Tool Data/DBZ/QCAFL.txt")), ReadFile(box_.Dist("Data/QCAFL.txt")));
    EXPECT_EQ(ReadFile(box_.C("Orvo_Tool Data/Program/PowerEN.txt")), ReadFile(box_.Dist("Data/PowerEN.txt")));
    EXPECT_FALSE(Exists(box_.C("Orvo_Tool Data/DBZ/Rakoviny.txt")));
}

TEST_F(Installation, OlderDesktopCopiesGoAndLookalikesStay) {
    WriteDistribution(0);
    const std::vector<std::string> older = DesktopNames("remove-from-desktop");
    ASSERT_EQ(older.size(), 5u);
    for (const std::string& name : older) WriteFile(box_.Desktop(name), "old");
    WriteFile(box_.Desktop("Orvo Tool 4_1 CZ.exe"), "one space");
    ASSERT_EQ(Run(), 0) << Errors();
    for (const std::string& name : older) EXPECT_FALSE(Exists(box_.Desktop(name))) << name;
    EXPECT_EQ(ReadFile(box_.Desktop("Orvo Tool 4_1 CZ.exe")), "one space");
    EXPECT_TRUE(Exists(box_.Desktop("Orvo Tool CZ.pdf")));
}

// The runner alone, with a sequence that records its steps: no window, no
// process-wide state. The sequence's steps come in the plan's order, and
// what each step sees on disk shows where in the plan it ran.
class Recorder final : public SequenceSteps {
public:
    explicit Recorder(const Sandbox& box) : box_(box) {}
    void ReadLanguage() override { Note("read-language"); }
    void DetectOutcome() override { Note("detect-outcome"); }
    void ClickRegister() override { Note("click-register"); }
    void ReportIncomplete(const FailureReport& r) override {
        Note("report-incomplete");
        report = r;
        throw Exception(L"incomplete");
    }
    void ReportNoLock(std::uint32_t) override { Note("report-no-lock"); }
    void ShowCompletion() override { Note("show-completion"); }
    void Terminate() override { Note("terminate"); }
    std::wstring DesktopPath(const std::wstring& name) override {
        return posixport::Wide(box_.Desktop("")) + name.substr(1);
    }
    int Language() const override { return 2; }
    std::vector<std::string> calls;
    FailureReport report;

private:
    // Each call with whether the program folder and the language file were there by then.
    void Note(const std::string& step) {
        calls.push_back(step + (Exists(box_.C("Orvo_Tool")) ? " folder" : "") +
                        (Exists(box_.C("Orvo_Tool/dLangv.dat")) ? " language" : ""));
    }
    const Sandbox& box_;
};

TEST(PlanRunner, RunsTheSequenceStepsInOrderAndCountsWithoutGlobalState) {
    Sandbox box;
    WriteDistribution(1);
    Recorder sequence(box);
    PlanRunner runner;
    runner.Run(InstallPlan(), sequence);
    EXPECT_EQ(sequence.calls,
              (std::vector<std::string>{"read-language", "detect-outcome folder", "click-register folder language",
                                        "show-completion folder language", "terminate folder language"}));
    EXPECT_EQ(runner.Report().failures, 0);
    runner.Run(DesktopPlan(), sequence);
    EXPECT_TRUE(Exists(box.Desktop("Orvo Tool DE.pdf")));  // the sequence's language, not Languagem
    EXPECT_TRUE(Exists(box.C("Orvo_Tool/Orvo Dustrel.exe")));

    ::unlink(box.Dist("Data/QKV.txt").c_str());
    ::unlink(box.C("Orvo_Tool Data/DBZ/QKV.txt").c_str());
    sequence.calls.clear();
    runner.Reset();
    EXPECT_THROW(runner.Run(InstallPlan(), sequence), Exception);
    EXPECT_EQ(sequence.calls.back(), "report-incomplete folder language");  // no completion box, no quit
    EXPECT_EQ(sequence.report.failures, 1);
    EXPECT_EQ(sequence.report.firstTarget, L"C:\\Orvo_Tool Data\\DBZ\\QKV.txt");
    EXPECT_EQ(sequence.report.failedSource, L"Data\\QKV.txt");
    EXPECT_EQ(sequence.report.firstError, static_cast<std::uint32_t>(ENOENT));  // taken where the copy failed
    EXPECT_FALSE(sequence.report.noSourceFound);
}

// The first line names the target; the second names the source only when it
// was missing, and a code of 0 is no reason to show.
TEST(IncompleteMessage, NamesTheSideThatFailedAndNoReasonWithoutACode) {
    Sandbox box;
    WriteDistribution(1);
    Languagem = 1;
    const std::wstring first =
        L"Installation incomplete: 1 file(s) could not be installed (first: C:\\Orvo_Tool Data\\DBZ\\QKV.txt)";
    const struct {
        const wchar_t* failedSource;
        std::uint32_t error;
        std::wstring text;
    } cases[] = {
        {L"Data\\QKV.txt", ENOENT, first + L"\nData\\QKV.txt: No such file or directory"},
        {L"", EACCES, first + L"\nPermission denied"},
        {L"", 0, first},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IncompleteMessage({1, L"C:\\Orvo_Tool Data\\DBZ\\QKV.txt", c.failedSource, c.error, false}), c.text);
}

// The guard itself: what a run leaves at the host's / is removed, and the
// test that made it fails, naming it.
// A folder of its own stands for the host's /: every test beside this one
// checks the real one.
TEST(Sandbox, RemovesAndReportsWhatARunLeavesAtTheHostRoot) {
    static TempDir root;
    static const std::string host = root.path() + "/";
    EXPECT_NONFATAL_FAILURE(
        {
            Sandbox box(host);
            WriteFile(host + "Orvo Tool.lnk", "what a broken run would leave");
        },
        "a run wrote Orvo Tool.lnk to the host's /");
    EXPECT_FALSE(Exists(host + "Orvo Tool.lnk"));
}

TEST(DisplayName, KeepsNamesUpToMaxPathAndShortensLongerOnes) {
    const std::wstring fits(260, L'a');
    EXPECT_EQ(DisplayName(fits), fits);
    const std::wstring longer = L"C:\\" + std::wstring(300, L'b') + L"\\Orvo Tool.lnk";
    const std::wstring shown = DisplayName(longer);
    EXPECT_EQ(shown.size(), 123u);
    EXPECT_EQ(shown.substr(0, 60), longer.substr(0, 60));
    EXPECT_EQ(shown.substr(60, 3), L"...");
    EXPECT_EQ(shown.substr(63), longer.substr(longer.size() - 60));

    // A surrogate pair at either cut is never split: the half pair goes with its other half.
    const std::wstring pair = L"\xD83D\xDCC4";
    const std::wstring astral = std::wstring(59, L'c') + pair + std::wstring(200, L'd') + pair + std::wstring(59, L'e');
    const std::wstring cut = DisplayName(astral);
    EXPECT_EQ(cut, std::wstring(59, L'c') + L"..." + std::wstring(59, L'e'));
}

TEST(LanguagePdf, FollowsTheLanguageCode) {
    EXPECT_STREQ(LanguagePdf(0), L"Orvo Tool CZ.pdf");
    EXPECT_STREQ(LanguagePdf(1), L"Orvo Tool EN.pdf");
    EXPECT_STREQ(LanguagePdf(2), L"Orvo Tool DE.pdf");
    for (int code : {3, 4, 7, 1 << 30}) EXPECT_STREQ(LanguagePdf(code), L"Orvo Tool EN.pdf");
    for (int code : {-1, -7, INT32_MIN}) EXPECT_EQ(LanguagePdf(code), nullptr);
}

TEST_F(Installation, ANegativeLanguagePlacesNoPdfAndReadsTheSettingSevenTimes) {
    WriteDistribution(-1);
    ASSERT_EQ(Run(), 0) << Errors();
    EXPECT_EQ(Boxes(), "unit_tests\n\n[OK]\n");
    for (const char* pdf : {"Orvo Tool CZ.pdf", "Orvo Tool DE.pdf", "Orvo Tool EN.pdf"})
        EXPECT_FALSE(Exists(box_.Desktop(pdf)));
    EXPECT_EQ(Lookups(), 7u);
}

TEST_F(Installation, AMissingSourceIsReportedAndTheRestStillInstalled) {
    WriteDistribution(1, {"Data/QKV.txt"});
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Boxes(), "");
    EXPECT_EQ(Errors(),
              "unit_tests\nInstallation incomplete: 1 file(s) could not be installed "
              "(first: C:\\Orvo_Tool Data\\DBZ\\QKV.txt)\nData\\QKV.txt: No such file or directory.\n[OK]\n");
    EXPECT_TRUE(Exists(box_.C("Orvo_Tool/Orvo Dustrel.exe")));
    EXPECT_TRUE(Exists(box_.Desktop("Orvo Tool.lnk")));
}

// Nothing of the distribution here: the language is Czech, and the message
// says where Setup was started instead of naming one missing file.
TEST_F(Installation, AnEmptyFolderSaysSetupRanInTheWrongFolderAndAFolderWithASourceDoesNot) {
    EXPECT_EQ(Run(), 1);
    for (const char* folder : {"Orvo_Tool", "Orvo_Tool Data/DBZ", "Orvo_Tool Data/Dokum", "Orvo_Tool Data/Program"})
        EXPECT_TRUE(Exists(box_.C(folder))) << folder;
    std::string here = box_.Dist("");
    here.pop_back();
    for (char& c : here)
        if (c == '/') c = '\\';
    // 28 files of the plan, 2 shortcuts, the PDF and 2 programs
    EXPECT_EQ(Errors(),
              "unit_tests\nInstalace není dokončena. Počet souborů, které nelze nainstalovat: 33 "
              "(první: C:\\Orvo_Tool\\Kesmark.pdf)\nInstalační program je nutné spustit ze složky s instalačními "
              "soubory; byl spuštěn ve složce „" + here + "“.\n[OK]\n");
    console_.Clear();

    // An upgrade from a folder that holds only the kept lists: a source is
    // here, so the first failed file is named, not the folder.
    WriteDistribution(1);
    ASSERT_EQ(Run(), 0) << Errors();
    for (const std::string& file : DistributionFiles())
        if (file != "Data/Power.txt" && file != "Data/PowerEN.txt") ::unlink(box_.Dist(file).c_str());
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Errors(),
              "unit_tests\nInstallation incomplete: 29 file(s) could not be installed "
              "(first: C:\\Orvo_Tool\\Kesmark.pdf)\nData\\Kesmark.pdf: No such file or directory.\n[OK]\n");
}

TEST_F(Installation, ADataFolderThatIsAFileFailsItsFilesOnly) {
    WriteDistribution(1);
    WriteFile(box_.C("Orvo_Tool Data"), "not a folder");
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(ReadFile(box_.C("Orvo_Tool Data")), "not a folder");
    EXPECT_EQ(Errors(),
              "unit_tests\nInstallation incomplete: 22 file(s) could not be installed "
              "(first: C:\\Orvo_Tool Data\\Dokum\\Orvo Tool CZ.pdf)\nNot a directory.\n[OK]\n");
    EXPECT_TRUE(Exists(box_.C("Orvo_Tool/Orvo Tool.exe")));
    EXPECT_TRUE(Exists(box_.Desktop("Orvo Tool EN.pdf")));
}

TEST_F(Installation, ReadOnlyTargetsCountButKeptAndAbsentFilesDoNot) {
    WriteDistribution(1);
    WriteFile(box_.C("Orvo_Tool Data/DBZ/Power.txt"), "kept");
    ::chmod(box_.C("Orvo_Tool Data/DBZ/Power.txt").c_str(), 0444);
    WriteFile(box_.C("Orvo_Tool Data/DBZ/QKV.txt"), "locked");
    ::chmod(box_.C("Orvo_Tool Data/DBZ/QKV.txt").c_str(), 0444);
    WriteFile(box_.C("Orvo_Tool Data/DBZ/Rakoviny.txt"), "stays");
    ::chmod(box_.C("Orvo_Tool Data/DBZ/Rakoviny.txt").c_str(), 0444);
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Errors(),
              "unit_tests\nInstallation incomplete: 2 file(s) could not be installed "
              "(first: C:\\Orvo_Tool Data\\DBZ\\QKV.txt)\nPermission denied.\n[OK]\n");
    EXPECT_EQ(ReadFile(box_.C("Orvo_Tool Data/DBZ/Power.txt")), "kept");
    EXPECT_EQ(ReadFile(box_.C("Orvo_Tool Data/DBZ/QKV.txt")), "locked");
}

TEST_F(Installation, AReadOnlyDistributionInstallsWritableFilesAndUpgradesAgain) {
    WriteDistribution(1);
    for (const auto& [installed, source] : InstalledFiles()) ::chmod(box_.Dist(source).c_str(), 0444);
    ::chmod(box_.C("").c_str(), 0777);  // the unprivileged user installs
    ::chmod(box_.Desktop("").c_str(), 0777);
    const int first = RunUnprivileged([&] { return ::Setup(); });
    const int second = RunUnprivileged([&] { return ::Setup(); });
    EXPECT_EQ(first, 0) << Errors();
    EXPECT_EQ(second, 0) << Errors();
    struct stat st;
    ASSERT_EQ(::stat(box_.C("Orvo_Tool Data/DBZ/QKV.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);  // the source's other bits travel, the owner may write
    EXPECT_EQ(Boxes(), "unit_tests\nInstaltion completed.\n[OK]\nunit_tests\nUpgrade ready.\n[OK]\n");
}

// Whatever stands in the way, every step still runs and the failed files are
// counted; the first one is named.
TEST_F(Installation, FoldersInTheWayAndAMissingDataFolderAreReported) {
    const struct {
        const char* what;
        std::function<void(const Sandbox&)> arrange;
        const char* message;
    } cases[] = {
        {"program folder is a file", [](const Sandbox& b) { WriteFile(b.C("Orvo_Tool"), "x"); },
         "8 file(s) could not be installed (first: C:\\Orvo_Tool\\Kesmark.pdf)\nNot a directory."},
        {"DBZ is a file", [](const Sandbox& b) { WriteFile(b.C("Orvo_Tool Data/DBZ"), "x"); },
         "7 file(s) could not be installed (first: C:\\Orvo_Tool Data\\DBZ\\Power.txt)\nNot a directory."},
        {"no Data folder", [](const Sandbox& b) { std::filesystem::remove_all(b.Dist("Data")); },
         "24 file(s) could not be installed (first: C:\\Orvo_Tool\\Kesmark.pdf)\nData\\Kesmark.pdf: No such file or directory."},
        {"relative desktop", [](const Sandbox& b) { b.SetUserDirs("XDG_DESKTOP_DIR=\"Plocha\"\n"); },
         "3 file(s) could not be installed (first: Plocha\\Orvo Tool.lnk)\nNo such file or directory."},
    };
    for (const auto& c : cases) {
        Sandbox box;
        ConsoleCapture console;
        WriteDistribution(1);
        c.arrange(box);
        EXPECT_EQ(::Setup(), 1) << c.what;
        EXPECT_EQ(console.Err(), std::string("unit_tests\nInstallation incomplete: ") + c.message + "\n[OK]\n")
            << c.what;
    }
}

// Whatever the umask, others may read and run the program folder and not
// change it; the data folders stay as the umask makes them.
TEST(ProgramFolder, IsReadableButNotWritableByOthersWhateverTheUmask) {
    for (const mode_t umask : {0000, 0077}) {
        Sandbox box;
        ConsoleCapture console;
        WriteDistribution(1);
        const mode_t old = ::umask(umask);
        const int exit = ::Setup();
        ::umask(old);
        ASSERT_EQ(exit, 0) << console.Err();
        struct stat program, data;
        ASSERT_EQ(::stat(box.C("Orvo_Tool").c_str(), &program), 0);
        ASSERT_EQ(::stat(box.C("Orvo_Tool Data/DBZ").c_str(), &data), 0);
        EXPECT_EQ(program.st_mode & 0777, 0755u) << "umask " << umask;
        EXPECT_EQ(data.st_mode & 0777, 0777u & ~umask) << "umask " << umask;
    }
}

TEST_F(Installation, ALanguageFileErrorStopsBeforeAnythingIsCreated) {
    WriteDistribution(1);
    WriteFile("dLangv.dat", "ab");
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Errors(), "unit_tests\nRead beyond end of file.\n[OK]\n");
    EXPECT_FALSE(Exists(box_.C("Orvo_Tool")));
}

// The lock cannot be had (drive C:'s folder cannot be opened for it, though
// folders could be made in it): nothing is made, and the box says why in the
// installation's language.
TEST_F(Installation, WithoutTheLockNothingChangesAndTheBoxSaysWhy) {
    WriteDistribution(2);
    ::chmod(box_.C("").c_str(), 0333);
    const int exit = RunUnprivileged([&] { return ::Setup(); });
    ::chmod(box_.C("").c_str(), 0755);
    EXPECT_EQ(exit, 1);
    EXPECT_EQ(Errors(), "unit_tests\nMöglicherweise läuft bereits ein anderes Setup; es wurde nichts geändert.\n"
                        "Permission denied.\n[OK]\n");
    EXPECT_FALSE(Exists(box_.C("Orvo_Tool")));
    EXPECT_FALSE(Exists(box_.Desktop("Orvo Tool.lnk")));
}

// Two runs at once, each from a distribution of its own: one installs, the
// other waits and upgrades, and every file it leaves is its own, so no file
// of the first run was written after the second began.
TEST_F(Installation, TwoRunsAtOnceRunOneAfterTheOther) {
    WriteDistribution(1);
    WriteFile(box_.Dist("Orvo Tool.exe"), std::string(32 << 20, 'a'));
    const std::string other = box_.Dist("") + "../other/";
    MakeDirs(other + "Data");
    for (const std::string& file : DistributionFiles())
        WriteFile(other + file, file == "dLangv.dat" ? ReadFile(box_.Dist(file)) : "other " + ReadFile(box_.Dist(file)));
    std::fflush(nullptr);
    pid_t runs[2];
    for (int i = 0; i < 2; ++i)
        if ((runs[i] = ::fork()) == 0) {
            if (i == 1 && ::chdir(other.c_str()) != 0) ::_exit(1);
            ::_exit(::Setup() != 0 ? 1 : upgrade ? 3 : 2);
        }
    int upgraded = -1, outcomes = 0;
    for (int i = 0; i < 2; ++i) {
        int status = 0;
        ASSERT_EQ(::waitpid(runs[i], &status, 0), runs[i]);
        ASSERT_TRUE(WIFEXITED(status));
        outcomes += WEXITSTATUS(status);
        if (WEXITSTATUS(status) == 3) upgraded = i;
    }
    ASSERT_EQ(outcomes, 2 + 3) << "one installation and one upgrade";
    const std::string from = upgraded ? other : box_.Dist(""), first = upgraded ? box_.Dist("") : other;
    for (const auto& [installed, source] : InstalledFiles()) {
        const bool kept = source == "Data/Power.txt" || source == "Data/PowerEN.txt";
        EXPECT_TRUE(ReadFile(box_.C(installed)) == ReadFile((kept ? first : from) + source)) << installed;
    }
    EXPECT_EQ(ReadFile(box_.Desktop("Orvo Tool.lnk")), ReadFile(from + "Orvo Tool.lnk"));
}

// Each desktop-setting failure ends the run at the first desktop path: the
// older copies stay, nothing is placed and the programs are not copied.
TEST_F(Installation, DesktopSettingFailuresEndTheRunWithTheirMessages) {
    WriteDistribution(1);
    const struct {
        const char* userDirs;
        const char* message;
    } cases[] = {
        {"", "Nemůžu v registrech najít cestu k pracovní ploše."},
        {"XDG_MUSIC_DIR=\"$HOME/Music\"\n", "Nemůžu v registrech najít cestu k pracovní ploše."},
        {"XDG_DESKTOP_DIR=\"\"\n", "Nemůžu v registrech najít cestu k pracovní ploše."},
        {"XDG_DESKTOP_DIR=$HOME/Desktop\n", "Invalid data type for 'Desktop'"},
    };
    WriteFile(box_.Desktop("Orvo Tool 4_3.exe"), "old");
    for (const auto& c : cases) {
        box_.SetUserDirs(c.userDirs);
        EXPECT_EQ(Run(), 1);
        EXPECT_EQ(Errors(), std::string("unit_tests\n") + c.message + "\n[OK]\n") << c.userDirs;
        EXPECT_EQ(Lookups(), 1u);
        EXPECT_TRUE(Exists(box_.Desktop("Orvo Tool 4_3.exe")));
        EXPECT_FALSE(Exists(box_.Desktop("Orvo Tool.lnk")));
        EXPECT_FALSE(Exists(box_.C("Orvo_Tool/Orvo Tool.exe")));
        EXPECT_TRUE(Exists(box_.C("Orvo_Tool Data/DBZ/QKV.txt")));  // what came before stays
        console_.Clear();
    }
}

}  // namespace
