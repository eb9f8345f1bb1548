// The whole installation on the POSIX port, on real trees, that succeeds: what lands where, what survives an upgrade.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "platform/posix/paths.h"
#include "platform/startup.h"
#include "tests/unit/installation_fixture.h"
#include "tests/unit/test_support.h"

namespace {

using namespace testing_support;

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

TEST_F(Installation, ANegativeLanguagePlacesNoPdfAndReadsTheSettingSevenTimes) {
    WriteDistribution(-1);
    ASSERT_EQ(Run(), 0) << Errors();
    EXPECT_EQ(Boxes(), "unit_tests\n\n[OK]\n");
    for (const char* pdf : {"Orvo Tool CZ.pdf", "Orvo Tool DE.pdf", "Orvo Tool EN.pdf"})
        EXPECT_FALSE(Exists(box_.Desktop(pdf)));
    EXPECT_EQ(Lookups(), 7u);
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

}  // namespace
