// Facts about the running process.
#pragma once

#include <string>

namespace process {

// Full path of the running executable, in the platform's own spelling.
std::wstring ExecutablePath();
// The folder relative names resolve against, in the same spelling.
std::wstring CurrentDirectory();

// One installation at a time on this machine, whoever runs it: waits without
// a time limit until no other holds the lock; one whose holder died is free.
// Without a lock to be had (another object squats the name, say) the run goes
// on unlocked rather than not at all.
void LockInstallation();
void UnlockInstallation();

}  // namespace process
