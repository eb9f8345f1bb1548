// setup-check: runs Setup.exe's scenarios against the real system it is
// started on, prints one line per scenario and a summary, and writes a
// report with pictures of every box into a folder of the run's own, beside
// itself. It leaves the machine as it found it.
#include <atomic>
#include <cstdio>

#include "app/resources/version.h"
#include "kit/src/console.h"
#include "kit/src/leftovers.h"
#include "kit/src/report_folder.h"
#include "kit/src/scenario_run.h"
#include "lab/winedesktop/wine_desktop.h"
#include "kit/src/scenarios.h"

namespace kit {
namespace {

// The running kit, for the console's handler; cleared before the kit goes.
std::atomic<Kit*> g_kit{nullptr};

struct KitShown {
    explicit KitShown(Kit& kit) { g_kit = &kit; }
    ~KitShown() { g_kit = nullptr; }
    KitShown(const KitShown&) = delete;
    KitShown& operator=(const KitShown&) = delete;
};

// Runs on a thread of its own. A closed console ends the process when this
// returns, so the Desktop value is restored here, at once, and the rest. A second Ctrl+C
// ends the kit at once, should the first find it waiting on something.
BOOL WINAPI OnCtrl(DWORD event) noexcept {
    try {
        RestoreDesktopNow();
        // A closed console, a logoff or a shutdown ends the process when this
        // returns: end Setup and remove what the list names now. Ctrl+C lets
        // the scenario clean up as usual.
        if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) ClearLeftovers();
    } catch (...) {  // nothing may unwind into the system's thread; the RunOnce entry and the next start still do it
    }
    Kit* const kit = g_kit;
    if (!kit || kit->interrupted.exchange(true)) return FALSE;
    return TRUE;
}

void MakeDpiAware() {
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    const auto setContext = reinterpret_cast<SetContextFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    // Per-monitor: sizes of another process's windows are then read in true pixels.
    if (!(setContext && setContext(reinterpret_cast<HANDLE>(-4)))) ::SetProcessDPIAware();
}

// What would be removed by the kit and is not its own.
std::vector<std::string> ReasonsToRefuse(const Kit& kit) {
    std::vector<std::string> found;
    for (const auto& t : Trees())
        if (Exists(t)) found.push_back(Narrow(t) + " exists");
    for (const auto& n : kit.plan.DesktopNames())
        if (Exists(Join(kit.desktop, n))) found.push_back("the desktop holds " + Narrow(n));
    return found;
}

std::string Joined(const std::vector<std::string>& items, const char* sep) {
    std::string out;
    for (const auto& i : items) out += (out.empty() ? "" : sep) + i;
    return out;
}

struct Args {
    std::wstring dist;
    std::vector<std::wstring> only;
};

bool Known(const std::wstring& id) {
    if (id == L"contract") return true;
    for (const Scenario& s : Scenarios())
        if (id == Wide(s.id)) return true;
    return false;
}

bool ParseArgs(int argc, wchar_t** argv, Args& a) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--only" && i + 1 < argc) {
            a.only.push_back(argv[++i]);
            if (!Known(a.only.back())) return false;
        } else if (!arg.empty() && arg[0] != L'-' && a.dist.empty()) {
            a.dist = arg;
        } else {
            return false;
        }
    }
    return true;
}

bool Selected(const Args& a, const char* id) {
    if (a.only.empty()) return true;
    for (const auto& o : a.only)
        if (o == Wide(id)) return true;
    return false;
}

// A killed run's Desktop value back, wherever the kit is started from.
Restored RestoreAtStart() {
    const Restored restored = RestoreDesktopNow();
    if (restored.what != Restored::kNothingSaved) Print("setup-check: " + Narrow(restored.message));
    return restored;
}

// What an interrupted run left, removed before anything else; false, said
// why, when some of it stays.
bool ClearedAtStart() {
    const Cleared cleared = ClearLeftovers();
    if (cleared.listed) {
        std::vector<std::string> removed, stayed;
        for (const auto& p : cleared.removed) removed.push_back(Narrow(p));
        for (const auto& p : cleared.stayed) stayed.push_back(Narrow(p));
        Print("setup-check: removed what an interrupted run left: " + (removed.empty() ? "nothing" : Joined(removed, ", ")));
        if (!stayed.empty()) {
            Print("setup-check: not started, because what an interrupted run left stays: " + Joined(stayed, ", "));
            return false;
        }
    }
    return true;
}

// Where the kit works, and the distribution and the desktop it checks; false,
// said why, when either is not there.
bool Placed(Kit& kit, const Args& args) {
    // Beside itself, never in the current folder: a prompt started as
    // administrator starts in System32.
    kit.home = ModuleFolder();
    const RegValue desktopValue = ReadDesktopValue();
    kit.desktop = FolderOf(desktopValue);
    kit.source = FullPath(args.dist.empty() ? Join(ModuleFolder(), L"dist") : args.dist);
    kit.work = Join(kit.home, std::wstring(kPrefix) + L"-work");
    kit.dist = Join(kit.work, L"dist");
    if (!IsAbsolutePath(kit.desktop) || !IsFolder(kit.desktop)) {
        Print("setup-check: not started, because the Desktop value of Shell Folders, " + Narrow(Describe(desktopValue)) +
              ", names no existing absolute folder");
        return false;
    }
    if (!Exists(Join(kit.source, L"Setup.exe"))) {
        Print("setup-check: no Setup.exe in " + Narrow(kit.source) + "; give the distribution folder");
        return false;
    }
    return true;
}

// Nothing the kit would remove after a scenario is there before the first;
// `restored` tells whether an interrupted run may have left it.
bool NothingInTheWay(const Kit& kit, const Restored& restored) {
    const auto refuse = ReasonsToRefuse(kit);
    if (!refuse.empty()) {
        Print("setup-check: not started, because " + Joined(refuse, ", ") +
              (restored.what == Restored::kNothingSaved
                   ? ". The kit removes these after every scenario: run it on a test machine without the installed program."
                   : ". The interrupted run may have left them: remove them, then start again."));
        return false;
    }
    return true;
}

// The list of what the run will create, written before any of it is; then
// the work folder and the run's folder.
bool FoldersMade(Kit& kit) {
    std::vector<std::wstring> willCreate = Trees();
    for (const auto& n : kit.plan.DesktopNames()) willCreate.push_back(Join(kit.desktop, n));
    willCreate.push_back(kit.work);
    if (!WriteLeftoverList(willCreate, kit.work)) {
        Print("setup-check: not started, because it cannot write its list of what it will create in " +
              Narrow(kit.home));
        return false;
    }
    if (!RemoveTree(kit.work) || !MakeFolders(kit.work) || !MakeRunFolder(kit)) {
        Print("setup-check: cannot make its folders in " + Narrow(kit.home));
        return false;
    }
    return true;
}

// The report's head, also said on the console: the system's facts, the
// distribution, a warning when elevated, and what the self-test could read.
std::vector<std::string> ReportHead(Kit& kit) {
    const std::vector<std::string> facts = SystemFacts(kit.desktop);
    std::vector<std::string> report{"setup-check " SETUP_VERSION_TEXT " report", ""};
    report.insert(report.end(), facts.begin(), facts.end());
    report.push_back("Distribution: " + Narrow(kit.source));
    Print("setup-check " SETUP_VERSION_TEXT ": " + Narrow(kit.source) + "; " + facts.front());
    if (Elevated()) {
        const std::string warning =
            "warning: setup-check runs elevated, and so does every Setup.exe it starts: the access faults an ordinary "
            "user meets cannot happen. Run it from a command prompt that was not started as administrator.";
        Print(warning);
        report.push_back(warning);
    }
    kit.readable = SelfTest(kit, report);
    Print("self-test: " + Joined(kit.readable.findings, "; "));
    return report;
}

// The selected scenarios, then the contract suite; false when the kit stopped.
bool RunSelected(Kit& kit, const Args& args, Tally& tally, std::vector<std::string>& report) {
    bool going = !kit.interrupted;
    for (const Scenario& s : Scenarios())
        if (going && Selected(args, s.id)) going = RunOne(kit, s.id, s.title, s.run, tally, report);
    if (going && Selected(args, "contract"))
        going = RunOne(kit, "contract", "file-operation contract suite", RunContractSuite, tally, report);
    if (!going) Print(kit.interrupted ? "interrupted: cleaned up and stopped" : "stopped: the machine could not be restored after the scenario above");
    return going;
}

// The work copy and the list removed, the report written and its summary said.
void Finish(const Kit& kit, Tally& tally, std::vector<std::string>& report) {
    RemoveTree(kit.work);
    ClearLeftovers();  // the list goes once nothing it names is left
    const std::string summary = tally.Summary();
    report.push_back("");
    report.push_back(summary);
    if (!WriteReport(kit, report)) Print("setup-check: cannot write " + Narrow(Join(kit.run, L"report.txt")));
    Print("report: " + Narrow(Join(kit.run, L"report.txt")));
    Print(summary);
}

int RunKit(int argc, wchar_t** argv) {
    Args args;
    if (!ParseArgs(argc, argv, args)) {
        Print("usage: setup-check [--only SCENARIO]... [DIST_FOLDER]");
        return kNotStarted;
    }
    MakeDpiAware();
    const OneKitAtATime one;
    if (!one.alone()) {
        Print("setup-check: not started, because another setup-check is running on this machine");
        return kNotStarted;
    }
    // Under Wine the desktop process writes Shell Folders as it starts: let
    // it, before the value is compared with the kit's replacement.
    if (UnderWine()) winedesktop::StartDesktop();
    const Restored restored = RestoreAtStart();
    if (restored.what == Restored::kFailed) {
        Print("setup-check: not started, because the Desktop value could not be restored");
        return kNotStarted;
    }
    if (!ClearedAtStart()) return kNotStarted;
    ::SetConsoleCtrlHandler(OnCtrl, TRUE);
    Kit kit;
    const KitShown shown(kit);
    if (!Placed(kit, args) || !NothingInTheWay(kit, restored) || !FoldersMade(kit)) return kNotStarted;
    std::vector<std::string> report = ReportHead(kit);
    Tally tally;
    const bool going = RunSelected(kit, args, tally, report);
    Finish(kit, tally, report);
    return tally.Status(going);
}

// The RunOnce entry's command, at the next logon after a kit that did not end,
// when the shell has started.
int RestoreOnly() {
    const OneKitAtATime one;
    if (!one.alone()) return kNotStarted;  // the running kit restores at its end
    return RestoreAtStart().what == Restored::kFailed ? kSomethingFailed : kNothingFailed;
}

int Main(int argc, wchar_t** argv) {
    const std::wstring mode = argc == 2 ? argv[1] : L"";
    if (mode == L"--own-boxes") return ShowOwnBoxes();
    if (mode == L"--restore-desktop") return RestoreOnly();
    return RunKit(argc, argv);
}

}  // namespace
}  // namespace kit

int wmain(int argc, wchar_t** argv) {
    try {
        return kit::Main(argc, argv);
    } catch (const std::exception& e) {
        kit::RestoreDesktopNow();
        std::fprintf(stderr, "setup-check: %s\n", e.what());
        return kit::kKitError;
    }
}
