// What the scenarios share: the English runs, where a copy lands, the installed files against their sources.
#pragma once

#include <string>
#include <vector>

#include "kit/src/check.h"

namespace kit {

constexpr int kEnglish = 1;

// Where a copy lands: on the desktop, or at its target.
std::wstring DesktopPath(const Kit& kit, const Copy& c);
// The file's bytes; `ok` says whether it could be read.
std::string Bytes(const std::wstring& path, bool& ok);
std::string Some(const std::vector<std::wstring>& items);
void CompareWithSource(const std::wstring& installed, const std::wstring& source, std::vector<std::wstring>& differing);
// The first list an upgrade replaces.
const Copy& FirstReplacedList(const Kit& kit);

}  // namespace kit
