// The runner against a file system that follows Windows' documented rules:
// a run that dies anywhere never costs the user a working file or a list,
// and a run that fails blames the side that failed.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/Errors.h"
#include "app/InstallPlan.h"
#include "app/PlanRunner.h"
#include "tests/unit/documented_files.h"

namespace {

using testing_support::Crash;
using testing_support::DocumentedFiles;

const std::wstring kDesktop = L"D:\\Desktop";
constexpr int kLanguage = 1;

struct Target {
    std::wstring source, target;
    bool kept;
};

// Every file the two plans write, with the desktop where the model keeps it.
std::vector<Target> Targets() {
    std::vector<Target> out;
    for (const Plan* plan : {&InstallPlan(), &DesktopPlan()})
        for (const Step& step : *plan) {
            if (step.op == Op::Copy || step.op == Op::CopyKept) out.push_back({step.source, step.target, step.op == Op::CopyKept});
            if (step.op == Op::CopyToDesktop) out.push_back({step.source, kDesktop + step.target, false});
            if (step.op == Op::CopyLanguagePdf)
                out.push_back({LanguagePdf(kLanguage), kDesktop + L"\\" + LanguagePdf(kLanguage), false});
        }
    return out;
}

// The steps that are not file operations; the desktop plan runs as the
// Register button runs it. No box may be shown while the lock is held.
class ModelSequence final : public SequenceSteps {
public:
    ModelSequence(PlanRunner& runner, DocumentedFiles& files) : runner_(runner), files_(files) {}
    void ReadLanguage() override {}
    void DetectOutcome() override {}
    void ClickRegister() override { runner_.Run(DesktopPlan(), *this); }
    void ReportIncomplete(const FailureReport& r) override {
        EXPECT_FALSE(files_.locked) << "the error box shown while the lock is held";
        report = r;
        throw Exception(L"incomplete");
    }
    void ReportNoLock(std::uint32_t error) override {
        EXPECT_FALSE(files_.locked) << "the lock's error box shown while the lock is held";
        noLock = error;
        throw Exception(L"no lock");
    }
    void ShowCompletion() override { EXPECT_FALSE(files_.locked) << "the completion box shown while the lock is held"; }
    void Terminate() override {}
    std::wstring DesktopPath(const std::wstring& name) override { return kDesktop + name; }
    int Language() const override { return kLanguage; }
    FailureReport report;
    std::uint32_t noLock = 0;

private:
    PlanRunner& runner_;
    DocumentedFiles& files_;
};

FailureReport Install(DocumentedFiles& files, std::uint32_t* noLock = nullptr) {
    PlanRunner runner(files);
    ModelSequence sequence(runner, files);
    const int unlocked = files.unlockedCalls;
    try {
        runner.Install(InstallPlan(), sequence);
    } catch (const Exception&) {
    } catch (const testing_support::Crash&) {
        EXPECT_EQ(files.unlockedCalls, unlocked) << "the disk changed without the lock";
        throw;
    }
    EXPECT_FALSE(files.locked) << "the lock outlives the run";
    EXPECT_EQ(files.unlockedCalls, unlocked) << "the disk changed without the lock";
    if (noLock) *noLock = sequence.noLock;
    return sequence.report;
}

std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }  // the plan's names are ASCII
std::string New(const std::wstring& source) { return "new " + Narrow(source); }

void PutSources(DocumentedFiles& files, const std::string& prefix, bool readOnlyAndMarked) {
    for (const Target& t : Targets())
        files.Put(t.source, prefix + " " + Narrow(t.source), readOnlyAndMarked, readOnlyAndMarked);
}

std::string Temporaries(const DocumentedFiles& files) {
    const std::wstring suffix = TemporaryName(L"");
    std::string found;
    for (const auto& [name, file] : files.files)
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            found += Narrow(name) + " ";
    return found;
}

// What must hold of a machine after a crash: each target is its old file in
// full or its new one in full (or still absent), and a user's list is the user's.
std::string Damage(const DocumentedFiles& before, const DocumentedFiles& after) {
    std::map<std::wstring, std::string> users;
    for (const auto& [copiedTo, written] : before.writtenWhileCopyingTo) users.insert(written);
    for (const Target& t : Targets()) {
        const auto old = before.files.find(t.target);
        const auto now = after.files.find(t.target);
        const bool wasThere = old != before.files.end();
        if (now == after.files.end()) {
            if (wasThere) return "lost " + Narrow(t.target);
            continue;
        }
        const bool isOld = wasThere ? now->second.data == old->second.data
                                    : users.count(t.target) && users.at(t.target) == now->second.data;
        if (!isOld && t.kept && (wasThere || users.count(t.target))) return "overwrote the user's " + Narrow(t.target);
        if (!isOld && now->second.data != New(t.source))
            return Narrow(t.target) + " holds \"" + now->second.data + "\"";
    }
    return "";
}

// What a rerun must leave: the new installation, the user's lists, no
// temporary name and no failure.
std::string Unfinished(const DocumentedFiles& before, const DocumentedFiles& after, const FailureReport& report) {
    if (report.failures) return std::to_string(report.failures) + " failure(s), first " +
                                Narrow(report.firstTarget);
    if (!Temporaries(after).empty()) return "left " + Temporaries(after);
    for (const Target& t : Targets()) {
        const auto old = before.files.find(t.target);
        const DocumentedFiles::File& now = after.files.at(t.target);
        const std::string want = t.kept && old != before.files.end() ? old->second.data : New(t.source);
        if (now.data != want) return Narrow(t.target) + " holds \"" + now.data + "\"";
        if (now.readOnly || now.zoneMark) return Narrow(t.target) + " read-only or marked";
    }
    return "";
}

// A machine after a crash must hold each target's old file or its new one,
// and a rerun must finish the installation.
std::string Verdict(const DocumentedFiles& start, DocumentedFiles after) {
    const std::string damage = Damage(start, after);
    if (!damage.empty()) return damage;
    after.journal.clear();
    DocumentedFiles rerun = after;
    const std::string unfinished = Unfinished(after, rerun, Install(rerun));
    return unfinished.empty() ? "" : "rerun: " + unfinished;
}

// Every point at which a run can die, or after it ended: killed (the cache
// survives), or by a power cut (only what was flushed survives, and any
// change to a name may be undone: none, all, or each one alone), for the
// four ways a run meets drive C:. Sources come from a read-only, downloaded
// medium.
TEST(CrashModel, NoCrashPointCostsAFileAndARerunCompletes) {
    const std::wstring dbzPower = L"C:\\Orvo_Tool Data\\DBZ\\Power.txt", programPowerEn = L"C:\\Orvo_Tool Data\\Program\\PowerEN.txt";
    const struct {
        const char* what;
        bool installed;
        std::vector<std::wstring> keptAbsent;
        std::wstring keptWrittenMeanwhile;  // by the user, while the run copies it
    } kinds[] = {
        {"first installation", false, {}, L""},
        {"upgrade, the user's lists there", true, {}, L""},
        {"upgrade, a kept list absent", true, {programPowerEn}, L""},
        {"upgrade, a kept list written while it is copied", true, {dbzPower}, dbzPower},
    };
    for (const auto& kind : kinds) {
        DocumentedFiles start;
        PutSources(start, "new", true);
        start.folders.insert(kDesktop);
        if (kind.installed) {
            for (const Step& step : InstallPlan())
                if (step.op == Op::EnsureFolder) start.folders.insert(step.target);
            for (const Target& t : Targets()) start.Put(t.target, (t.kept ? "user's " : "old ") + Narrow(t.target));
            for (const std::wstring& absent : kind.keptAbsent) start.files.erase(absent);
        }
        if (!kind.keptWrittenMeanwhile.empty())
            start.writtenWhileCopyingTo[TemporaryName(kind.keptWrittenMeanwhile)] = {kind.keptWrittenMeanwhile, "user's own"};

        DocumentedFiles whole = start;
        const FailureReport clean = Install(whole);
        ASSERT_EQ(clean.failures, 0) << kind.what;
        if (!kind.keptWrittenMeanwhile.empty()) EXPECT_EQ(whole.files.at(kind.keptWrittenMeanwhile).data, "user's own");
        for (int point = 1; point <= whole.calls + 1; ++point) {
            DocumentedFiles crashed = start;
            crashed.crashAt = point;
            if (point <= whole.calls)
                EXPECT_THROW(Install(crashed), Crash);
            else
                Install(crashed);
            crashed.crashAt = 0;
            crashed.writtenWhileCopyingTo.clear();
            std::string why = point <= whole.calls ? Verdict(start, crashed) : "";
            if (!why.empty()) why = "killed: " + why;
            const std::size_t changes = crashed.journal.size();
            for (std::size_t undone = 0; why.empty() && undone < changes + 2; ++undone) {
                DocumentedFiles cut = crashed;  // 0 undoes nothing, 1 every change, 2.. the change undone - 2
                cut.PowerCut([&](std::size_t i) { return undone == 1 || i + 2 == undone; });
                why = Verdict(start, cut);
                if (!why.empty())
                    why = "power cut undoing " +
                          (undone < 2 ? std::string(undone ? "every change" : "no change")
                                      : "change " + std::to_string(undone - 2) + " of " + std::to_string(changes)) +
                          ": " + why;
            }
            if (why.empty()) continue;
            ADD_FAILURE() << kind.what << ", crash in call " << point << " of " << whole.calls << ", " << why;
            break;
        }
    }
}

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

// Links another account plants in the data tree, which every account may
// change: nothing outside the trees is written or deleted, and what was meant
// for a folder that leads out of them is reported, with one code. The
// desktop still follows the user's own junction.
TEST(LinksInTheTrees, NothingOutsideIsTouchedAndTheFilesAreReported) {
    const std::wstring data = L"C:\\Orvo_Tool Data", dbz = data + L"\\DBZ", dokum = data + L"\\Dokum";
    const std::wstring elsewhere = L"C:\\Windows", objects = L"\\RPC Control", realDesktop = L"D:\\Real";
    const struct {
        const char* what;
        std::map<std::wstring, std::wstring> links, linkedOnceHeld;
        int failures;
        std::wstring target;
        std::uint32_t code = fileops::kErrorReparsePointEncountered;
        bool fileInTheWay = false;
    } cases[] = {
        {"Dokum a junction to a folder outside", {{dokum, elsewhere}}, {}, 13, dokum + L"\\Orvo Tool CZ.pdf"},
        {"the data folder a junction: nothing made below it", {{data, elsewhere}}, {}, 23, dokum + L"\\Orvo Tool CZ.pdf"},
        {"DBZ, held empty, made a junction to an object-manager folder whose links lead outside",
         {{objects + L"\\QKV.txt.setup-new", elsewhere + L"\\victim.dll"}}, {{dbz, objects}}, 8, dbz + L"\\Power.txt"},
        {"Dokum a file, made a junction once looked at", {}, {{dokum, elsewhere}}, 13, dokum + L"\\Orvo Tool CZ.pdf",
         fileops::kErrorPathNotFound, true},
        {"a file link at a temporary name, to a read-only file outside",
         {{dbz + L"\\QKV.txt.setup-new", elsewhere + L"\\victim.dll"}}, {}, 0, L""},
        {"the desktop a junction of the user's own", {{kDesktop, realDesktop}}, {}, 0, L""},
    };
    for (const auto& c : cases) {
        DocumentedFiles files;
        files.folders = {elsewhere, elsewhere + L"\\DBZ", objects, realDesktop};
        if (!c.links.count(kDesktop)) files.folders.insert(kDesktop);
        PutSources(files, "new", false);
        files.Put(elsewhere + L"\\victim.dll", "theirs", true);
        for (const std::wstring leftover : {L"\\Orvo Tool CZ.pdf.setup-new", L"\\DBZ\\Power.txt", L"\\DBZ\\Power.txt.setup-new"})
            files.Put(elsewhere + leftover, "named like a leftover");
        if (c.fileInTheWay) files.Put(dokum, "in the way");
        files.links = c.links;
        files.linkedOnceHeld = c.linkedOnceHeld;
        const auto outside = [&] {
            std::string seen;
            for (const auto& [name, file] : files.files)
                if (name.rfind(elsewhere, 0) == 0 || name.rfind(objects, 0) == 0)
                    seen += Narrow(name) + "=" + file.data + (file.readOnly ? " ro; " : "; ");
            for (const auto& folder : files.folders)
                if (folder.rfind(elsewhere, 0) == 0 || folder.rfind(objects, 0) == 0) seen += Narrow(folder) + "\\; ";
            return seen;
        };
        const std::string before = outside();
        const FailureReport report = Install(files);
        EXPECT_EQ(outside(), before) << c.what;
        EXPECT_EQ(report.failures, c.failures) << c.what;
        EXPECT_EQ(report.firstTarget, c.target) << c.what;
        EXPECT_EQ(report.firstError, c.failures ? c.code : 0u) << c.what;
        if (c.links.count(kDesktop)) EXPECT_TRUE(files.files.count(realDesktop + L"\\Orvo Tool.lnk")) << c.what;
    }
}

}  // namespace
