// The Desktop value of Shell Folders, replaced for a scenario and always put
// back. Before the value changes, the original and the replacement go to the
// kit's own key in HKCU and a RunOnce entry is made, both flushed: a kit that
// is killed, logged off or loses power restores at the next logon, or at its
// own next start, wherever it is started from. Nothing of the restore lives in
// the kit's memory alone, so every path restores through the same steps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kit {

constexpr std::uint32_t kRegSz = 1, kRegExpandSz = 2, kRegDword = 4;

// A registry value as stored: its type and bytes, or its absence.
struct RegValue {
    bool exists = false;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    bool operator==(const RegValue& o) const { return exists == o.exists && type == o.type && data == o.data; }
    bool operator!=(const RegValue& o) const { return !(*this == o); }
};
RegValue TextValue(std::uint32_t type, const std::wstring& text);  // UTF-16LE, terminated
RegValue NumberValue(std::uint32_t number);
std::wstring TextOf(const RegValue& value);  // a string value's text, up to its first NUL
std::wstring Describe(const RegValue& value);

// The three places the save touches, each a key of HKCU.
enum class Place { kShellFolders, kKitKey, kRunOnce };
extern const wchar_t kKitKeyName[];   // under HKCU, for messages
extern const wchar_t kRunOnceName[];  // the RunOnce entry's value name

class Registry {
public:
    virtual ~Registry() = default;
    virtual RegValue Read(Place place, const std::wstring& name) = 0;
    // Sets the value, or deletes it when `value` does not exist; true when done.
    virtual bool Write(Place place, const std::wstring& name, const RegValue& value) = 0;
    virtual bool Flush(Place place) = 0;  // on disk before the call returns
    virtual bool KeyExists(Place place) = 0;
    virtual void RemoveKeyIfEmpty(Place place) = 0;  // no values, no subkeys
};

// Saves the original and replaces the value: "" when done, else why not, the
// value then untouched. Refuses while an earlier save is kept.
std::wstring SaveAndReplace(Registry& registry, const RegValue& replacement, const std::wstring& restoreCommand);

struct Restored {
    enum What { kNothingSaved, kRestored, kLeftAlone, kFailed } what = kNothingSaved;
    std::wstring message;  // for kLeftAlone and kFailed, and what was restored
};
// Puts the original back while the value is still the kit's replacement, and
// then removes the save and the RunOnce entry. A value someone else has since
// written is left alone, and said so. A failed restore keeps the save.
Restored RestoreSaved(Registry& registry);

// A Desktop value the kit can start with: an absolute folder path ("C:\\..." or "\\\\server\\share...").
bool IsAbsolutePath(const std::wstring& path);

}  // namespace kit
