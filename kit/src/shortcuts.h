// The desktop's shortcuts after an installation, as the shell opens them.
#pragma once

#include "kit/src/check.h"

namespace kit {

// Each shortcut the plan places on the desktop, loaded and resolved through
// IShellLinkW: it leads to its own installed target, which is there and of
// its kind; its working folder and its icon's file, when it names them, are
// there too. What the shell read goes to the report.
void ExpectShortcutsOpenTheirTargets(Kit& kit, Check& check);

}  // namespace kit
