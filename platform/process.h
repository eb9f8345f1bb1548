// Facts about the running process.
#pragma once

#include <string>

namespace process {

// Full path of the running executable, in the platform's own spelling.
std::wstring ExecutablePath();

}  // namespace process
