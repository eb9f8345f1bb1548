// Runs a plan: the file steps itself, the sequence's own steps through the
// one who runs the sequence. Keeps the count of files that could not be installed.
#pragma once

#include <string>

#include "app/InstallPlan.h"

// The steps of the sequence that are not file operations; the main window
// implements them.
class SequenceSteps {
public:
    virtual void ReadLanguage() = 0;
    virtual void DetectOutcome() = 0;
    virtual void ClickRegister() = 0;
    virtual void ShowCompletion() = 0;
    virtual void Terminate() = 0;
    // The desktop folder, read afresh, followed by `name` (beginning with a backslash).
    virtual std::wstring DesktopPath(const std::wstring& name) = 0;
    virtual int Language() const = 0;

protected:
    ~SequenceSteps() = default;
};

// A name as the error box can show it: one longer than MAX_PATH keeps its
// first and last 60 characters around "...", so the box stays on the screen.
std::wstring DisplayName(const std::wstring& name);

class PlanRunner {
public:
    void Reset();
    void Run(const Plan& plan, SequenceSteps& sequence);

    int Failures() const { return failures_; }
    const std::wstring& FirstFailure() const { return firstFailure_; }

private:
    void RunStep(const Step& step, SequenceSteps& sequence);
    void Copy(const std::wstring& source, const std::wstring& target);
    void Remove(const std::wstring& target);
    void Count(bool ok, const std::wstring& target);

    int failures_ = 0;
    std::wstring firstFailure_;
};
