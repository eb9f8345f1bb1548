// A failed file blames its side and leaves the old file; a refused lock or program folder; the folder's access list.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include "app/InstallPlan.h"
#include "app/PlanRunner.h"
#include "platform/fileops.h"
#include "tests/unit/documented_files.h"
#include "tests/unit/publish_model.h"

namespace {

using namespace testing_support;

// Which side a failure blames, and that a failed file leaves its target as
// it was: an upgrade after an installation from the same kind of medium.
TEST(CrashModel, AFailedFileBlamesItsSideAndLeavesTheOldFile) {
    const std::wstring program = L"C:\\Orvo_Tool\\Orvo Tool.exe", qkv = L"C:\\Orvo_Tool Data\\DBZ\\QKV.txt";
    const std::wstring rakoviny = L"C:\\Orvo_Tool Data\\DBZ\\Rakoviny.txt";
    const struct {
        const char* what;
        bool readOnlyMarkedSources;
        std::function<void(DocumentedFiles&)> arrange;
        int failures;
        std::wstring target, source;
        std::uint32_t error;
    } cases[] = {
        {"read-only sources with a zone mark", true, [](DocumentedFiles&) {}, 0, L"", L"", 0},
        {"Rakoviny.txt held with delete sharing", false,
         [&](DocumentedFiles& f) {
             f.Put(rakoviny, "old list");
             f.files[rakoviny].heldWithDeleteSharing = true;
         },
         0, L"", L"", 0},
        {"Orvo Tool.exe running", false, [&](DocumentedFiles& f) { f.files[program].runningProgram = true; }, 1,
         program, L"", fileops::kErrorSharingViolation},
        {"a PDF open in a viewer that shares everything", false,
         [](DocumentedFiles& f) { f.files[L"C:\\Orvo_Tool Data\\Dokum\\Power Seznam.pdf"].heldOpen = true; }, 1,
         L"C:\\Orvo_Tool Data\\Dokum\\Power Seznam.pdf", L"", fileops::kErrorSharingViolation},
        {"a hidden data PDF, open in a viewer too, and a hidden desktop PDF", false,
         [](DocumentedFiles& f) {
             for (const wchar_t* pdf : {L"C:\\Orvo_Tool Data\\Dokum\\Q KV seznam.pdf", L"D:\\Desktop\\Orvo Tool EN.pdf"})
                 f.files[pdf].hidden = f.files[pdf].heldOpen = true;
         },
         2, L"C:\\Orvo_Tool Data\\Dokum\\Q KV seznam.pdf", L"", fileops::kErrorAccessDenied},
        {"a byte-range lock on a source", false, [](DocumentedFiles& f) { f.files[L"Data\\QKV.txt"].rangeLocked = true; },
         1, qkv, L"Data\\QKV.txt", fileops::kErrorLockViolation},
        {"a full disk", false, [](DocumentedFiles& f) { f.diskFull = true; }, 29, L"C:\\Orvo_Tool\\Kesmark.pdf", L"",
         112},
    };
    for (const auto& c : cases) {
        DocumentedFiles files;
        files.folders.insert(kDesktop);
        PutSources(files, "old", c.readOnlyMarkedSources);
        ASSERT_EQ(Install(files).failures, 0) << c.what;
        DocumentedFiles installed = files;
        PutSources(files, "new", c.readOnlyMarkedSources);
        c.arrange(files);
        const FailureReport report = Install(files);
        EXPECT_EQ(report.failures, c.failures) << c.what;
        EXPECT_EQ(report.firstTarget, c.target) << c.what;
        EXPECT_EQ(report.failedSource, c.source) << c.what;
        EXPECT_EQ(report.firstError, c.error) << c.what;
        EXPECT_EQ(Temporaries(files), "") << c.what;
        for (const Target& t : Targets()) {
            const DocumentedFiles::File& now = files.files.at(t.target);
            const bool intact = now.data == installed.files.at(t.target).data;
            EXPECT_TRUE(intact || (now.data == New(t.source) && !now.readOnly && !now.zoneMark)) << c.what << ": " << now.data;
        }
        files.LetGo();
    }
}

// A run that cannot take the lock changes nothing and says why; a program
// folder that cannot be made, for want of the user's SID, is the reason its
// files give.
TEST(CrashModel, ARefusedLockChangesNothingAndARefusedProgramFolderGivesItsReason) {
    constexpr std::uint32_t kInvalidHandle = 6, kNoneMapped = 1332;
    DocumentedFiles files;
    files.folders.insert(kDesktop);
    PutSources(files, "new", false);
    files.Put(kDesktop + L"\\Orvo Tool 4_3.exe", "older copy");
    const DocumentedFiles before = files;
    files.lockRefused = kInvalidHandle;
    std::uint32_t noLock = 0;
    EXPECT_EQ(Install(files, &noLock).failures, 0);
    EXPECT_EQ(noLock, kInvalidHandle);
    EXPECT_EQ(files.calls, 0);
    EXPECT_EQ(files.folders, before.folders);
    EXPECT_EQ(files.files.size(), before.files.size());

    files.lockRefused = 0;
    files.programFolderRefused = kNoneMapped;
    const FailureReport report = Install(files, &noLock);
    EXPECT_EQ(noLock, 0u);
    EXPECT_EQ(report.failures, 8);  // four PDFs, the language file, the list and the two programs
    EXPECT_EQ(report.firstTarget, L"C:\\Orvo_Tool\\Kesmark.pdf");
    EXPECT_EQ(report.failedSource, L"");
    EXPECT_EQ(report.firstError, kNoneMapped);
}

// The program folder gets its own access list when a run creates it, and
// only then: a folder that is there keeps the list it has.
TEST(CrashModel, OnlyACreatedProgramFolderGetsItsAccessList) {
    const struct {
        const char* what;
        std::set<std::wstring> there, made;
    } cases[] = {
        {"first installation", {}, {L"C:\\Orvo_Tool"}},
        {"the program folder there", {L"C:\\Orvo_Tool"}, {}},
        {"only the data folder there", {L"C:\\Orvo_Tool Data"}, {L"C:\\Orvo_Tool"}},
    };
    for (const auto& c : cases) {
        DocumentedFiles files;
        files.folders = c.there;
        files.folders.insert(kDesktop);
        PutSources(files, "new", false);
        EXPECT_EQ(Install(files).failures, 0) << c.what;
        EXPECT_EQ(files.programFolders, c.made) << c.what;
    }
}

}  // namespace
