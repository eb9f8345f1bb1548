#include "kit/src/reading.h"

#include <algorithm>

#include "platform/text.h"

namespace kit {

const wchar_t kOwnCaption[] = L"setup-check self-test";
const wchar_t kOwnHeading[] = L"setup-check heading";
const wchar_t kOwnText[] = L"setup-check text";
const wchar_t kOwnButton[] = L"setup-check button";
const wchar_t kOwnMessage[] = L"setup-check message";

namespace {

// Window class names are ASCII and compared without regard to case.
bool IsClass(const boxdriver::Control& c, const wchar_t* cls) {
    const auto lower = [](wchar_t ch) { return ch >= L'A' && ch <= L'Z' ? ch - L'A' + L'a' : ch; };
    std::size_t i = 0;
    for (; i < c.cls.size() && cls[i]; ++i)
        if (lower(c.cls[i]) != lower(cls[i])) return false;
    return i == c.cls.size() && !cls[i];
}

std::string Listed(const std::vector<std::wstring>& items) {
    std::string out;
    for (const auto& i : items) out += (out.empty() ? "\"" : ", \"") + Narrow(i) + "\"";
    return out.empty() ? "none" : out;
}

const boxdriver::Seen* OwnBox(const boxdriver::Run& own, bool messageBox) {
    for (const auto& s : own.seen)
        if (s.kind == "box" && s.caption == kOwnCaption && Read(s).messageBox == messageBox) return &s;
    return nullptr;
}

void CalibrateTask(const boxdriver::Run& own, Readable& can) {
    const boxdriver::Seen* box = OwnBox(own, false);
    if (!box) return can.findings.push_back("its task dialog: not seen");
    const BoxReading r = Read(*box);
    can.taskText = r.textRead && r.text == kOwnText;
    can.taskHeading = r.headingRead && r.heading == kOwnHeading;
    std::vector<std::wstring> others = r.buttons;
    const auto mine = std::find(others.begin(), others.end(), std::wstring(kOwnButton));
    if (r.buttonsRead && others.size() == 2 && mine != others.end()) {
        others.erase(mine);
        can.taskOk = others.front();
        can.taskButtons = !can.taskOk.empty();
    }
    can.taskIcon = !r.iconRead ? Readable::kDrawnInside : r.icon == "information" ? Readable::kRead : Readable::kUnread;
    const std::string how = r.via.empty() ? "" : " (through " + r.via + ")";
    can.findings.push_back(std::string("its task dialog") + how + ": text " +
                           (can.taskText ? "read" : "NOT read, saw \"" + Escaped(r.text) + "\"") + "; heading " +
                           (can.taskHeading ? "read" : "NOT read, saw \"" + Escaped(r.heading) + "\"") +
                           "; buttons " + (can.taskButtons ? "read" : "NOT read") + ", saw " + Listed(r.buttons) +
                           "; icon " +
                           (can.taskIcon == Readable::kRead          ? "read"
                            : can.taskIcon == Readable::kDrawnInside ? "drawn by the dialog itself"
                                                                     : "NOT recognised, saw " + r.icon));
}

void CalibrateMessageBox(const boxdriver::Run& own, Readable& can) {
    const boxdriver::Seen* box = OwnBox(own, true);
    if (!box) return can.findings.push_back("its message box: not seen");
    const BoxReading r = Read(*box);
    can.boxText = r.textRead && r.text == kOwnMessage;
    if (r.buttonsRead && r.buttons.size() == 1 && r.okButton) can.boxOk = r.buttons.front();
    can.boxButtons = !can.boxOk.empty();
    can.boxIcon = r.icon == "stop" ? Readable::kRead : Readable::kUnread;
    can.findings.push_back(std::string("its message box: text ") + (can.boxText ? "read" : "NOT read") +
                           "; buttons " + (can.boxButtons ? "read" : "NOT read") + ", saw " + Listed(r.buttons) +
                           "; stop icon " + (can.boxIcon == Readable::kRead ? "recognised" : "NOT recognised, saw " + r.icon));
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

void ExpectText(Check& check, bool canRead, const BoxReading& r, const std::wstring& text) {
    if (!canRead)
        check.Inconclusive("box text (the kit could not read the text of its own box of this kind)");
    else if (!r.textRead)
        check.Inconclusive("box text (neither controls nor accessibility expose it)");
    else
        check.Equal(r.text, text, "box text");
}

void ExpectOneOk(Check& check, bool canRead, const std::wstring& ok, bool byControl, const BoxReading& r) {
    if (!canRead)
        check.Inconclusive("box buttons (the kit could not read the buttons of its own box of this kind)");
    else if (!r.buttonsRead)
        check.Inconclusive("box buttons (none readable)");
    else
        check.Expect(r.buttons == std::vector<std::wstring>{ok} && (r.okButton || !byControl),
                     "box buttons: expected one OK button \"" + Narrow(ok) + "\", saw " + Listed(r.buttons));
}

void ExpectIcon(Check& check, Readable::Icon can, const BoxReading& r, const std::string& icon) {
    if (can == Readable::kDrawnInside)
        check.SkipPart("box icon (a task dialog here draws it itself; nothing outside the dialog can read it)");
    else if (can == Readable::kUnread)
        check.Inconclusive("box icon (the kit did not recognise its own box's icon)");
    else if (!r.iconRead || (r.icon == "other" && icon != "none"))
        check.Inconclusive("box icon (not one of the system's standard icons as the kit draws them here)");
    else
        check.Expect(r.icon == icon, "box icon: expected " + icon + ", saw " + r.icon);
}

}  // namespace

BoxReading Read(const boxdriver::Seen& s) {
    BoxReading r;
    std::vector<const boxdriver::Control*> statics;
    for (const auto& c : s.children) {
        if (IsClass(c, L"Static") && c.icon.empty()) statics.push_back(&c);  // an icon control holds no text
        if (!c.icon.empty() && c.icon != "none") r.icon = c.icon;
        if (IsClass(c, L"Button") && c.visible) {
            r.buttons.push_back(c.text);
            r.okButton = r.okButton || c.id == boxdriver::kOkId;
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
    } else if (!s.accessibleTexts.empty()) {
        // A task dialog that draws its own text (Windows): a heading comes
        // first, as a text of its own; the self-test shows whether it does here.
        const auto& t = s.accessibleTexts;
        const std::size_t first = t.size() > 1 ? 1 : 0;
        if (first) r.heading = t[0];
        for (std::size_t i = first; i < t.size(); ++i) r.text += (i > first ? L"\n" : L"") + t[i];
        r.textRead = r.headingRead = true;
        r.via = "accessibility";
    }
    if (!r.buttonsRead && s.accessibleRead && !s.accessibleButtons.empty()) {
        r.buttons = s.accessibleButtons;
        r.buttonsRead = true;
    }
    return r;
}

Readable Calibrate(const boxdriver::Run& own) {
    Readable can;
    if (!own.error.empty() || own.timedOut)
        can.findings.push_back("its own boxes could not be shown: " + (own.timedOut ? "timed out" : Narrow(own.error)));
    CalibrateTask(own, can);
    CalibrateMessageBox(own, can);
    return can;
}

void ExpectCompletion(Check& check, const Readable& can, const boxdriver::Run& run, const std::wstring& text,
                      const std::wstring& caption) {
    if (const boxdriver::Seen* box = OnlyBox(check, run)) {
        const BoxReading r = Read(*box);
        check.Expect(!r.messageBox, "a message box instead of the completion task dialog");
        check.Equal(box->caption, caption, "box caption");
        ExpectText(check, can.taskText, r, text);
        if (!can.taskHeading || !r.headingRead)
            check.Inconclusive("box heading apart from its text (not told apart here)");
        else
            check.Equal(r.heading, L"", "box heading");
        ExpectOneOk(check, can.taskButtons, can.taskOk, r.via == "controls", r);
        ExpectIcon(check, can.taskIcon, r, "none");
    }
    for (const auto& s : run.seen)
        check.Expect(s.kind == "box", "main window " + std::string(s.kind == "window" ? "left open" : "shown before the box"));
    check.Expect(run.exitCode == 0, "exit status " + std::to_string(run.exitCode) + ", expected 0");
}

const boxdriver::Seen* ExpectError(Check& check, const Readable& can, const boxdriver::Run& run,
                                   const std::wstring& text) {
    if (const boxdriver::Seen* box = OnlyBox(check, run)) {
        const BoxReading r = Read(*box);
        check.Expect(r.messageBox, "a task dialog instead of the error message box");
        check.Equal(box->caption, L"Setup", "box caption");
        if (r.messageBox) {
            ExpectText(check, can.boxText, r, text);
            ExpectOneOk(check, can.boxButtons, can.boxOk, true, r);
            ExpectIcon(check, can.boxIcon, r, "stop");
        }
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

std::string Narrow(const std::wstring& s) { return text::ToUtf8(s); }
std::wstring Wide(const std::string& s) { return text::FromUtf8(s); }

}  // namespace kit
