// Facts about the running process.
#pragma once

#include <cstdint>
#include <string>

namespace process {

// Full path of the running executable, in the platform's own spelling.
std::wstring ExecutablePath();
// The folder relative names resolve against, in the same spelling.
std::wstring CurrentDirectory();

// One installation at a time on this machine, whoever runs it: waits without
// a time limit until no other holds the lock; one whose holder died is taken.
// 0 once held, else the system's code for why it cannot be had (another kind
// of object holds the name, or its access list refuses): the caller must then
// change nothing.
std::uint32_t LockInstallation();
void UnlockInstallation();

}  // namespace process
