// The whole installation on the POSIX port, on real trees, that fails: which failures end the run, what each says.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "app/Unit1.h"
#include "platform/startup.h"
#include "tests/unit/installation_fixture.h"
#include "tests/unit/test_support.h"

namespace {

using namespace testing_support;

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
