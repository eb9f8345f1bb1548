// This run's folder for its report and pictures, and the report written into it.
#pragma once

#include <string>
#include <vector>

#include "kit/src/check.h"

namespace kit {

// The kit's folders beside it are named from this: setup-check-reports, setup-check-work.
const wchar_t kPrefix[] = L"setup-check";

bool MakeRunFolder(Kit& kit);
bool WriteReport(const Kit& kit, const std::vector<std::string>& lines);

}  // namespace kit
