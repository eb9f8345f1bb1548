#include "app/PlanRunner.h"

#include "platform/fileops.h"

std::wstring DisplayName(const std::wstring& name) {
    constexpr std::size_t kMaxPath = 260, kKept = 60;
    if (name.size() <= kMaxPath) return name;
    return name.substr(0, kKept) + L"..." + name.substr(name.size() - kKept);
}

void PlanRunner::Reset() { *this = PlanRunner(); }

FailureReport PlanRunner::Report() const {
    FailureReport report = report_;
    report.noSourceFound = copies_ > 0 && missingSources_ == copies_;
    return report;
}

void PlanRunner::Run(const Plan& plan, SequenceSteps& sequence) {
    for (const Step& step : plan) RunStep(step, sequence);
}

// Every file step goes on after its own failure; the failure is only counted.
void PlanRunner::RunStep(const Step& step, SequenceSteps& sequence) {
    switch (step.op) {
    case Op::ReadLanguage: sequence.ReadLanguage(); break;
    case Op::EnsureFolder:
        if (!fileops::DirectoryExists(step.target)) fileops::CreateDir(step.target);
        break;
    case Op::Copy: Copy(step.source, step.target); break;
    case Op::CopyKept:
        if (!fileops::FileExists(step.target)) Copy(step.source, step.target);
        break;
    case Op::Remove: Remove(step.target); break;
    case Op::DetectOutcome: sequence.DetectOutcome(); break;
    case Op::ClickRegister: sequence.ClickRegister(); break;
    case Op::ConfirmComplete:
        if (report_.failures > 0) sequence.ReportIncomplete(Report());
        break;
    case Op::ShowCompletion: sequence.ShowCompletion(); break;
    case Op::Terminate: sequence.Terminate(); break;
    case Op::RemoveFromDesktop: Remove(sequence.DesktopPath(step.target)); break;
    case Op::CopyToDesktop: Copy(step.source, sequence.DesktopPath(step.target)); break;
    case Op::CopyLanguagePdf:
        if (const wchar_t* pdf = LanguagePdf(sequence.Language())) Copy(pdf, sequence.DesktopPath(std::wstring(L"\\") + pdf));
        break;
    }
}

// A copy takes its source's attributes; from read-only media that would make
// every installed file read-only and block every later upgrade.
void PlanRunner::Copy(const std::wstring& source, const std::wstring& target) {
    const bool copied = fileops::CopyFileW(source, target, false);
    const std::uint32_t error = copied ? 0 : fileops::LastError();
    if (copied) fileops::MakeWritable(target);
    ++copies_;
    if (!copied && !fileops::FileExists(source)) ++missingSources_;
    Count(copied, source, target, error);
}

// An older copy that is not there is no failure; one that stays is.
void PlanRunner::Remove(const std::wstring& target) {
    const bool deleted = fileops::DeleteFile(target);
    const std::uint32_t error = deleted ? 0 : fileops::LastError();
    Count(!fileops::FileExists(target) && !fileops::DirectoryExists(target), target, target, error);
}

void PlanRunner::Count(bool ok, const std::wstring& name, const std::wstring& target, std::uint32_t error) {
    if (ok) return;
    if (report_.failures++ > 0) return;
    report_.firstTarget = target;
    report_.firstName = name;
    report_.firstError = error;
}
