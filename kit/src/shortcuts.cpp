#include "kit/src/shortcuts.h"

#include <windows.h>

#include <cstdio>

#include "kit/src/link_target.h"
#include "lab/shelllink/shelllink.h"

namespace kit {
namespace {

using shelllink::Kind;


bool SamePath(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

bool IsShortcut(const std::wstring& name) {
    return name.size() > 4 && SamePath(name.substr(name.size() - 4), L".lnk");
}

// Where each shortcut must lead once installed, from the plan the kit is built with.
const ShortcutTarget* TargetOf(const std::wstring& name) {
    for (const ShortcutTarget& t : ExpectedPlan().shortcutTargets)
        if (SamePath(name, t.shortcut)) return &t;
    return nullptr;
}

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::string Described(const shelllink::Shortcut& s) {
    if (!s.error.empty()) return Narrow(s.error);
    return "target " + Shown(s.path) + ", working folder " + Shown(s.workingFolder) + ", icon " +
           (s.iconFile.empty() ? "none" : Narrow(s.iconFile) + "," + std::to_string(s.iconIndex)) + ", resolved " +
           Hex(s.resolveStatus) + " to " + Shown(s.resolvedPath) + " (" + shelllink::KindName(s.resolvedKind) + ")";
}

// A working folder or an icon file that is not there: the shell refuses to
// start the program, or shows a blank icon.
void ExpectPlacesThere(Check& check, const std::string& name, const shelllink::Shortcut& s) {
    if (!s.workingFolder.empty())
        check.Expect(shelllink::KindOf(shelllink::Expanded(s.workingFolder)) == Kind::kFolder,
                     name + "'s working folder " + Narrow(s.workingFolder) + " is not a folder here");
    if (!s.iconFile.empty())
        check.Expect(shelllink::KindOf(shelllink::Expanded(s.iconFile)) == Kind::kFile,
                     name + "'s icon " + Narrow(s.iconFile) + " is not a file here");
}

}  // namespace

void ExpectShortcutsOpenTheirTargets(Kit& kit, Check& check) {
    for (const Copy& c : kit.plan.copies) {
        if (!c.desktop || !IsShortcut(c.target)) continue;
        const std::string name = Narrow(c.target);
        const ShortcutTarget* target = TargetOf(c.target);
        if (!target) {
            check.Expect(false, "the kit knows no target for " + name);
            continue;
        }
        const shelllink::Shortcut s = shelllink::Read(Join(kit.desktop, c.target));
        kit.details.push_back("  shortcut " + name + ": " + Described(s));
        if (!s.error.empty()) {
            check.Expect(false, name + ": " + Narrow(s.error));
            continue;
        }
        const Resolution resolved{s.path, s.resolveStatus == S_OK, Hex(s.resolveStatus), s.resolvedPath,
                                  s.resolvedKind};
        ExpectLeadsTo(check, name, resolved, target->target, target->folder ? Kind::kFolder : Kind::kFile, SamePath);
        ExpectPlacesThere(check, name, s);
    }
}

}  // namespace kit
