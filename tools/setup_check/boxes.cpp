// Running Setup.exe and reading what it showed, by controls where the box has
// them and through accessibility where it draws its own text.
#include <cstdio>

#include "tools/setup_check/check.h"

namespace kit {
namespace {

bool IsClass(const boxdriver::Control& c, const wchar_t* cls) { return _wcsicmp(c.cls.c_str(), cls) == 0; }

// What could be read of one box, and how.
struct BoxReading {
    bool messageBox = false;
    bool textRead = false, headingRead = false, iconRead = false, buttonsRead = false;
    std::wstring text, heading;
    std::string icon = "none", via;
    std::vector<std::wstring> buttons;
    bool okButton = false;
};

BoxReading Read(const boxdriver::Seen& s) {
    BoxReading r;
    std::vector<const boxdriver::Control*> statics;
    for (const auto& c : s.children) {
        if (IsClass(c, L"Static")) statics.push_back(&c);
        if (!c.icon.empty() && c.icon != "none") r.icon = c.icon;
        if (IsClass(c, L"Button") && c.visible) {
            r.buttons.push_back(c.text);
            r.okButton = r.okButton || c.id == IDOK;
            r.buttonsRead = true;
        }
    }
    for (const auto* c : statics)
        if (c->id == boxdriver::kMessageBoxTextId) r.messageBox = true, r.text = c->text;
    if (r.messageBox) {
        r.textRead = r.headingRead = r.iconRead = true;
        r.via = "controls";
    } else if (statics.size() > 1) {  // a task dialog of static controls (as Wine draws it): heading, then text
        r.heading = statics[0]->text;
        r.text = statics[1]->text;
        r.textRead = r.headingRead = r.iconRead = true;
        r.via = "controls";
    } else if (!s.accessibleTexts.empty()) {  // a task dialog that draws its own text (Windows)
        for (const auto& t : s.accessibleTexts) r.text += (r.text.empty() ? L"" : L"\n") + t;
        r.textRead = true;
        r.via = "accessibility";
    }
    if (!r.buttonsRead && s.accessibleRead && !s.accessibleButtons.empty()) {
        r.buttons = s.accessibleButtons;
        r.okButton = r.buttons.size() == 1;
        r.buttonsRead = true;
    }
    return r;
}

std::wstring Joined(const std::vector<std::wstring>& items) {
    std::wstring out;
    for (const auto& i : items) out += (out.empty() ? L"" : L", ") + i;
    return out;
}

std::string Escaped(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) out += c == L'\n' ? std::wstring(L"\\n") : std::wstring(1, c);
    return Narrow(out);
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

const boxdriver::Seen* OnlyBox(Check& check, const boxdriver::Run& run) {
    check.Expect(!run.timedOut, "Setup did not finish within 60 s (ended by the kit)");
    const boxdriver::Seen* box = nullptr;
    int boxes = 0;
    for (const auto& s : run.seen)
        if (s.kind == "box") box = &s, ++boxes;
    check.Expect(boxes == 1, "expected one box, saw " + std::to_string(boxes));
    return boxes == 1 ? box : nullptr;
}

void ExpectBox(Check& check, const BoxReading& r, const std::wstring& text, const std::string& icon) {
    if (r.textRead)
        check.Equal(r.text, text, "box text");
    else
        check.NotChecked("box text (neither controls nor accessibility expose it)");
    if (r.buttonsRead)
        check.Expect(r.buttons.size() == 1 && r.okButton, "box buttons: expected one OK, saw " + Narrow(Joined(r.buttons)));
    else
        check.NotChecked("box buttons (none readable)");
    if (r.iconRead && r.icon == "other")
        check.NotChecked("box icon (not one of the system's standard icons as the kit draws them here)");
    else if (r.iconRead)
        check.Expect(r.icon == icon, "box icon: expected " + icon + ", saw " + r.icon);
    else
        check.NotChecked("box icon (the task dialog draws it itself)");
}

}  // namespace

void Check::Equal(const std::wstring& got, const std::wstring& wanted, const std::string& what) {
    if (got != wanted) failures_.push_back(what + ": expected \"" + Escaped(wanted) + "\", saw \"" + Escaped(got) + "\"");
}

std::wstring Wide(const std::string& s) {
    if (s.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n);
    return out;
}

std::string Narrow(const std::wstring& s) { return boxdriver::Utf8(s); }

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
    if (!RemoveTree(kit.dist)) throw Broken{"cannot remove the work copy " + Narrow(kit.dist)};
    if (!CopyTree(kit.source, kit.dist)) throw Broken{"cannot copy the distribution to " + Narrow(kit.dist)};
    const char code[4] = {static_cast<char>(language), 0, 0, 0};
    if (!WriteFile(Join(kit.dist, L"dLangv.dat"), std::string(code, 4)))
        throw Broken{"cannot write the work copy's dLangv.dat"};
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
    if (!result.error.empty()) throw Broken{"cannot start " + Narrow(o.exe) + ": " + Narrow(result.error)};
    for (const auto& s : result.seen) Describe(kit, s, run);
    kit.details.push_back("  run " + std::to_string(run) + " exit status " + std::to_string(result.exitCode) +
                          (result.timedOut ? " (ended by the kit after 60 s)" : ""));
    return result;
}

void ExpectCompletion(Check& check, const boxdriver::Run& run, const std::wstring& text, const std::wstring& caption) {
    if (const boxdriver::Seen* box = OnlyBox(check, run)) {
        const BoxReading r = Read(*box);
        check.Expect(!r.messageBox, "a message box instead of the completion task dialog");
        check.Equal(box->caption, caption, "box caption");
        if (r.headingRead)
            check.Equal(r.heading, L"", "box heading");
        else if (r.textRead)
            check.NotChecked("box heading apart from its text (read through accessibility)");
        ExpectBox(check, r, text, "none");
    }
    for (const auto& s : run.seen)
        check.Expect(s.kind == "box", "main window " + std::string(s.kind == "window" ? "left open" : "shown before the box"));
    check.Expect(run.exitCode == 0, "exit status " + std::to_string(run.exitCode) + ", expected 0");
}

const boxdriver::Seen* ExpectError(Check& check, const boxdriver::Run& run, const std::wstring& text) {
    if (const boxdriver::Seen* box = OnlyBox(check, run)) {
        const BoxReading r = Read(*box);
        check.Expect(r.messageBox, "a task dialog instead of the error message box");
        check.Equal(box->caption, L"Setup", "box caption");
        ExpectBox(check, r, text, "stop");
    }
    const boxdriver::Seen* window = nullptr;
    for (const auto& s : run.seen)
        if (s.kind == "window") window = &s;
    check.Expect(window != nullptr, "no main window left open after the error box");
    if (window) {
        check.Equal(window->caption, L"Setup 1.0", "main window caption");
        for (const auto& c : window->children)
            check.Expect(!c.visible, "visible control on the main window: " + Narrow(c.cls) + " " + Narrow(c.text));
    }
    check.Expect(run.exitCode == 1, "exit status " + std::to_string(run.exitCode) + ", expected 1");
    return window;
}

}  // namespace kit
