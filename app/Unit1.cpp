#include "app/Unit1.h"

#include "app/Errors.h"
#include "app/Texts.h"
#include "app/resources/form1_layout.h"
#include "platform/process.h"
#include "platform/shellfolders.h"
#include "platform/text.h"

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

// 0, or the error code of the step that failed; the file is closed either way.
std::uint32_t ReadLanguageCode(fileops::RecordFile& file, const std::wstring& name, std::int32_t& code) {
    file.Assign(name);
    if (const auto error = file.Reset()) return error;
    if (const auto error = file.Read(code)) {
        file.Close();
        return error;
    }
    return file.Close();
}

void ReadLanguageFrom(const wchar_t* name) {
    std::int32_t code = 0;
    if (const auto error = ReadLanguageCode(SoubLnguag, name, code)) throw EInOutError(error);
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
    runner_.Install(InstallPlan(), *this);
}

void TForm1::RegisterClick(TObject*) { runner_.Run(DesktopPlan(), *this); }

void TForm1::ReadLanguage() { ::ReadLanguage(); }
void TForm1::DetectOutcome() { ::DetectOutcome(); }
void TForm1::ShowCompletion() { ::ShowCompletion(); }
void TForm1::ReportIncomplete(const FailureReport& report) { throw Exception(IncompleteMessage(report)); }
void TForm1::ReportNoLock(std::uint32_t error) { throw Exception(NoLockMessage(error)); }
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

namespace {

std::wstring FolderOf(const std::wstring& path) {
    const auto slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? L"" : path.substr(0, slash);
}

bool SameFolder(std::wstring a, std::wstring b) {
    while (a.size() > 1 && a.back() == L'\\') a.pop_back();
    while (b.size() > 1 && b.back() == L'\\') b.pop_back();
    return text::LowerCase(a) == text::LowerCase(b);
}

bool AnySourceHere() {
    for (const Plan* plan : {&InstallPlan(), &DesktopPlan()})
        for (const Step& step : *plan)
            if (step.source && fileops::FileExists(step.source)) return true;
    return false;
}

// Started elsewhere (a command prompt, a shortcut's "Start in", a file
// opened inside a zip): it names where Setup ran, and where the files are
// when Setup's own folder holds them.
std::wstring WrongFolderLine(int language) {
    const std::wstring current = process::CurrentDirectory();
    const std::wstring own = FolderOf(process::ExecutablePath());
    const bool filesThere = !own.empty() && !SameFolder(own, current) &&
                            (fileops::FileExists(own + L"\\" + kLanguageFile) ||
                             fileops::FileExists(own + L"\\Orvo Tool.exe"));
    std::wstring line = Format(IncompleteText(language, IncompleteLine::WrongFolder), {current});
    if (filesThere) line += Format(IncompleteText(language, IncompleteLine::FilesAreIn), {own});
    return line;
}

// A run started elsewhere finds no language file here and speaks Czech; the
// distribution beside Setup.exe tells which language its user reads. The
// installation's own language stays as it was read.
int MessageLanguage() {
    const std::wstring folder = FolderOf(process::ExecutablePath());
    if (folder.empty() || fileops::FileExists(kLanguageFile)) return Languagem;
    const std::wstring own = folder + L"\\" + kLanguageFile;
    fileops::RecordFile file;
    std::int32_t code = 0;
    if (!fileops::FileExists(own) || ReadLanguageCode(file, own, code) != 0) return Languagem;
    return code;
}

// What went wrong with the first file: the source's name only when the
// source was at fault, since the first line already names the target.
std::wstring ReasonLine(const FailureReport& report, int language) {
    if (report.firstError == 0) return L"";
    const std::wstring reason = fileops::ErrorText(report.firstError, LanguageId(language));
    if (report.failedSource.empty()) return reason;
    return DisplayName(report.failedSource) + L": " + reason;
}

}  // namespace

// The count and the first failed target, then what went wrong with it in the
// system's own words, or that Setup was started from the wrong folder.
std::wstring IncompleteMessage(const FailureReport& report) {
    const int language = MessageLanguage();
    const std::wstring first = Format(IncompleteText(language, IncompleteLine::Failures),
                                      {Decimal(report.failures), DisplayName(report.firstTarget)});
    const std::wstring second =
        report.noSourceFound && !AnySourceHere() ? WrongFolderLine(language) : ReasonLine(report, language);
    return second.empty() ? first : first + L"\n" + second;
}

std::wstring NoLockMessage(std::uint32_t error) {
    return std::wstring(NoLockText(Languagem)) + L"\n" + fileops::ErrorText(error, LanguageId(Languagem));
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
