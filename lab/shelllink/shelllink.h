// A shortcut as the shell itself reads it (IShellLinkW), for the Wine lab's
// boxprobe and the check kit: what a double click on the icon would open.
#pragma once

#include <windows.h>

#include <string>

#include "lab/shelllink/kind.h"

namespace shelllink {

struct Shortcut {
    std::wstring error;          // why the shell could not load the file; the rest is empty then
    std::wstring path;           // the target as stored (GetPath before Resolve)
    std::wstring workingFolder;  // "Start in"
    std::wstring iconFile;       // as stored, variables not expanded; empty: the target's own icon
    int iconIndex = 0;
    HRESULT resolveStatus = E_FAIL;  // Resolve with SLR_NO_UI, changing nothing
    std::wstring resolvedPath;       // GetPath after Resolve
    Kind resolvedKind = Kind::kMissing;
};

// Loads `file` through CLSID_ShellLink on this thread (COM is initialised
// for the call if it is not yet) and resolves it without any UI, without
// searching for a moved target and without writing the file back.
Shortcut Read(const std::wstring& file);

// What is at `path` now.
Kind KindOf(const std::wstring& path);

// `text` with its %VARIABLES% expanded from this process's environment.
std::wstring Expanded(const std::wstring& text);

}  // namespace shelllink
