// The report's wording of the system, and the run folder's name: in time order, made afresh, never reused.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "kit/src/facts.h"

namespace kit {
namespace {

TEST(SystemFacts, ArchitectureAndWindowsNameAsTheSystemIs) {
    const struct {
        unsigned process, native;
        bool kit64;
        const char* said;
    } arch[] = {
        {kMachineX86, kMachineArm64, false, "ARM64 system; this kit is 32-bit x86, running under WoW64"},
        {kMachineUnknown, kMachineArm64, true, "ARM64 system; this kit is 64-bit x64, emulated"},
        {kMachineX86, kMachineX64, false, "x64 system; this kit is 32-bit x86, running under WoW64"},
        {kMachineUnknown, kMachineX64, true, "x64 system; this kit is 64-bit x64, native"},
        {kMachineUnknown, kMachineX86, false, "x86 system; this kit is 32-bit x86, native"},
    };
    for (const auto& c : arch) EXPECT_EQ(ArchitectureText(c.process, c.native, c.kit64), c.said);
    const struct {
        const char* product;
        unsigned build;
        const char* said;
    } names[] = {
        {"Windows 10 Pro", 22000, "Windows 11 Pro"},
        {"Windows 10 Enterprise", 26100, "Windows 11 Enterprise"},
        {"Windows 10 Pro", 21996, "Windows 10 Pro"},
        {"Windows 11 Pro", 22631, "Windows 11 Pro"},
        {"", 22621, "Windows 11"},
        {"Windows Server 2022 Standard", 20348, "Windows Server 2022 Standard"},
    };
    for (const auto& c : names) EXPECT_EQ(WindowsName(c.product, c.build), c.said) << c.product << " " << c.build;
}

// The kit's Wine tests and the vendor find the newest run by its name.
TEST(SystemFacts, RunFoldersSortInTimeOrder) {
    const std::vector<std::string> inOrder{
        RunFolderName(2026, 9, 30, 23, 59, 59, 1), RunFolderName(2026, 10, 1, 0, 0, 0, 1),
        RunFolderName(2026, 10, 1, 0, 0, 0, 2), RunFolderName(2026, 10, 1, 0, 0, 9, 1),
        RunFolderName(2026, 10, 1, 0, 0, 10, 1)};
    EXPECT_EQ(inOrder[0], "2026-09-30 23.59.59Z");
    EXPECT_EQ(inOrder[2], "2026-10-01 00.00.00Z (2)");
    for (std::size_t i = 1; i < inOrder.size(); ++i) EXPECT_LT(inOrder[i - 1], inOrder[i]) << inOrder[i];
}

// A folder already there, an earlier run's or anyone's, is never written into.
TEST(SystemFacts, ARunFolderIsMadeAfreshNeverReused) {
    const std::string first = "2026-10-01 00.00.00Z";
    std::set<std::string> full;
    for (unsigned attempt = 1; attempt < 100; ++attempt) full.insert(RunFolderName(2026, 10, 1, 0, 0, 0, attempt));
    const struct {
        std::set<std::string> there;
        int failsAt;  // the call of `make` that fails; 0: none
        std::string made;
    } cases[] = {
        {{}, 0, first},
        {{first}, 0, first + " (2)"},
        {{first, first + " (2)"}, 0, first + " (3)"},
        {{first + " (2)"}, 0, first},
        {{first}, 2, ""},
        {full, 0, ""},
    };
    for (const auto& c : cases) {
        std::set<std::string> there = c.there;
        int calls = 0;
        const std::string made = NewRunFolder(2026, 10, 1, 0, 0, 0, [&](const std::string& name) {
            if (++calls == c.failsAt) return Made::kFailed;
            return there.insert(name).second ? Made::kMade : Made::kTaken;
        });
        EXPECT_EQ(made, c.made) << c.there.size() << " there";
        EXPECT_EQ(there.size(), c.there.size() + !made.empty()) << made;
    }
}

}  // namespace
}  // namespace kit
