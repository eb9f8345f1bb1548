#include "kit/src/scenarios.h"

#include <algorithm>

#include "kit/src/program_scenarios.h"
#include "kit/src/scenario_support.h"
#include "kit/src/shortcuts.h"
#include "kit/src/texts.h"

namespace kit {
namespace {

// The folders and files of both trees, exactly; every file as its source.
void ExpectInstalledTree(Kit& kit, Check& check, int language) {
    std::vector<std::wstring> differing, expected, found;
    for (const Copy& c : kit.plan.copies) CompareWithSource(DesktopPath(kit, c), Join(kit.dist, c.source), differing);
    const std::wstring pdf = kit.plan.languagePdf[language];
    CompareWithSource(Join(kit.desktop, pdf), Join(kit.dist, pdf), differing);
    check.Expect(differing.empty(), "installed files missing or unlike their source: " + Some(differing));
    for (const std::wstring& root : kit.plan.roots) {
        for (const auto& name : ListTree(root)) found.push_back(Join(root, name));
        for (const Copy& c : kit.plan.copies)
            if (!c.desktop && c.target.rfind(root + L"\\", 0) == 0) expected.push_back(c.target);
        for (const auto& f : kit.plan.folders)
            if (f.rfind(root + L"\\", 0) == 0) expected.push_back(f + L"\\");
    }
    std::vector<std::wstring> extra, missing;
    for (const auto& f : found)
        if (std::find(expected.begin(), expected.end(), f) == expected.end()) extra.push_back(f);
    for (const auto& e : expected)
        if (std::find(found.begin(), found.end(), e) == found.end()) missing.push_back(e);
    check.Expect(extra.empty(), "not of the plan in the installed tree: " + Some(extra));
    check.Expect(missing.empty(), "missing from the installed tree: " + Some(missing));
}

void PlaceOldFiles(Kit& kit) {
    for (const auto& removed : kit.plan.removed) {
        MakeFolders(removed.substr(0, removed.find_last_of(L'\\')));
        if (!WriteFile(removed, "an old list placed by setup-check")) throw NotPrepared{"cannot place " + Narrow(removed)};
    }
    for (const auto& name : kit.plan.olderCopies)
        if (!WriteFile(Join(kit.desktop, name), "MZ an older copy placed by setup-check"))
            throw NotPrepared{"cannot place " + Narrow(name) + " on the desktop"};
}

void ExpectGone(Check& check, const std::vector<std::wstring>& paths, const std::string& what) {
    std::vector<std::wstring> left;
    for (const auto& p : paths)
        if (Exists(p)) left.push_back(p);
    check.Expect(left.empty(), what + " left: " + Some(left));
}

void FirstInstallation(Kit& kit, Check& check, int language) {
    PrepareDistribution(kit, language);
    PlaceOldFiles(kit);
    ExpectCompletion(check, kit.readable, RunSetup(kit), Texts().completed[language]);
    ExpectInstalledTree(kit, check, language);
    ExpectProgramFolderList(kit, check);
    ExpectShortcutsOpenTheirTargets(kit, check);
    std::vector<std::wstring> older;
    for (const auto& name : kit.plan.olderCopies) older.push_back(Join(kit.desktop, name));
    ExpectGone(check, older, "older copies on the desktop");
    ExpectGone(check, kit.plan.removed, "removed list");
}

template <int Language>
void Install(Kit& kit, Check& check) {
    FirstInstallation(kit, check, Language);
}

void UpgradeKeepsPowerLists(Kit& kit, Check& check) {
    PrepareDistribution(kit, kEnglish);
    ExpectCompletion(check, kit.readable, RunSetup(kit), Texts().completed[kEnglish]);
    const Copy& replaced = FirstReplacedList(kit);
    std::vector<const Copy*> kept;
    for (const Copy& c : kit.plan.copies)
        if (c.kept) kept.push_back(&c);
    for (const Copy* c : kept)
        if (!WriteFile(c->target, "edited by setup-check: " + Narrow(c->target))) throw NotPrepared{"cannot edit " + Narrow(c->target)};
    if (!WriteFile(replaced.target, "edited by setup-check")) throw NotPrepared{"cannot edit " + Narrow(replaced.target)};
    ExpectCompletion(check, kit.readable, RunSetup(kit), Texts().upgraded[kEnglish]);
    for (const Copy* c : kept) {
        bool ok = false;
        check.Expect(Bytes(c->target, ok) == "edited by setup-check: " + Narrow(c->target),
                     "the edited power list " + Narrow(c->target) + " was not kept");
    }
    std::vector<std::wstring> differing;
    CompareWithSource(replaced.target, Join(kit.dist, replaced.source), differing);
    check.Expect(differing.empty(), "the replaced list " + Narrow(replaced.target) + " was not replaced");
}

}  // namespace

const std::vector<Scenario>& Scenarios() {
    static const std::vector<Scenario> all = {
        {"install-cs", "first installation, Czech", Install<0>},
        {"install-en", "first installation, English", Install<1>},
        {"install-de", "first installation, German", Install<2>},
        {"install-sv", "first installation, Swedish", Install<3>},
        {"install-ru", "first installation, Russian", Install<4>},
        {"upgrade", "upgrade keeps edited power lists", UpgradeKeepsPowerLists},
        {"read-only", "read-only sources", ReadOnlySourcesInstallWritable},
        {"zone-marks", "read-only sources with zone marks", MarkedReadOnlySources},
        {"held-target", "a target held open without sharing", HeldTarget},
        {"held-removal", "Rakoviny.txt held with delete sharing", RemovalHeldWithDeleteSharing},
        {"locked-source", "a source under another program's byte-range lock", LockedSource},
        {"running-program", "an upgrade while the installed program runs", RunningProgram},
        {"folder-list-kept", "an upgrade keeps the program folder's own access list", ExistingFolderKeepsItsList},
        {"junction", "Dokum swapped for a junction to a folder outside the trees", JunctionedDataFolder},
        {"desktop-expand", "expandable Desktop value, non-ASCII folder", ExpandableNonAsciiDesktop},
        {"elsewhere", "started from another folder", StartedElsewhere},
        {"renamed", "renamed to Setup (1).exe", RenamedSetup},
        {"window-dpi", "main window after an error, at the system's DPI", WindowAfterError},
    };
    return all;
}

}  // namespace kit
