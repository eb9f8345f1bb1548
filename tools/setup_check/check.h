// One scenario's account (what failed, what could not be checked) and the
// kit's state shared by the scenarios.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "tools/boxdriver/boxdriver.h"
#include "tools/setup_check/machine.h"
#include "tools/setup_check/plan.h"

namespace kit {

// Thrown by a scenario that cannot go on: a failure with its reason.
struct Broken {
    std::string why;
};
// Thrown by a scenario this system cannot run, with the reason.
struct Skip {
    std::string why;
};
// Ctrl+C or a closed console: stop after cleaning up.
struct Interrupted {};

class Check {
public:
    void Expect(bool ok, const std::string& what) {
        if (!ok) failures_.push_back(what);
    }
    void Equal(const std::wstring& got, const std::wstring& wanted, const std::string& what);
    void NotChecked(const std::string& what) { notChecked_.push_back(what); }
    void Note(const std::string& what) { notes_.push_back(what); }  // shown in the scenario's line
    const std::vector<std::string>& failures() const { return failures_; }
    const std::vector<std::string>& notChecked() const { return notChecked_; }
    const std::vector<std::string>& notes() const { return notes_; }

private:
    std::vector<std::string> failures_, notChecked_, notes_;
};

struct Kit {
    std::wstring source;    // the distribution under check, never changed
    std::wstring home;      // report, pictures and work folder
    std::wstring work, dist, pictures, saveFile;
    std::wstring desktop;   // the user's desktop folder
    const Plan& plan = ExpectedPlan();
    std::atomic<bool> interrupted{false};
    // Set by the running scenario.
    std::string scenario;
    int runs = 0;
    std::vector<std::wstring> extraDesktops;  // folders the scenario made and used as a desktop
    std::vector<std::string> details;         // what the report says about the scenario's runs
};

std::wstring Wide(const std::string& s);
std::string Narrow(const std::wstring& s);
// "%d" and "%s" replaced in order.
std::wstring Format(const std::wstring& pattern, int number, const std::wstring& text);
std::wstring Format(const std::wstring& pattern, const std::wstring& first, const std::wstring& second);
// A box's final period, as the product's boxes add it.
std::wstring WithFinalPeriod(std::wstring text);

// The distribution copied afresh into the work folder with this language file.
void PrepareDistribution(Kit& kit, int language);
// Starts a Setup.exe of the work copy (in `cwd`, else its own folder) through
// the box driver; every window it showed goes into the report.
boxdriver::Run RunSetup(Kit& kit, const std::wstring& exeName = L"Setup.exe", const std::wstring& cwd = L"");

// One completion box (task dialog, no icon, one OK button), nothing left open, exit 0.
void ExpectCompletion(Check& check, const boxdriver::Run& run, const std::wstring& text,
                      const std::wstring& caption = L"Setup");
// One error box (stop icon, one OK), then the empty main window stays; exit 1. The window, or null.
const boxdriver::Seen* ExpectError(Check& check, const boxdriver::Run& run, const std::wstring& text);

}  // namespace kit
