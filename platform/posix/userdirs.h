// The freedesktop user-dirs file's desktop entry, parsed from its text.
#pragma once

#include <string>

#include "platform/shellfolders.h"

namespace shellfolders {

// Found, Missing or InvalidType; $HOME at the start of the value is expanded.
DesktopLookup ParseUserDirs(const std::string& content);

}  // namespace shellfolders
