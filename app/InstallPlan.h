// The installation as data: ordered steps whose names a reader can check line
// by line, run by one short loop that also keeps the count of failed files.
#pragma once

#include <string>
#include <vector>

enum class Op {
    ReadLanguage,
    EnsureFolder,        // target: created when missing, one level
    Copy,                // replaced: copied over whatever is there
    CopyKept,            // kept: copied only when the target is not an existing file
    Remove,              // removed from the installed tree
    DetectOutcome,
    ClickRegister,       // the desktop deployment
    ConfirmComplete,     // raises when any file could not be installed
    ShowCompletion,
    Terminate,
    RemoveFromDesktop,   // target: a desktop name beginning with a backslash
    CopyToDesktop,       // source to the desktop name in target
    CopyLanguagePdf,     // the program's PDF in the installation's language
};

struct Step {
    Op op;
    const wchar_t* source;
    const wchar_t* target;
};

using Plan = std::vector<Step>;

const Plan& InstallPlan();  // what the Setup button does
const Plan& DesktopPlan();  // what the Register button does

// The desktop PDF for a language code, or nullptr for none.
const wchar_t* LanguagePdf(int language);

// A name as the error box can show it: one longer than MAX_PATH keeps its
// first and last 60 characters around "...", so the box stays on the screen.
std::wstring DisplayName(const std::wstring& name);

class TButton;

class PlanRunner {
public:
    void Reset();
    void Run(const Plan& plan, TButton& registerButton);

    int Failures() const { return failures_; }
    const std::wstring& FirstFailure() const { return firstFailure_; }

private:
    void RunStep(const Step& step, TButton& registerButton);
    void Copy(const std::wstring& source, const std::wstring& target);
    void Remove(const std::wstring& target);
    void Count(bool ok, const std::wstring& target);

    int failures_ = 0;
    std::wstring firstFailure_;
};
