// Text services whose exact results depend on the platform's character tables.
#pragma once

#include <string>

namespace text {

std::wstring LowerCase(std::wstring s);

}  // namespace text
