// A run that dies at any point, killed or by a power cut, costs no file, and a rerun completes.
#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "app/InstallPlan.h"
#include "app/PlanRunner.h"
#include "tests/unit/documented_files.h"
#include "tests/unit/publish_model.h"

namespace {

using namespace testing_support;

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

}  // namespace
