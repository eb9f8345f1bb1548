#include "app/InstallPlan.h"

#include "app/Errors.h"
#include "app/Unit1.h"
#include "platform/fileops.h"

const Plan& InstallPlan() {
    static const Plan plan = {
        {Op::ReadLanguage, nullptr, nullptr},

        {Op::EnsureFolder, nullptr, L"C:\\Orvo_Tool"},
        {Op::EnsureFolder, nullptr, L"C:\\Orvo_Tool Data"},
        {Op::EnsureFolder, nullptr, L"C:\\Orvo_Tool Data\\DBZ"},
        {Op::EnsureFolder, nullptr, L"C:\\Orvo_Tool Data\\Dokum"},
        {Op::EnsureFolder, nullptr, L"C:\\Orvo_Tool Data\\Program"},

        {Op::Copy, L"Data\\Kesmark.pdf", L"C:\\Orvo_Tool\\Kesmark.pdf"},
        {Op::Copy, L"Data\\KesmarkE.pdf", L"C:\\Orvo_Tool\\KesmarkE.pdf"},
        {Op::Copy, L"Data\\KesmarkD.pdf", L"C:\\Orvo_Tool\\KesmarkD.pdf"},
        {Op::Copy, L"Data\\KesmarkS.pdf", L"C:\\Orvo_Tool\\KesmarkS.pdf"},
        {Op::Copy, L"Orvo Tool CZ.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Orvo Tool CZ.pdf"},
        {Op::Copy, L"Orvo Tool DE.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Orvo Tool DE.pdf"},
        {Op::Copy, L"Orvo Tool EN.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Orvo Tool EN.pdf"},

        {Op::DetectOutcome, nullptr, nullptr},

        {Op::Copy, L"dLangv.dat", L"C:\\Orvo_Tool\\dLangv.dat"},

        {Op::CopyKept, L"Data\\Power.txt", L"C:\\Orvo_Tool Data\\DBZ\\Power.txt"},
        {Op::CopyKept, L"Data\\Power.txt", L"C:\\Orvo_Tool Data\\Program\\Power.txt"},
        {Op::CopyKept, L"Data\\PowerEN.txt", L"C:\\Orvo_Tool Data\\DBZ\\PowerEN.txt"},
        {Op::CopyKept, L"Data\\PowerEN.txt", L"C:\\Orvo_Tool Data\\Program\\PowerEN.txt"},

        {Op::Copy, L"Data\\QCAFL.txt", L"C:\\Orvo_Tool Data\\DBZ\\QCAFL.txt"},
        {Op::Copy, L"Data\\QCAFL_EN.txt", L"C:\\Orvo_Tool Data\\DBZ\\QCAFL_EN.txt"},
        {Op::Copy, L"Data\\QBRENLOW.txt", L"C:\\Orvo_Tool Data\\DBZ\\QBRENLOW.txt"},
        {Op::Copy, L"Data\\QKV.txt", L"C:\\Orvo_Tool Data\\DBZ\\QKV.txt"},
        {Op::Copy, L"Data\\QPower1.txt", L"C:\\Orvo_Tool Data\\DBZ\\QPower1.txt"},

        {Op::Remove, nullptr, L"C:\\Orvo_Tool Data\\DBZ\\Rakoviny.txt"},

        {Op::Copy, L"Data\\QmtrinOrvoT.txt", L"C:\\Orvo_Tool\\QmtrinOrvoT.txt"},
        {Op::Copy, L"Data\\Power Seznam.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Power Seznam.pdf"},
        {Op::Copy, L"Data\\Q CAFL EN frequence.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Q CAFL EN frequence.pdf"},
        {Op::Copy, L"Data\\Q CAFL EN List.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Q CAFL EN List.pdf"},
        {Op::Copy, L"Data\\Q CAFL frekvence.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Q CAFL frekvence.pdf"},
        {Op::Copy, L"Data\\Q CAFL seznam.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Q CAFL seznam.pdf"},
        {Op::Copy, L"Data\\Q BRENLOW frekvence.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Q BRENLOW frekvence.pdf"},
        {Op::Copy, L"Data\\Q BRENLOW seznam.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Q BRENLOW seznam.pdf"},
        {Op::Copy, L"Data\\Q KV Frekvence.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Q KV Frekvence.pdf"},
        {Op::Copy, L"Data\\Q KV seznam.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Q KV seznam.pdf"},
        {Op::Copy, L"Data\\Q Power1 Seznam.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Q Power1 Seznam.pdf"},

        {Op::ClickRegister, nullptr, nullptr},
        {Op::ConfirmComplete, nullptr, nullptr},
        {Op::ShowCompletion, nullptr, nullptr},
        {Op::Terminate, nullptr, nullptr},
    };
    return plan;
}

const Plan& DesktopPlan() {
    // The two 4_1 names have two spaces before the language.
    static const Plan plan = {
        {Op::RemoveFromDesktop, nullptr, L"\\Orvo Tool 4_3.exe"},
        {Op::RemoveFromDesktop, nullptr, L"\\Orvo Tool 4_2 CZ.exe"},
        {Op::RemoveFromDesktop, nullptr, L"\\Orvo Tool 4_2 EN.exe"},
        {Op::RemoveFromDesktop, nullptr, L"\\Orvo Tool 4_1  CZ.exe"},
        {Op::RemoveFromDesktop, nullptr, L"\\Orvo Tool 4_1  EN.exe"},

        {Op::CopyToDesktop, L"Orvo Tool.lnk", L"\\Orvo Tool.lnk"},
        {Op::CopyToDesktop, L"Orvo_Tool DATA.lnk", L"\\Orvo_Tool DATA.lnk"},
        {Op::CopyLanguagePdf, nullptr, nullptr},

        {Op::Copy, L"Orvo Tool.exe", L"C:\\Orvo_Tool\\Orvo Tool.exe"},
        {Op::Copy, L"Orvo Dustrel.exe", L"C:\\Orvo_Tool\\Orvo Dustrel.exe"},
    };
    return plan;
}

const wchar_t* LanguagePdf(int language) {
    if (language < 0) return nullptr;
    if (language == 0) return L"Orvo Tool CZ.pdf";
    if (language == 2) return L"Orvo Tool DE.pdf";
    return L"Orvo Tool EN.pdf";
}

std::wstring DisplayName(const std::wstring& name) {
    constexpr std::size_t kMaxPath = 260, kKept = 60;
    if (name.size() <= kMaxPath) return name;
    return name.substr(0, kKept) + L"..." + name.substr(name.size() - kKept);
}

void PlanRunner::Reset() {
    failures_ = 0;
    firstFailure_.clear();
}

void PlanRunner::Run(const Plan& plan, TButton& registerButton) {
    for (const Step& step : plan) RunStep(step, registerButton);
}

// Every file step goes on after its own failure; the failure is only counted.
void PlanRunner::RunStep(const Step& step, TButton& registerButton) {
    switch (step.op) {
    case Op::ReadLanguage: ReadLanguage(); break;
    case Op::EnsureFolder:
        if (!fileops::DirectoryExists(step.target)) fileops::CreateDir(step.target);
        break;
    case Op::Copy: Copy(step.source, step.target); break;
    case Op::CopyKept:
        if (!fileops::FileExists(step.target)) Copy(step.source, step.target);
        break;
    case Op::Remove: Remove(step.target); break;
    case Op::DetectOutcome: DetectOutcome(); break;
    case Op::ClickRegister: registerButton.Click(); break;
    case Op::ConfirmComplete:
        if (failures_ > 0)
            throw Exception(Format(L"Installation incomplete: %d file(s) could not be installed (first: %s)",
                                   {Decimal(failures_), DisplayName(firstFailure_)}));
        break;
    case Op::ShowCompletion: ShowCompletion(); break;
    case Op::Terminate: Application->Terminate(); break;
    case Op::RemoveFromDesktop: Remove(DesktopPath(step.target)); break;
    case Op::CopyToDesktop: Copy(step.source, DesktopPath(step.target)); break;
    case Op::CopyLanguagePdf:
        if (const wchar_t* pdf = LanguagePdf(Languagem)) Copy(pdf, DesktopPath(std::wstring(L"\\") + pdf));
        break;
    }
}

// A copy takes its source's attributes; from read-only media that would make
// every installed file read-only and block every later upgrade.
void PlanRunner::Copy(const std::wstring& source, const std::wstring& target) {
    const bool copied = fileops::CopyFileW(source, target, false);
    if (copied) fileops::MakeWritable(target);
    Count(copied, target);
}

// An older copy that is not there is no failure; one that stays is.
void PlanRunner::Remove(const std::wstring& target) {
    fileops::DeleteFile(target);
    Count(!fileops::FileExists(target) && !fileops::DirectoryExists(target), target);
}

void PlanRunner::Count(bool ok, const std::wstring& target) {
    if (ok) return;
    if (failures_++ == 0) firstFailure_ = target;
}
