// The check kit's own logic, off Windows: how outcomes are counted, how a
// recorded box is read and checked against what the self-test could read,
// and how the Desktop value is saved and put back across a kill, a second
// kit and a value someone else rewrote; the report's wording of the system.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "platform/text.h"
#include "kit/src/desktop_save.h"
#include "kit/src/facts.h"
#include "kit/src/link_target.h"
#include "kit/src/reading.h"

namespace kit {

void PrintTo(const RegValue& v, std::ostream* os) { *os << text::ToUtf8(Describe(v)); }

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

// HKCU as the save sees it, with a save place that can refuse writes.
class FakeRegistry : public Registry {
public:
    std::map<Place, std::map<std::wstring, RegValue>> keys;
    bool kitKeyWritable = true;

    RegValue Read(Place p, const std::wstring& name) override {
        return keys.count(p) && keys[p].count(name) ? keys[p][name] : RegValue{};
    }
    bool Write(Place p, const std::wstring& name, const RegValue& v) override {
        if (p == Place::kKitKey && !kitKeyWritable) return false;
        if (v.exists) keys[p][name] = v;
        else if (keys.count(p)) keys[p].erase(name);
        return true;
    }
    bool Flush(Place) override { return true; }
    bool KeyExists(Place p) override { return keys.count(p) > 0; }
    void RemoveKeyIfEmpty(Place p) override {
        if (keys.count(p) && keys[p].empty()) keys.erase(p);
    }
};

TEST(DesktopSave, TheValueComesBackOnlyWhileItIsTheKits) {
    const RegValue user = TextValue(kRegSz, L"C:\\Users\\u\\Desktop"), mine = TextValue(kRegExpandSz, L"%W%\\Plocha"),
                   shell = TextValue(kRegSz, L"D:\\Desktop");
    const struct {
        const char* name;
        bool writable, runOnceKey;  // whether the profile has a RunOnce key before
        std::function<void(FakeRegistry&)> meanwhile;  // after the save; the kit is then killed
        bool saved;
        Restored::What restore;
        RegValue after;
    } cases[] = {
        {"killed, started again", true, false, [](FakeRegistry&) {}, true, Restored::kRestored, user},
        {"a second kit", true, true, [&](FakeRegistry& r) { EXPECT_NE(SaveAndReplace(r, shell, L"again"), L""); }, true,
         Restored::kRestored, user},
        {"rewritten by the shell", true, false, [&](FakeRegistry& r) { r.keys[Place::kShellFolders][L"Desktop"] = shell; },
         true, Restored::kLeftAlone, shell},
        {"nowhere to save", false, true, [](FakeRegistry&) {}, false, Restored::kNothingSaved, user},
    };
    for (const auto& c : cases) {
        FakeRegistry r;
        r.keys[Place::kShellFolders][L"Desktop"] = user;
        if (c.runOnceKey) r.keys[Place::kRunOnce][L"other"] = TextValue(kRegSz, L"kept");
        const auto before = r.keys;
        r.kitKeyWritable = c.writable;
        EXPECT_EQ(SaveAndReplace(r, mine, L"\"C:\\kit\\setup-check.exe\" --restore-desktop").empty(), c.saved) << c.name;
        EXPECT_EQ(r.Read(Place::kShellFolders, L"Desktop"), c.saved ? mine : user) << c.name;
        EXPECT_EQ(r.Read(Place::kRunOnce, kRunOnceName).exists, c.saved) << c.name << ": the RunOnce entry";
        c.meanwhile(r);
        EXPECT_EQ(RestoreSaved(r).what, c.restore) << c.name;
        EXPECT_EQ(r.Read(Place::kShellFolders, L"Desktop"), c.after) << c.name;
        r.keys[Place::kShellFolders][L"Desktop"] = user;
        EXPECT_TRUE(r.keys == before) << c.name << ": the kit's key or its RunOnce entry stayed";
    }
}

TEST(DesktopSave, AnAbsentValueIsPutBackAbsent) {
    FakeRegistry r;
    r.keys[Place::kShellFolders];
    ASSERT_EQ(SaveAndReplace(r, TextValue(kRegSz, L"C:\\w"), L"cmd"), L"");
    EXPECT_EQ(RestoreSaved(r).what, Restored::kRestored);
    EXPECT_FALSE(r.Read(Place::kShellFolders, L"Desktop").exists);
}

TEST(DesktopSave, StartsOnlyOnAnAbsoluteFolder) {
    for (const wchar_t* yes : {L"C:\\Users\\u\\Desktop", L"c:\\", L"\\\\server\\share\\Desktop"})
        EXPECT_TRUE(IsAbsolutePath(yes)) << text::ToUtf8(yes);
    for (const wchar_t* no : {L"", L"Desktop", L"C:Desktop", L"\\Desktop", L"\\\\server", L"\\\\server\\",
                              L"\\\\?\\C:\\Desktop", L"%USERPROFILE%\\Desktop"})
        EXPECT_FALSE(IsAbsolutePath(no)) << text::ToUtf8(no);
}

TEST(SystemFacts, ArchitectureAndWindowsNameAsTheSystemIs) {
    const struct {
        unsigned process, native;
        bool kit64;
        const char* said;
    } arch[] = {
        {kMachineX86, kMachineArm64, false, "ARM64 system; this kit is 32-bit x86, running under WoW64"},
        {kMachineUnknown, kMachineArm64, true, "ARM64 system; this kit is 64-bit x64, emulated"},
        {kMachineX86, kMachineX64, false, "x64 system; this kit is 32-bit x86, running under WoW64"},
        {kMachineUnknown, kMachineX64, true, "x64 system; this kit is 64-bit x64, native"},
        {kMachineUnknown, kMachineX86, false, "x86 system; this kit is 32-bit x86, native"},
    };
    for (const auto& c : arch) EXPECT_EQ(ArchitectureText(c.process, c.native, c.kit64), c.said);
    const struct {
        const char* product;
        unsigned build;
        const char* said;
    } names[] = {
        {"Windows 10 Pro", 22000, "Windows 11 Pro"},
        {"Windows 10 Enterprise", 26100, "Windows 11 Enterprise"},
        {"Windows 10 Pro", 21996, "Windows 10 Pro"},
        {"Windows 11 Pro", 22631, "Windows 11 Pro"},
        {"", 22621, "Windows 11"},
        {"Windows Server 2022 Standard", 20348, "Windows Server 2022 Standard"},
    };
    for (const auto& c : names) EXPECT_EQ(WindowsName(c.product, c.build), c.said) << c.product << " " << c.build;
}

// The kit's Wine tests and the vendor find the newest run by its name.
TEST(SystemFacts, RunFoldersSortInTimeOrder) {
    const std::vector<std::string> inOrder{
        RunFolderName(2026, 9, 30, 23, 59, 59, 1), RunFolderName(2026, 10, 1, 0, 0, 0, 1),
        RunFolderName(2026, 10, 1, 0, 0, 0, 2), RunFolderName(2026, 10, 1, 0, 0, 9, 1),
        RunFolderName(2026, 10, 1, 0, 0, 10, 1)};
    EXPECT_EQ(inOrder[0], "2026-09-30 23.59.59Z");
    EXPECT_EQ(inOrder[2], "2026-10-01 00.00.00Z (2)");
    for (std::size_t i = 1; i < inOrder.size(); ++i) EXPECT_LT(inOrder[i - 1], inOrder[i]) << inOrder[i];
}

// A folder already there, an earlier run's or anyone's, is never written into.
TEST(SystemFacts, ARunFolderIsMadeAfreshNeverReused) {
    const std::string first = "2026-10-01 00.00.00Z";
    std::set<std::string> full;
    for (unsigned attempt = 1; attempt < 100; ++attempt) full.insert(RunFolderName(2026, 10, 1, 0, 0, 0, attempt));
    const struct {
        std::set<std::string> there;
        int failsAt;  // the call of `make` that fails; 0: none
        std::string made;
    } cases[] = {
        {{}, 0, first},
        {{first}, 0, first + " (2)"},
        {{first, first + " (2)"}, 0, first + " (3)"},
        {{first + " (2)"}, 0, first},
        {{first}, 2, ""},
        {full, 0, ""},
    };
    for (const auto& c : cases) {
        std::set<std::string> there = c.there;
        int calls = 0;
        const std::string made = NewRunFolder(2026, 10, 1, 0, 0, 0, [&](const std::string& name) {
            if (++calls == c.failsAt) return Made::kFailed;
            return there.insert(name).second ? Made::kMade : Made::kTaken;
        });
        EXPECT_EQ(made, c.made) << c.there.size() << " there";
        EXPECT_EQ(there.size(), c.there.size() + !made.empty()) << made;
    }
}

bool SameIgnoringCase(const std::wstring& a, const std::wstring& b) { return text::LowerCase(a) == text::LowerCase(b); }

TEST(Shortcuts, LeadToTheirOwnTargetThereAndOfItsKind) {
    using shelllink::Kind;
    const std::wstring tool = L"C:\\Orvo_Tool\\Orvo Tool.exe";
    const std::string is = "Orvo Tool.lnk's target C:\\Orvo_Tool\\Orvo Tool.exe is ";
    const struct {
        Resolution r;
        Kind kind;
        std::string line;
    } cases[] = {
        {{tool, true, "0x0", tool, Kind::kFile}, Kind::kFile, "ok"},
        {{L"c:\\orvo_tool\\ORVO TOOL.EXE", true, "0x0", tool, Kind::kFile}, Kind::kFile, "ok"},
        {{tool, true, "0x0", tool, Kind::kMissing}, Kind::kFile, "FAIL: " + is + "missing"},
        {{tool, true, "0x0", tool, Kind::kMissing}, Kind::kFolder, "FAIL: " + is + "missing"},
        {{tool, true, "0x0", tool, Kind::kFolder}, Kind::kFile, "FAIL: " + is + "a folder, not a file"},
        {{tool, false, "0x80004005", tool, Kind::kMissing}, Kind::kFile,
         "FAIL: the shell could not resolve Orvo Tool.lnk (0x80004005); " + is + "missing"},
        {{L"D:\\build\\Orvo Tool.exe", true, "0x0", L"D:\\build\\Orvo Tool.exe", Kind::kFile}, Kind::kFile,
         "FAIL: Orvo Tool.lnk points to D:\\build\\Orvo Tool.exe, not C:\\Orvo_Tool\\Orvo Tool.exe"},
        {{tool, true, "0x0", L"", Kind::kMissing}, Kind::kFile,
         "FAIL: Orvo Tool.lnk resolves to none, not C:\\Orvo_Tool\\Orvo Tool.exe"},
    };
    for (const auto& c : cases) {
        Check check;
        Tally tally;
        ExpectLeadsTo(check, "Orvo Tool.lnk", c.r, tool, c.kind, SameIgnoringCase);
        EXPECT_EQ(tally.Count(check, ""), c.line) << text::ToUtf8(c.r.stored) << " " << shelllink::KindName(c.r.kind);
    }
}

}  // namespace
}  // namespace kit
