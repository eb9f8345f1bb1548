// Runs a plan: the file steps itself, the sequence's own steps through the
// one who runs the sequence. Keeps the account of files that could not be installed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/InstallPlan.h"
#include "platform/fileops.h"

// The files a run could not install, as the incomplete-installation message tells them.
struct FailureReport {
    int failures = 0;
    std::wstring firstTarget;      // the first failed file's target
    std::wstring failedSource;     // its source as the plan names it, when the source was at fault
    std::uint32_t firstError = 0;  // the system's code, taken where the call failed; 0 unknown
    bool noSourceFound = false;    // copies were tried, and every one lacked its source
};

// The file operations a run makes: the system's, or a test's stand-in that
// follows the same documented rules.
class FileSystem {
public:
    virtual bool FileExists(const std::wstring& path) = 0;
    virtual bool DirectoryExists(const std::wstring& path) = 0;
    virtual bool CreateDir(const std::wstring& path) = 0;
    virtual bool CreateProgramDir(const std::wstring& path) = 0;
    virtual bool RemoveFile(const std::wstring& path) = 0;
    // Fails when `target` exists.
    virtual bool CopyToNew(const std::wstring& source, const std::wstring& target) = 0;
    virtual bool OpensForReading(const std::wstring& path) = 0;
    virtual bool MakeWritable(const std::wstring& path) = 0;
    virtual bool DropZoneMark(const std::wstring& path) = 0;
    virtual bool FlushFile(const std::wstring& path) = 0;
    virtual bool Publish(const std::wstring& from, const std::wstring& to, bool replace) = 0;
    virtual bool InUse(const std::wstring& path) = 0;
    virtual bool IsReadFault(std::uint32_t error) = 0;
    virtual fileops::FolderHold HoldFolder(const std::wstring& path) = 0;
    virtual bool HeldFolderIsPlain(const std::wstring& path) = 0;
    virtual void ReleaseFolders() = 0;
    // 0 once the machine's installation lock is held, else the system's code.
    virtual std::uint32_t LockInstallation() = 0;
    virtual void UnlockInstallation() = 0;
    virtual std::uint32_t LastError() = 0;

protected:
    ~FileSystem() = default;
};

FileSystem& SystemFiles();

// The steps of the sequence that are not file operations; the main window
// implements them.
class SequenceSteps {
public:
    virtual void ReadLanguage() = 0;
    virtual void DetectOutcome() = 0;
    virtual void ClickRegister() = 0;
    // Raises the error that ends a run in which files could not be installed.
    virtual void ReportIncomplete(const FailureReport& report) = 0;
    // Raises the error that ends a run which changed nothing: the lock could
    // not be had, for the system's reason `error`.
    virtual void ReportNoLock(std::uint32_t error) = 0;
    virtual void ShowCompletion() = 0;
    virtual void Terminate() = 0;
    // The desktop folder, read afresh, followed by `name` (beginning with a backslash).
    virtual std::wstring DesktopPath(const std::wstring& name) = 0;
    virtual int Language() const = 0;

protected:
    ~SequenceSteps() = default;
};

// Where a file is written before it is published under `target`: beside it,
// so that publishing is a rename within one folder; never one of the plan's
// names, and left behind only by a run that was killed.
std::wstring TemporaryName(const std::wstring& target);

// A name as the error box can show it: one longer than MAX_PATH keeps its
// first and last 60 characters around "...", so the box stays on the screen;
// a surrogate pair at either cut stays whole or goes whole.
std::wstring DisplayName(const std::wstring& name);

class PlanRunner {
public:
    explicit PlanRunner(FileSystem& files = SystemFiles()) : files_(&files) {}
    void Reset();
    void Run(const Plan& plan, SequenceSteps& sequence);
    // Run, with the machine's installation lock held from the first step
    // after the language is read until the first box; without the lock the
    // run changes nothing.
    void Install(const Plan& plan, SequenceSteps& sequence);

    FailureReport Report() const;

private:
    // A folder of the trees as it was found: held, refused, or not there.
    struct Folder {
        std::wstring path;
        std::uint32_t refusedWith;  // 0 while held
        bool absent;                // not there, or no folder: nothing of it to remove
    };

    void RunStep(const Step& step, SequenceSteps& sequence);
    void Ensure(const std::wstring& folder, bool program);
    bool Refused(const std::wstring& target, const std::wstring* source);
    const Folder* Refusal(const std::wstring& folder);
    void MakeProgramFolder(const std::wstring& folder);
    void Copy(const std::wstring& source, const std::wstring& target, bool replace = true);
    void CopyFailed(const std::wstring& source, const std::wstring& target, std::uint32_t error);
    void Blame(const std::wstring& source, const std::wstring& target, std::uint32_t error);
    void PublishFailed(const std::wstring& target, bool replace, std::uint32_t error);
    void Discard(const std::wstring& temporary);
    void Remove(const std::wstring& target);
    void Count(bool ok, const std::wstring& failedSource, const std::wstring& target, std::uint32_t error);

    FileSystem* files_;
    FailureReport report_;
    int copies_ = 0;
    int missingSources_ = 0;
    std::wstring programFolder_;           // could not be made for its own reason
    std::uint32_t programFolderError_ = 0;  // that reason
    std::vector<Folder> folders_;
};
