// Running Setup.exe and reading what it showed, by controls where the box has
// them and through accessibility where it draws its own text.
#include <cstdio>

#include "platform/win32/handles.h"
#include "kit/src/check.h"

#include <commctrl.h>  // after windows.h, which check.h brings

namespace kit {
namespace {

std::wstring Joined(const std::vector<std::wstring>& items) {
    std::wstring out;
    for (const auto& i : items) out += (out.empty() ? L"" : L", ") + i;
    return out;
}

void Describe(Kit& kit, const boxdriver::Seen& s, int run) {
    const BoxReading r = Read(s);
    std::string line = "  run " + std::to_string(run) + ", " + s.kind + " \"" + Narrow(s.caption) + "\"";
    if (s.kind == "box") {
        line += r.messageBox ? " (message box)" : " (task dialog)";
        line += r.textRead ? ", text read through " + r.via + ": " + Escaped(r.text) : ", text not readable";
        if (r.headingRead && !r.messageBox) line += "; heading: \"" + Escaped(r.heading) + "\"";
        line += "; buttons: " + (r.buttonsRead ? Narrow(Joined(r.buttons)) : "not readable");
        line += "; icon: " + (r.iconRead ? r.icon : "not readable");
        if (s.accessibleRead) {
            line += "; through accessibility: \"" + Escaped(Joined(s.accessibleTexts)) + "\" [" +
                    Narrow(Joined(s.accessibleButtons)) + "]";
        } else {
            char status[16];
            std::snprintf(status, sizeof status, "0x%08lx", static_cast<unsigned long>(s.accessibleStatus));
            line += "; accessibility not readable (" + std::string(status) + ")";
        }
    }
    line += "; client " + std::to_string(s.client.cx) + "x" + std::to_string(s.client.cy) + " at " +
            std::to_string(s.dpi) + " dpi";
    if (!s.shot.empty()) line += "; picture " + Narrow(s.shot.substr(kit.home.size() + 1));
    kit.details.push_back(line);
}

}  // namespace

std::wstring Format(const std::wstring& pattern, int number, const std::wstring& text) {
    std::wstring out = pattern;
    out.replace(out.find(L"%d"), 2, std::to_wstring(number));
    out.replace(out.find(L"%s"), 2, text);
    return out;
}

std::wstring Format(const std::wstring& pattern, const std::wstring& first, const std::wstring& second) {
    std::wstring out = pattern;
    const auto at = out.find(L"%s");
    out.replace(at, 2, first);
    const auto next = out.find(L"%s", at + first.size());
    if (next != std::wstring::npos) out.replace(next, 2, second);
    return out;
}

std::wstring WithFinalPeriod(std::wstring text) {
    if (!text.empty() && static_cast<unsigned>(text.back()) > L'.') text += L'.';
    return text;
}

void PrepareDistribution(Kit& kit, int language) {
    if (!RemoveTree(kit.dist)) throw NotPrepared{"cannot remove the work copy " + Narrow(kit.dist)};
    if (!CopyTree(kit.source, kit.dist)) throw NotPrepared{"cannot copy the distribution to " + Narrow(kit.dist)};
    const char code[4] = {static_cast<char>(language), 0, 0, 0};
    if (!WriteFile(Join(kit.dist, L"dLangv.dat"), std::string(code, 4)))
        throw NotPrepared{"cannot write the work copy's dLangv.dat"};
}

boxdriver::Run RunSetup(Kit& kit, const std::wstring& exeName, const std::wstring& cwd) {
    if (kit.interrupted) throw Interrupted{};
    boxdriver::Options o;
    o.exe = Join(kit.dist, exeName);
    o.cwd = cwd.empty() ? kit.dist : cwd;
    const int run = ++kit.runs;
    o.shotPrefix = Join(kit.pictures, Wide(kit.scenario) + L"-" + std::to_wstring(run));
    o.timeoutMs = 60000;
    o.readAccessible = true;
    o.abort = &kit.interrupted;
    boxdriver::Run result = boxdriver::Drive(o);
    if (result.aborted) throw Interrupted{};
    // Windows refusing to start it (elevation asked, blocked as a threat) is Setup's to answer for.
    if (!result.error.empty()) throw SetupFault{"cannot start " + Narrow(o.exe) + ": " + Narrow(result.error)};
    for (const auto& s : result.seen) Describe(kit, s, run);
    kit.details.push_back("  run " + std::to_string(run) + " exit status " + std::to_string(result.exitCode) +
                          (result.timedOut ? " (ended by the kit after 60 s)" : ""));
    return result;
}

Readable SelfTest(Kit& kit, std::vector<std::string>& report) {
    boxdriver::Options o;
    o.exe = ModulePath();
    o.args = L"--own-boxes";
    o.cwd = kit.work;
    o.shotPrefix = Join(kit.pictures, L"self-test");
    o.timeoutMs = 30000;
    o.readAccessible = true;
    o.abort = &kit.interrupted;
    const boxdriver::Run run = boxdriver::Drive(o);
    kit.details.clear();
    for (const auto& s : run.seen) Describe(kit, s, 1);
    Readable can = Calibrate(run);
    report.push_back("");
    report.push_back("Self-test, the kit's own boxes read as Setup's are:");
    for (const auto& f : can.findings) report.push_back("  " + f);
    report.insert(report.end(), kit.details.begin(), kit.details.end());
    kit.details.clear();
    return can;
}

int ShowOwnBoxes() {
    TASKDIALOG_BUTTON button{kOwnButtonId, kOwnButton};
    TASKDIALOGCONFIG c{};
    c.cbSize = sizeof c;
    c.dwCommonButtons = TDCBF_OK_BUTTON;
    c.pszWindowTitle = kOwnCaption;
    c.pszMainIcon = TD_INFORMATION_ICON;
    c.pszMainInstruction = kOwnHeading;
    c.pszContent = kOwnText;
    c.cButtons = 1;
    c.pButtons = &button;
    // Looked up when shown: loading comctl32 at start registers its window
    // classes, which under Wine starts the desktop process, and that rewrites
    // the Desktop value before --restore-desktop has compared it.
    using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);
    const win32::UniqueModule comctl(::LoadLibraryW(L"comctl32.dll"));  // version 6, by the manifest
    const auto show = comctl ? reinterpret_cast<TaskDialogIndirectFn>(reinterpret_cast<void*>(
                                   ::GetProcAddress(comctl.get(), "TaskDialogIndirect")))
                             : nullptr;
    const HRESULT shown = show ? show(&c, nullptr, nullptr, nullptr) : E_NOTIMPL;
    ::MessageBoxW(nullptr, kOwnMessage, kOwnCaption, MB_OK | MB_ICONHAND);
    return SUCCEEDED(shown) ? 0 : 1;
}

}  // namespace kit
