// The check kit's own logic, off Windows: how outcomes are counted, and how a
// recorded box is read and checked against what the self-test could read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kit/src/reading.h"

namespace kit {
namespace {

using boxdriver::Control;
using Recorded = boxdriver::Run;
using boxdriver::Seen;

std::string Verdict(const Check& check, const std::string& skipped, Tally& tally) {
    return tally.Count(check, skipped);
}

TEST(Outcome, OnlyAMadeCheckPasses) {
    struct Case {
        bool fail, unread, skipPart;
        std::string skipped, line;
    } cases[] = {
        {false, false, false, "", "ok"},
        {false, false, true, "", "ok (skipped: p)"},
        {false, true, false, "", "inconclusive: u"},
        {false, true, false, "no streams", "inconclusive: u"},
        {false, false, false, "no streams", "skipped: no streams"},
        {true, true, false, "no streams", "FAIL: f; not checked: u"},
    };
    Tally tally;
    for (const Case& c : cases) {
        Check check;
        check.Expect(!c.fail, "f");
        if (c.unread) check.Inconclusive("u");
        if (c.skipPart) check.SkipPart("p");
        EXPECT_EQ(Verdict(check, c.skipped, tally), c.line);
    }
    EXPECT_EQ(tally.Summary(), "2 passed, 1 failed, 1 skipped, 2 inconclusive");
    const struct {
        Tally tally;
        bool completed;
        int status;
    } statuses[] = {{{3, 0, 1, 0}, true, kNothingFailed}, {{3, 0, 1, 1}, true, kInconclusive},
                    {{3, 1, 0, 1}, true, kSomethingFailed}, {{3, 0, 0, 0}, false, kSomethingFailed}};
    for (const auto& s : statuses) EXPECT_EQ(s.tally.Status(s.completed), s.status) << s.tally.Summary();
}

Control Static(const std::wstring& text, int id = -1, const std::string& icon = "") {
    return {L"Static", text, id, true, icon};
}
Control Button(const std::wstring& text, int id) { return {L"Button", text, id, true, ""}; }

Seen Box(const std::wstring& caption, std::vector<Control> children, std::vector<std::wstring> texts = {},
         std::vector<std::wstring> buttons = {}, bool accessible = true) {
    Seen s;
    s.kind = "box";
    s.caption = caption;
    s.children = std::move(children);
    s.accessibleTexts = std::move(texts);
    s.accessibleButtons = std::move(buttons);
    s.accessibleRead = accessible;
    return s;
}

// The kit's own boxes as Wine shows them (controls), and as Windows shows a
// task dialog (one DirectUIHWND, its parts through accessibility only).
const Seen kWineMessageBox = Box(kOwnCaption, {Static(L"", 20, "stop"), Static(kOwnMessage, 0xFFFF), Button(L"OK", 1)});
Recorded WineOwn() {
    return {{Box(kOwnCaption, {Static(kOwnHeading), Static(kOwnText), Static(L"", 20, "information"),
                               Button(kOwnButton, kOwnButtonId), Button(L"OK", 1)}),
             kWineMessageBox}};
}
Recorded WindowsOwn(bool accessible) {
    const auto texts = accessible ? std::vector<std::wstring>{kOwnHeading, kOwnText} : std::vector<std::wstring>{};
    const auto buttons = accessible ? std::vector<std::wstring>{L"OK", kOwnButton} : std::vector<std::wstring>{};
    return {{Box(kOwnCaption, {{L"DirectUIHWND", L"", 0, true, ""}}, texts, buttons, accessible),
             kWineMessageBox}};
}
Seen WindowsBox(std::vector<std::wstring> texts, std::vector<std::wstring> buttons, bool accessible = true) {
    return Box(L"Setup", {{L"DirectUIHWND", L"", 0, true, ""}}, std::move(texts), std::move(buttons), accessible);
}

TEST(BoxReading, ChecksOnlyWhatTheSelfTestCouldRead) {
    const std::wstring done = L"Instaltion completed.";
    const struct {
        const char* name;
        Recorded own;
        Seen box;
        std::string line;
    } cases[] = {
        {"Wine, right box", WineOwn(), Box(L"Setup", {Static(L""), Static(done), Button(L"OK", 1)}), "ok"},
        {"Wine, one button with another label", WineOwn(), Box(L"Setup", {Static(L""), Static(done), Button(L"Cancel", 1)}),
         "FAIL: box buttons: expected one OK button \"OK\", saw \"Cancel\""},
        {"Wine, an icon", WineOwn(), Box(L"Setup", {Static(L""), Static(done), Static(L"", 20, "warning"), Button(L"OK", 1)}),
         "FAIL: box icon: expected none, saw warning"},
        {"Windows, right box", WindowsOwn(true), WindowsBox({done}, {L"OK"}),
         "ok (skipped: box icon (a task dialog here draws it itself; nothing outside the dialog can read it))"},
        {"Windows, one button with another label", WindowsOwn(true), WindowsBox({done}, {L"Retry"}),
         "FAIL: box buttons: expected one OK button \"OK\", saw \"Retry\""},
        {"Windows, the text as the heading", WindowsOwn(true), WindowsBox({done, L"more"}, {L"OK"}),
         "FAIL: box text: expected \"Instaltion completed.\", saw \"more\"; box heading: expected \"\", saw \"Instaltion completed.\""},
        {"accessibility gives nothing, here and on the own box", WindowsOwn(false), WindowsBox({}, {}, false),
         "inconclusive: box text (the kit could not read the text of its own box of this kind); box heading apart from "
         "its text (not told apart here); box buttons (the kit could not read the buttons of its own box of this kind)"},
        {"accessibility gives nothing on Setup's box", WindowsOwn(true), WindowsBox({}, {}, false),
         "inconclusive: box text (neither controls nor accessibility expose it); box heading apart from its text (not "
         "told apart here); box buttons (none readable)"},
    };
    for (const auto& c : cases) {
        Check check;
        Tally tally;
        ExpectCompletion(check, Calibrate(c.own), Recorded{{c.box}}, done);
        EXPECT_EQ(tally.Count(check, ""), c.line) << c.name;
    }
}

TEST(BoxReading, ErrorBoxIconIsCheckedOnlyWhenTheOwnStopIconWasRecognised) {
    Recorded unrecognised = WineOwn();
    unrecognised.seen[1].children[0].icon = "other";
    const struct {
        Recorded own;
        std::string icon, line;
    } cases[] = {{WineOwn(), "stop", "ok"},
                 {WineOwn(), "warning", "FAIL: box icon: expected stop, saw warning"},
                 {WineOwn(), "other", "inconclusive: box icon (not one of the system's standard icons as the kit draws them here)"},
                 {unrecognised, "stop", "inconclusive: box icon (the kit did not recognise its own box's icon)"}};
    for (const auto& c : cases) {
        Seen window;
        window.kind = "window";
        window.caption = L"Setup 1.0";
        Recorded run{{Box(L"Setup", {Static(L"", 20, c.icon), Static(L"Disk full.", 0xFFFF), Button(L"OK", 1)}), window}};
        run.exitCode = 1;
        Check check;
        Tally tally;
        ExpectError(check, Calibrate(c.own), run, L"Disk full.");
        EXPECT_EQ(tally.Count(check, ""), c.line) << c.icon;
    }
}

}  // namespace
}  // namespace kit
