// The kit's state shared by the scenarios, and what they throw.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "lab/boxdriver/boxdriver.h"
#include "kit/src/machine.h"
#include "kit/src/outcome.h"
#include "kit/src/plan.h"
#include "kit/src/reading.h"

namespace kit {

// Thrown by a scenario the kit could not prepare (a file it could not place,
// lock or copy: Controlled Folder Access, say): inconclusive, never Setup's fault.
struct NotPrepared {
    std::string why;
};
// Thrown when Setup itself did something that ends the scenario: a failure.
struct SetupFault {
    std::string why;
};
// Thrown by a scenario this system cannot run, with the reason.
struct Skip {
    std::string why;
};
// Thrown by a scenario the kit could not perform here, with the reason.
struct CannotCheck {
    std::string why;
};
// Ctrl+C or a closed console: stop after cleaning up.
struct Interrupted {};

struct Kit {
    std::wstring source;    // the distribution under check, never changed
    std::wstring home;      // beside setup-check.exe: the reports and the work folder
    std::wstring run;       // this run's report folder, named by its start
    std::wstring work, dist, pictures;
    std::wstring desktop;   // the user's desktop folder
    const Plan& plan = ExpectedPlan();
    Readable readable;  // what the self-test showed the kit can read of a box here
    std::atomic<bool> interrupted{false};
    // Set by the running scenario.
    std::string scenario;
    int runs = 0;
    std::vector<std::wstring> extraDesktops;  // folders the scenario made and used as a desktop
    std::vector<std::string> details;         // what the report says about the scenario's runs
};

// "%d" and "%s" replaced in order.
std::wstring Format(const std::wstring& pattern, int number, const std::wstring& text);
std::wstring Format(const std::wstring& pattern, const std::wstring& first, const std::wstring& second);
// A box's final period, as the product's boxes add it.
std::wstring WithFinalPeriod(std::wstring text);

// Shows the kit's own boxes (the --own-boxes child) and reads them as it reads
// Setup's; what it could read goes to the report.
Readable SelfTest(Kit& kit, std::vector<std::string>& report);
// The child's side: the task dialog and the message box the self-test reads.
int ShowOwnBoxes();

// The distribution copied afresh into the work folder with this language file.
void PrepareDistribution(Kit& kit, int language);
// Starts a Setup.exe of the work copy (in `cwd`, else its own folder) through
// the box driver; every window it showed goes into the report.
boxdriver::Run RunSetup(Kit& kit, const std::wstring& exeName = L"Setup.exe", const std::wstring& cwd = L"");

}  // namespace kit
