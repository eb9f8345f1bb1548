#include "app/Unit1.h"

#include "app/Errors.h"
#include "app/Texts.h"
#include "app/resources/form1_layout.h"
#include "platform/shellfolders.h"

std::int32_t Languagem = 0;
fileops::RecordFile SoubLnguag;
bool instal = false;
bool upgrade = false;
std::wstring Desktopadrstr;
const wchar_t* Desktopadr = nullptr;
TForm1* Form1 = nullptr;

namespace {

const wchar_t kInstalledLanguageFile[] = L"C:\\Orvo_Tool\\dLangv.dat";
const wchar_t kLanguageFile[] = L"dLangv.dat";
const wchar_t kInstalledProgram[] = L"C:\\Orvo_Tool\\Orvo Tool.exe";
const wchar_t kNoDesktop[] = L"Nemůžu v registrech najít cestu k pracovní ploše.";

// The file is closed before any error leaves.
void ReadLanguageFrom(const wchar_t* name) {
    SoubLnguag.Assign(name);
    if (const auto error = SoubLnguag.Reset()) throw EInOutError(error);
    std::int32_t code = 0;
    if (const auto error = SoubLnguag.Read(code)) {
        SoubLnguag.Close();
        throw EInOutError(error);
    }
    if (const auto error = SoubLnguag.Close()) throw EInOutError(error);
    Languagem = code;
}

}  // namespace

TForm1::TForm1() {
    Setup.OnClick = [this](TObject* sender) { SetupClick(sender); };
    Register.OnClick = [this](TObject* sender) { RegisterClick(sender); };
    CreateWindowFrom(Form1Layout(), {&Setup, &Register});
}

void TForm1::FormCreate(TObject*) { Setup.Click(); }

void TForm1::SetupClick(TObject*) {
    runner_.Reset();
    runner_.Run(InstallPlan(), *this);
}

void TForm1::RegisterClick(TObject*) { runner_.Run(DesktopPlan(), *this); }

void TForm1::ReadLanguage() { ::ReadLanguage(); }
void TForm1::DetectOutcome() { ::DetectOutcome(); }
void TForm1::ShowCompletion() { ::ShowCompletion(); }
void TForm1::Terminate() { Application->Terminate(); }
std::wstring TForm1::DesktopPath(const std::wstring& name) { return ::DesktopPath(name); }

// The installed copy decides over the distribution's.
void ReadLanguage() {
    if (fileops::FileExists(kInstalledLanguageFile))
        ReadLanguageFrom(kInstalledLanguageFile);
    else if (fileops::FileExists(kLanguageFile))
        ReadLanguageFrom(kLanguageFile);
    else
        Languagem = 0;
}

void DetectOutcome() {
    upgrade = fileops::FileExists(kInstalledProgram);
    instal = !upgrade;
}

std::wstring CompletionMessageText(int volba) {
    const wchar_t* entry = CompletionTableEntry(Languagem, volba);
    return entry ? entry : L"";
}

void ShowCompletion() {
    if (instal) ShowMessagePos(CompletionMessageText(mkInstallationCompleted), -1, -1);
    if (upgrade) ShowMessagePos(CompletionMessageText(mkUpgradeCompleted), -1, -1);
}

// A missing or empty entry is refused like a missing key: otherwise every
// desktop path would point at the root of the current drive.
std::wstring GetDesktopDir() {
    const shellfolders::DesktopLookup lookup = shellfolders::ReadDesktopFolder();
    switch (lookup.status) {
    case shellfolders::Status::Found: return lookup.value;
    case shellfolders::Status::InvalidType: throw Exception(Format(L"Invalid data type for '%s'", {L"Desktop"}));
    case shellfolders::Status::ReadFailed: throw Exception(Format(L"Failed to get data for '%s'", {L"Desktop"}));
    case shellfolders::Status::Missing:
    case shellfolders::Status::KeyMissing: break;
    }
    throw Exception(kNoDesktop);
}

const std::wstring& DesktopPath(const std::wstring& name) {
    const std::wstring desktopFolder = GetDesktopDir();
    Desktopadrstr = desktopFolder + name;
    Desktopadr = Desktopadrstr.c_str();
    return Desktopadrstr;
}
