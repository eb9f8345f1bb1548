// The per-user shell setting that names the desktop folder: the registry's
// Shell Folders key on Windows, the freedesktop user-dirs file elsewhere.
#pragma once

#include <string>

namespace shellfolders {

enum class Status {
    Found,        // value holds the folder, variables expanded
    Missing,      // no desktop entry, or an empty one
    KeyMissing,   // the per-user shell settings cannot be opened
    InvalidType,  // the entry is not a string
    ReadFailed,   // the entry's data could not be read after its size was known
};

struct DesktopLookup {
    Status status;
    std::wstring value;
};

DesktopLookup ReadDesktopFolder();

// Counts lookups, so a run can show that the setting is read afresh each time.
unsigned long LookupCount();

}  // namespace shellfolders
