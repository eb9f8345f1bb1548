// The installation as data: ordered steps whose names a reader can check line
// by line. Plain tables with no dependencies, so tools can read them too.
#pragma once

#include <vector>

enum class Op {
    ReadLanguage,
    EnsureFolder,        // target: created when missing, one level
    EnsureProgramFolder, // as EnsureFolder; it holds code, so only the installing user and administrators may change it
    Copy,                // replaced: copied over whatever is there
    CopyKept,            // kept: copied only when the target is not an existing file
    Remove,              // removed from the installed tree
    DetectOutcome,
    ClickRegister,       // the desktop deployment
    ConfirmComplete,     // raises when any file could not be installed
    ShowCompletion,
    Terminate,
    RemoveFromDesktop,   // target: a desktop name beginning with a backslash
    CopyToDesktop,       // source to the desktop name in target
    CopyLanguagePdf,     // the program's PDF in the installation's language
};

struct Step {
    Op op;
    const wchar_t* source;
    const wchar_t* target;
};

using Plan = std::vector<Step>;

const Plan& InstallPlan();  // what the Setup button does
const Plan& DesktopPlan();  // what the Register button does

// The desktop PDF for a language code, or nullptr for none.
const wchar_t* LanguagePdf(int language);

// Where each shortcut the desktop plan copies must lead once installed: the
// vendor's shortcuts are checked against it before a release, and the
// sample's are made from it.
struct ShortcutTarget {
    const wchar_t* shortcut;
    const wchar_t* target;
    bool folder;
};
const std::vector<ShortcutTarget>& ShortcutTargets();
