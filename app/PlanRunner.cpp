#include "app/PlanRunner.h"

#include "platform/fileops.h"
#include "platform/process.h"

namespace {

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

class SystemFileSystem final : public FileSystem {
public:
    bool FileExists(const std::wstring& path) override { return fileops::FileExists(path); }
    bool DirectoryExists(const std::wstring& path) override { return fileops::DirectoryExists(path); }
    bool CreateDir(const std::wstring& path) override { return fileops::CreateDir(path); }
    bool CreateProgramDir(const std::wstring& path) override { return fileops::CreateProgramDir(path); }
    bool RemoveFile(const std::wstring& path) override { return fileops::DeleteFile(path); }
    bool CopyToNew(const std::wstring& source, const std::wstring& target) override {
        return fileops::CopyFileW(source, target, true);
    }
    bool OpensForReading(const std::wstring& path) override { return fileops::OpensForReading(path); }
    bool MakeWritable(const std::wstring& path) override { return fileops::MakeWritable(path); }
    bool DropZoneMark(const std::wstring& path) override { return fileops::DropZoneMark(path); }
    bool FlushFile(const std::wstring& path) override { return fileops::FlushFile(path); }
    bool Publish(const std::wstring& from, const std::wstring& to, bool replace) override {
        return fileops::Publish(from, to, replace);
    }
    bool InUse(const std::wstring& path) override { return fileops::InUse(path); }
    bool IsReadFault(std::uint32_t error) override { return fileops::IsReadFault(error); }
    fileops::FolderHold HoldFolder(const std::wstring& path) override { return fileops::HoldFolder(path); }
    bool HeldFolderIsPlain(const std::wstring& path) override { return fileops::HeldFolderIsPlain(path); }
    void ReleaseFolders() override { fileops::ReleaseFolders(); }
    std::uint32_t LockInstallation() override { return process::LockInstallation(); }
    void UnlockInstallation() override { process::UnlockInstallation(); }
    std::uint32_t LastError() override { return fileops::LastError(); }
};

// Taken once, held until Release or the end of its scope, an error's too;
// never taken again after it was let go. So are the folders of the trees,
// held as they are ensured: nothing is written after the first box.
class InstallationLock {
public:
    explicit InstallationLock(FileSystem& files) : files_(&files) {}
    ~InstallationLock() { Release(); }
    InstallationLock(const InstallationLock&) = delete;
    InstallationLock& operator=(const InstallationLock&) = delete;
    std::uint32_t Take() {
        if (state_ != State::NotYet) return 0;
        const std::uint32_t error = files_->LockInstallation();
        state_ = error ? State::Done : State::Held;
        return error;
    }
    void Release() {
        if (state_ == State::Held) {
            files_->ReleaseFolders();
            files_->UnlockInstallation();
        }
        state_ = State::Done;
    }

private:
    enum class State { NotYet, Held, Done };
    FileSystem* files_;
    State state_ = State::NotYet;
};

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// No run may wait on another's box.
bool ShowsABox(Op op) { return op == Op::ConfirmComplete || op == Op::ShowCompletion; }

}  // namespace

FileSystem& SystemFiles() {
    static SystemFileSystem files;
    return files;
}

std::wstring TemporaryName(const std::wstring& target) { return target + L".setup-new"; }

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
    programFolder_.clear();
    programFolderError_ = 0;
    folders_.clear();
}

FailureReport PlanRunner::Report() const {
    FailureReport report = report_;
    report.noSourceFound = copies_ > 0 && missingSources_ == copies_;
    return report;
}

void PlanRunner::Run(const Plan& plan, SequenceSteps& sequence) {
    for (const Step& step : plan) RunStep(step, sequence);
}

// Reading the language changes nothing, and the box that says the lock
// cannot be had speaks the installation's language.
void PlanRunner::Install(const Plan& plan, SequenceSteps& sequence) {
    InstallationLock lock(*files_);
    for (const Step& step : plan) {
        if (ShowsABox(step.op))
            lock.Release();
        else if (step.op != Op::ReadLanguage)
            if (const std::uint32_t error = lock.Take()) return sequence.ReportNoLock(error);
        RunStep(step, sequence);
    }
}

// Every file step goes on after its own failure; the failure is only counted.
void PlanRunner::RunStep(const Step& step, SequenceSteps& sequence) {
    switch (step.op) {
    case Op::ReadLanguage: sequence.ReadLanguage(); break;
    case Op::EnsureFolder: Ensure(step.target, false); break;
    case Op::EnsureProgramFolder: Ensure(step.target, true); break;
    case Op::Copy: Copy(step.source, step.target); break;
    case Op::CopyKept:  // a killed run's leftover goes even where the list is kept; Copy counts a refusal
        if (!Refusal(FolderOf(step.target)) && files_->FileExists(step.target))
            Discard(TemporaryName(step.target));
        else
            Copy(step.source, step.target, false);
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

// A folder that is there keeps its access list. A folder of the trees that
// is a link leads out of them, and so does every folder below it: none is
// made there or through it, and whatever is meant for them fails, with the
// one code. A folder that is not there (a file in its way) stays refused for
// the run, with "path not found": its name could become a link at any time.
void PlanRunner::Ensure(const std::wstring& folder, bool program) {
    if (const Folder* above = Refusal(FolderOf(folder)))
        return folders_.push_back({folder, above->refusedWith, above->absent});
    fileops::FolderHold hold = files_->HoldFolder(folder);
    if (hold == fileops::FolderHold::NotThere && !files_->DirectoryExists(folder)) {
        if (program)
            MakeProgramFolder(folder);
        else
            files_->CreateDir(folder);
        hold = files_->HoldFolder(folder);
    }
    switch (hold) {
    case fileops::FolderHold::Held: folders_.push_back({folder, 0, false}); break;
    case fileops::FolderHold::Refused:
        folders_.push_back({folder, files_->LastError(), false});
        if (programFolder_ == folder) programFolder_.clear();  // the link is the reason
        break;
    case fileops::FolderHold::NotThere: folders_.push_back({folder, files_->LastError(), true}); break;
    }
}

// What was meant for a refused folder is counted: a copy's source is blamed
// as ever where the folder is merely not there; a removal from a folder that
// is not there found nothing to remove.
bool PlanRunner::Refused(const std::wstring& target, const std::wstring* source) {
    const Folder* folder = Refusal(FolderOf(target));
    if (!folder) return false;
    if (!folder->absent)
        Count(false, std::wstring(), target, folder->refusedWith);
    else if (source)
        Blame(*source, target, folder->refusedWith);
    return true;
}

// An empty folder can be made a reparse point by anyone who may change its
// attributes, held or not, and anyone may empty a folder of the data tree:
// a held folder is checked again before every name in it is used.
const PlanRunner::Folder* PlanRunner::Refusal(const std::wstring& folder) {
    for (Folder& f : folders_) {
        if (f.path != folder) continue;
        if (!f.refusedWith && !files_->HeldFolderIsPlain(folder)) f.refusedWith = files_->LastError();
        return f.refusedWith ? &f : nullptr;
    }
    return nullptr;
}

// A program folder not made for its own reason (the user's SID unreadable,
// say) is why its files fail, and the first of them says so. A file in its
// place is that file's story, which the copies tell.
void PlanRunner::MakeProgramFolder(const std::wstring& folder) {
    if (files_->CreateProgramDir(folder)) return;
    const std::uint32_t error = files_->LastError();
    if (files_->FileExists(folder)) return;
    programFolder_ = folder;
    programFolderError_ = error;
}

// Each file reaches its name whole or not at all: it is copied to its
// temporary name, made writable, unmarked and flushed there, then published
// in one step. A power cut may undo that rename (nothing documented makes a
// rename durable on Windows), which leaves the old file whole. The temporary
// name is made anew, never written through: a link another account put
// there meanwhile fails the copy. The read-only attribute a copy brings from
// read-only media covers every stream, so it must go before the download's
// zone mark can; a mark that stays fails nothing. A kept file is published
// only where its name is still free.
void PlanRunner::Copy(const std::wstring& source, const std::wstring& target, bool replace) {
    ++copies_;
    if (Refused(target, &source)) return;
    const std::wstring temporary = TemporaryName(target);
    Discard(temporary);
    if (!files_->CopyToNew(source, temporary)) return CopyFailed(source, target, files_->LastError());
    files_->MakeWritable(temporary);
    files_->DropZoneMark(temporary);
    if (files_->FlushFile(temporary) && files_->Publish(temporary, target, replace)) return;
    PublishFailed(target, replace, files_->LastError());
}

// Reading fails on the source's side: a missing source, one that will not
// open, a byte-range lock or a read error. Everything else is the target's.
void PlanRunner::CopyFailed(const std::wstring& source, const std::wstring& target, std::uint32_t error) {
    Discard(TemporaryName(target));
    Blame(source, target, error);
}

void PlanRunner::Blame(const std::wstring& source, const std::wstring& target, std::uint32_t error) {
    const bool sourceMissing = !files_->FileExists(source);
    if (sourceMissing) ++missingSources_;
    const bool sourceFailed = sourceMissing || files_->IsReadFault(error) || !files_->OpensForReading(source);
    Count(false, sourceFailed ? source : std::wstring(), target, error);
}

// Replacing a file that a running program or another process holds is
// refused as access denied, where the user must read that it is in use; a
// file refused for its own attribute or rights keeps access denied.
void PlanRunner::PublishFailed(const std::wstring& target, bool replace, std::uint32_t error) {
    Discard(TemporaryName(target));
    if (!replace && files_->FileExists(target)) return;  // the user's list came meanwhile: kept
    if (error == fileops::kErrorAccessDenied && files_->InUse(target)) error = fileops::kErrorSharingViolation;
    Count(false, std::wstring(), target, error);
}

// Only that exact name, made writable first: what was copied from read-only
// media before a kill is read-only.
void PlanRunner::Discard(const std::wstring& temporary) {
    if (files_->MakeWritable(temporary)) files_->RemoveFile(temporary);
}

// An older copy that is not there is no failure; one that stays is. A name
// that another process holds open with delete sharing stays listed until it
// lets go, although the deletion succeeded.
void PlanRunner::Remove(const std::wstring& target) {
    if (Refused(target, nullptr)) return;
    const bool deleted = files_->RemoveFile(target);
    const std::uint32_t error = deleted ? 0 : files_->LastError();
    Count(deleted || (!files_->FileExists(target) && !files_->DirectoryExists(target)), std::wstring(), target,
          error);
}

void PlanRunner::Count(bool ok, const std::wstring& failedSource, const std::wstring& target, std::uint32_t error) {
    if (ok) return;
    if (report_.failures++ > 0) return;
    const bool inMissingFolder = !programFolder_.empty() && target.size() > programFolder_.size() &&
                                 target.compare(0, programFolder_.size() + 1, programFolder_ + L"\\") == 0;
    report_.firstTarget = target;
    report_.failedSource = failedSource;
    report_.firstError = inMissingFolder && failedSource.empty() ? programFolderError_ : error;
}
