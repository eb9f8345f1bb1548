// What the kit needs from the machine: files and trees, the desktop setting
// (changed only for a scenario and always restored), and the facts the report
// gives about the system.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kit {

std::wstring Join(const std::wstring& folder, const std::wstring& name);
std::wstring FullPath(const std::wstring& path);
std::wstring CurrentFolder();
std::wstring ModuleFolder();
bool Exists(const std::wstring& path);  // anything, links not followed
bool IsFolder(const std::wstring& path);
bool ReadFile(const std::wstring& path, std::string& bytes);
bool WriteFile(const std::wstring& path, const std::string& bytes);
bool MakeFolders(const std::wstring& path);  // with its parents
bool CopyTree(const std::wstring& from, const std::wstring& to);
// Removes a file or a tree, read-only files too, never following a link out of
// it; true when nothing is left.
bool RemoveTree(const std::wstring& path);
// Relative names of every file below `root` ("DBZ\\QKV.txt"), folders with a trailing backslash.
std::vector<std::wstring> ListTree(const std::wstring& root);

// The Desktop value of the Shell Folders key, as stored.
struct RegValue {
    bool exists = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const RegValue& o) const { return exists == o.exists && type == o.type && data == o.data; }
};
RegValue ReadDesktopValue();
bool WriteDesktopValue(const RegValue& value);
RegValue TextValue(DWORD type, const std::wstring& text);
// The folder a value names, as Setup reads it (an expandable value expanded).
std::wstring FolderOf(const RegValue& value);
std::wstring Describe(const RegValue& value);

// The Desktop value replaced for as long as this lives. The original goes to
// `saveFile` first, so a killed kit restores it on its next start; Ctrl+C and
// a closed console restore it through RestoreDesktopNow.
class DesktopOverride {
public:
    DesktopOverride(const std::wstring& saveFile, const RegValue& value);
    ~DesktopOverride();
    DesktopOverride(const DesktopOverride&) = delete;
    DesktopOverride& operator=(const DesktopOverride&) = delete;
    const std::wstring& error() const { return error_; }  // empty when the value was set

private:
    std::wstring error_;
};
// Restores the saved value if one is replaced; safe from any thread.
void RestoreDesktopNow();
// At start: restores a value a killed run left in `saveFile`; says what it did, or "".
std::wstring RestoreFromSaveFile(const std::wstring& saveFile);

// The report's facts about this system, one "name: value" line each.
std::vector<std::string> SystemFacts(const std::wstring& desktop);
bool UnderWine();
// "NTFS" and whether it keeps named streams, for the volume holding `path`.
std::wstring FileSystemOf(const std::wstring& path, bool* namedStreams = nullptr);

// The system's text for an error code, looked for in these languages in turn.
std::wstring SystemErrorText(DWORD code, const std::vector<LANGID>& languages);

}  // namespace kit
