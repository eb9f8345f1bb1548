// Facts about the running process.
#pragma once

#include <string>

namespace process {

// Full path of the running executable, in the platform's own spelling.
std::wstring ExecutablePath();
// The folder relative names resolve against, in the same spelling.
std::wstring CurrentDirectory();

}  // namespace process
