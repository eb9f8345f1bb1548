// What the kit needs from the machine: files and trees, the desktop setting
// (changed only for a scenario and always restored), one kit at a time, and
// the facts the report gives about the system and the user.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/handles.h"
#include "kit/src/desktop_save.h"

namespace kit {

std::wstring Join(const std::wstring& folder, const std::wstring& name);
std::wstring FullPath(const std::wstring& path);
std::wstring ModulePath();  // this program's own
std::wstring ModuleFolder();
bool Exists(const std::wstring& path);  // anything, links not followed
bool IsFolder(const std::wstring& path);
bool ReadFile(const std::wstring& path, std::string& bytes);
bool WriteFile(const std::wstring& path, const std::string& bytes);
bool MakeFolders(const std::wstring& path);  // with its parents
bool CopyTree(const std::wstring& from, const std::wstring& to);
// Removes a file or a tree, read-only files too, never following a link out of
// it; true when nothing is left, else the first entry that stays in `stays`.
bool RemoveTree(const std::wstring& path, std::wstring* stays = nullptr);
// The same, tried again for five seconds while something stays: antivirus
// and the indexer hold a new file for a moment. `held`: the first entry that
// stayed at the first try, empty when none did.
bool RemoveHeldTree(const std::wstring& path, std::wstring& held);
// Relative names of every file below `root` ("DBZ\\QKV.txt"), folders with a trailing backslash.
std::vector<std::wstring> ListTree(const std::wstring& root);

// The Desktop value of the Shell Folders key, as stored.
RegValue ReadDesktopValue();
// The folder a value names, as Setup reads it (an expandable value expanded).
std::wstring FolderOf(const RegValue& value);

// The Desktop value replaced for as long as this lives (see desktop_save.h).
// Ctrl+C and a closed console restore it through RestoreDesktopNow.
class DesktopOverride {
public:
    explicit DesktopOverride(const RegValue& value);
    ~DesktopOverride();
    DesktopOverride(const DesktopOverride&) = delete;
    DesktopOverride& operator=(const DesktopOverride&) = delete;
    const std::wstring& error() const { return error_; }  // empty when the value was set

private:
    std::wstring error_;
};
// Restores a value the kit replaced, in this run or a killed one; safe from any thread.
Restored RestoreDesktopNow();
// The last restore that found a save (by RestoreDesktopNow, from any thread), once.
Restored TakeLastRestore();

// Held by the kit for its whole run; false when another kit holds it.
class OneKitAtATime {
public:
    OneKitAtATime();
    bool alone() const { return alone_; }

private:
    win32::UniqueHandle mutex_;
    bool alone_ = false;
};

// Whether this process runs elevated, for the warning at start.
bool Elevated();

// The report's facts about this system, one "name: value" line each.
std::vector<std::string> SystemFacts(const std::wstring& desktop);
bool UnderWine();
// "NTFS" and whether it keeps named streams, for the volume holding `path`.
std::wstring FileSystemOf(const std::wstring& path, bool* namedStreams = nullptr);

// The system's text for an error code, looked for in these languages in turn.
std::wstring SystemErrorText(DWORD code, const std::vector<LANGID>& languages);

}  // namespace kit
