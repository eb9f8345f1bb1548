// The installation as the tests expect it (tests/expected_plan.tsv, built in),
// not as the product's own tables say: the kit checks the product against it.
#pragma once

#include <string>
#include <vector>

namespace kit {

struct Copy {
    std::wstring source, target;  // source relative to the distribution; target absolute, or on the desktop
    bool kept = false;            // copied only when not there
    bool desktop = false;         // target is a name on the desktop
};

struct ShortcutTarget {
    std::wstring shortcut, target;  // where the shortcut must lead once installed
    bool folder = false;
};

struct Plan {
    std::vector<std::wstring> folders;      // created by the installation
    std::vector<std::wstring> roots;        // the folders not inside another: the installed trees
    std::vector<Copy> copies;               // every copy of both plans, desktop ones included
    std::vector<std::wstring> removed;      // targets removed from the installed tree
    std::vector<std::wstring> olderCopies;  // names removed from the desktop
    std::vector<std::wstring> distribution; // every file of a complete distribution
    std::wstring languagePdf[5];            // by code 0..4
    std::vector<ShortcutTarget> shortcutTargets;

    std::vector<std::wstring> DesktopNames() const;
};

const Plan& ExpectedPlan();

}  // namespace kit
