// Scenarios and checks about the installed program and its folder.
#pragma once

#include "kit/src/check.h"

namespace kit {

// The access lists of the program folder and the installed program on this
// system: a failure when any account but SYSTEM, Administrators and this user
// owns them or may change them. Elevated, an ordinary user's installation is
// inconclusive (skipped under Wine, which runs everything elevated).
void ExpectProgramFolderList(Kit& kit, Check& check);
// An upgrade while the installed program runs: that file fails, named, and
// keeps its old contents; once the program ends, a rerun completes.
void RunningProgram(Kit& kit, Check& check);
// An upgrade leaves a program folder's list as it found it.
void ExistingFolderKeepsItsList(Kit& kit, Check& check);

}  // namespace kit
