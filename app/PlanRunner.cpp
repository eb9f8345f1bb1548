#include "app/PlanRunner.h"

#include "platform/fileops.h"

namespace {

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

class SystemFileSystem final : public FileSystem {
public:
    bool FileExists(const std::wstring& path) override { return fileops::FileExists(path); }
    bool DirectoryExists(const std::wstring& path) override { return fileops::DirectoryExists(path); }
    bool CreateDir(const std::wstring& path) override { return fileops::CreateDir(path); }
    bool RemoveFile(const std::wstring& path) override { return fileops::DeleteFile(path); }
    bool CopyOver(const std::wstring& source, const std::wstring& target) override {
        return fileops::CopyFileW(source, target, false);
    }
    bool OpensForReading(const std::wstring& path) override { return fileops::OpensForReading(path); }
    bool MakeWritable(const std::wstring& path) override { return fileops::MakeWritable(path); }
    bool DropZoneMark(const std::wstring& path) override { return fileops::DropZoneMark(path); }
    std::uint32_t LastError() override { return fileops::LastError(); }
};

}  // namespace

FileSystem& SystemFiles() {
    static SystemFileSystem files;
    return files;
}

std::wstring DisplayName(const std::wstring& name) {
    constexpr std::size_t kMaxPath = 260, kKept = 60;
    if (name.size() <= kMaxPath) return name;
    const std::size_t head = IsHighSurrogate(name[kKept - 1]) ? kKept - 1 : kKept;
    std::size_t tail = name.size() - kKept;
    if (IsLowSurrogate(name[tail])) ++tail;
    return name.substr(0, head) + L"..." + name.substr(tail);
}

void PlanRunner::Reset() {
    report_ = FailureReport();
    copies_ = missingSources_ = 0;
}

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
        if (!files_->DirectoryExists(step.target)) files_->CreateDir(step.target);
        break;
    case Op::Copy: Copy(step.source, step.target); break;
    case Op::CopyKept:
        if (!files_->FileExists(step.target)) Copy(step.source, step.target);
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

// A copy takes its source's attributes and streams. Read-only media would
// make every installed file read-only and block every later upgrade, and the
// attribute must go before the download's zone mark can: it covers every
// stream of the file. A mark that stays is no failed copy. A failure is the
// source's when it is missing or will not open, else the target's.
void PlanRunner::Copy(const std::wstring& source, const std::wstring& target) {
    const bool copied = files_->CopyOver(source, target);
    const std::uint32_t error = copied ? 0 : files_->LastError();
    if (copied) {
        files_->MakeWritable(target);
        files_->DropZoneMark(target);
    }
    ++copies_;
    const bool sourceMissing = !copied && !files_->FileExists(source);
    if (sourceMissing) ++missingSources_;
    const bool sourceFailed = sourceMissing || (!copied && !files_->OpensForReading(source));
    Count(copied, sourceFailed ? source : std::wstring(), target, error);
}

// An older copy that is not there is no failure; one that stays is. A name
// that another process holds open with delete sharing stays listed until it
// lets go, although the deletion succeeded.
void PlanRunner::Remove(const std::wstring& target) {
    const bool deleted = files_->RemoveFile(target);
    const std::uint32_t error = deleted ? 0 : files_->LastError();
    Count(deleted || (!files_->FileExists(target) && !files_->DirectoryExists(target)), std::wstring(), target,
          error);
}

void PlanRunner::Count(bool ok, const std::wstring& failedSource, const std::wstring& target, std::uint32_t error) {
    if (ok) return;
    if (report_.failures++ > 0) return;
    report_.firstTarget = target;
    report_.failedSource = failedSource;
    report_.firstError = error;
}
