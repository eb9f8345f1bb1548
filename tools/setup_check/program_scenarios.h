// Scenarios and checks about the installed program and its folder.
#pragma once

#include "tools/setup_check/check.h"

namespace kit {

// The program folder's access list on this system: a failure when any account
// but SYSTEM, Administrators and this user may change what it holds.
void ExpectProgramFolderList(Kit& kit, Check& check);
// An upgrade while the installed program runs: that file fails, named, and
// keeps its old contents; once the program ends, a rerun completes.
void RunningProgram(Kit& kit, Check& check);
// A program folder that was there before the first installation keeps its list.
void ExistingFolderKeepsItsList(Kit& kit, Check& check);

}  // namespace kit
