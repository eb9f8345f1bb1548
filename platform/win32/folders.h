// Where a handle is, against where its name says it must be.
#pragma once

#include <string>

#include <windows.h>

namespace win32 {

// What the handle is, as FileAttributeTagInfo gives it (the query meant for
// reparse points, and the cheapest, under Wine too); INVALID_FILE_ATTRIBUTES
// when unknown.
DWORD AttributesOf(HANDLE file);

// True when the open handle `file` is `path` in its held folder, as that was
// held: a junction or an object-manager link on the way leads a handle
// elsewhere. A name outside the trees (on the desktop, the user's own) is
// where the user's links lead it, as ever: true.
bool InPlace(HANDLE file, const std::wstring& path);

}  // namespace win32
