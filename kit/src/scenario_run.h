// One scenario run, and the machine put back after it.
#pragma once

#include <string>
#include <vector>

#include "kit/src/check.h"

namespace kit {

// The installation's trees, as the plan names them.
std::vector<std::wstring> Trees();

// One scenario, cleaned up after on every path. False when the kit must stop.
bool RunOne(Kit& kit, const char* id, const char* title, void (*fn)(Kit&, Check&), Tally& tally,
            std::vector<std::string>& report);

}  // namespace kit
