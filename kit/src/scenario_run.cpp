// One scenario run: its outcome counted and reported, and the machine put back after it on every path.
#include "kit/src/scenario_run.h"

#include "kit/src/console.h"

namespace kit {
namespace {

// After every scenario: the Desktop value, both trees, the desktop names, the
// work copy. False when something stays, and the kit then stops.
bool CleanUp(Kit& kit, Check& check) {
    RestoreDesktopNow();
    const Restored restore = TakeLastRestore();
    check.Expect(restore.what != Restored::kFailed && restore.what != Restored::kLeftAlone, Narrow(restore.message));
    std::vector<std::wstring> paths = Trees();
    for (const auto& n : kit.plan.DesktopNames()) paths.push_back(Join(kit.desktop, n));
    for (const auto& d : kit.extraDesktops) paths.push_back(d);
    paths.push_back(kit.dist);
    std::string left;
    for (const auto& p : paths) {
        std::wstring held;
        if (!RemoveHeldTree(p, held))
            left += (left.empty() ? "" : ", ") + Narrow(p) + " (" + Narrow(held) + " held)";
        else if (!held.empty())
            kit.details.push_back("  " + Narrow(held) + " was held for a moment, then removed");
    }
    kit.extraDesktops.clear();
    check.Expect(left.empty(), "could not remove " + left);
    return left.empty();
}

}  // namespace

std::vector<std::wstring> Trees() { return ExpectedPlan().roots; }

bool RunOne(Kit& kit, const char* id, const char* title, void (*fn)(Kit&, Check&), Tally& tally,
            std::vector<std::string>& report) {
    kit.scenario = id;
    kit.runs = 0;
    kit.details.clear();
    const RegValue desktopBefore = ReadDesktopValue();
    Check check;
    std::string skipped;
    bool interrupted = false;
    try {
        fn(kit, check);
    } catch (const Skip& s) {
        skipped = s.why;
    } catch (const CannotCheck& c) {
        check.Inconclusive(c.why);
    } catch (const NotPrepared& n) {
        check.Inconclusive("could not prepare the scenario: " + n.why);
    } catch (const SetupFault& f) {
        check.Expect(false, f.why);
    } catch (const Interrupted&) {
        interrupted = true;
        check.Expect(false, "interrupted");
    } catch (const std::exception& e) {
        check.Expect(false, std::string("error in the kit: ") + e.what());
    }
    const bool clean = CleanUp(kit, check);
    const bool restored = ReadDesktopValue() == desktopBefore;
    check.Expect(restored, "the Desktop value was not restored");
    const std::string line = std::string(id) + " (" + title + "): " + tally.Count(check, skipped);
    Print(line);
    report.push_back("");
    report.push_back(line);
    report.insert(report.end(), kit.details.begin(), kit.details.end());
    return clean && restored && !interrupted && !kit.interrupted;
}

}  // namespace kit
