// The Desktop value saved and put back across a kill, a second kit and a value someone else rewrote.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "platform/text.h"
#include "kit/src/desktop_save.h"

namespace kit {

void PrintTo(const RegValue& v, std::ostream* os) { *os << text::ToUtf8(Describe(v)); }

namespace {

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

}  // namespace
}  // namespace kit
