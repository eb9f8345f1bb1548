// The main window unit: the form, its handlers and the state shared by the
// installation's steps for the life of the process.
#pragma once

#include <cstdint>
#include <string>

#include "app/Forms.h"
#include "app/PlanRunner.h"
#include "platform/fileops.h"

extern std::int32_t Languagem;          // 0 Czech, 1 English, 2 German, 3 Swedish, 4 Russian
extern fileops::RecordFile SoubLnguag;  // the language file while it is read
extern bool instal;                     // this run is a fresh installation
extern bool upgrade;                    // this run is an upgrade
extern std::wstring Desktopadrstr;      // the last composed desktop path
extern const wchar_t* Desktopadr;       // its characters, as handed to the copy

class TForm1 : public TForm, private SequenceSteps {
public:
    TForm1();

    TButton Setup;
    TButton Register;

    void FormCreate(TObject* Sender) override;
    void SetupClick(TObject* Sender);
    void RegisterClick(TObject* Sender);

    const PlanRunner& Runner() const { return runner_; }

private:
    void ReadLanguage() override;
    void DetectOutcome() override;
    void ClickRegister() override { Register.Click(); }
    void ReportIncomplete(const FailureReport& report) override;
    void ReportNoLock(std::uint32_t error) override;
    void ShowCompletion() override;
    void Terminate() override;
    std::wstring DesktopPath(const std::wstring& name) override;
    int Language() const override { return Languagem; }

    PlanRunner runner_;
};

extern TForm1* Form1;

void ReadLanguage();
void DetectOutcome();
std::wstring CompletionMessageText(int volba);
void ShowCompletion();
// The incomplete-installation error, in the installation's language, or in that of
// the language file beside Setup.exe when the current folder has none.
std::wstring IncompleteMessage(const FailureReport& report);
// The lock cannot be had: in the installation's language, with the system's reason.
std::wstring NoLockMessage(std::uint32_t error);
std::wstring GetDesktopDir();
// DesktopFolder, read afresh, followed by `name` (which begins with a backslash).
const std::wstring& DesktopPath(const std::wstring& name);
