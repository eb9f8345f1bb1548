// The report's wording of system facts, in plain types so that it can be
// tested on any system.
#pragma once

#include <functional>
#include <string>

namespace kit {

// IMAGE_FILE_MACHINE_* values, as IsWow64Process2 gives them.
constexpr unsigned kMachineUnknown = 0, kMachineX86 = 0x014C, kMachineX64 = 0x8664, kMachineArm = 0x01C4,
                   kMachineArm64 = 0xAA64;

// "ARM64 system; this kit is 32-bit x86, running under WoW64". `process` is
// kMachineUnknown when this process is not under WoW64; `kit64` is the build.
std::string ArchitectureText(unsigned process, unsigned native, bool kit64);

// The product name the registry gives ("Windows 10 Pro" on every Windows 11
// too), with its number taken from the build: 22000 and later is Windows 11.
std::string WindowsName(const std::string& productName, unsigned build);

// A run's report folder name from its UTC start, which sorts in time order:
// "2026-12-09 19.45.12Z"; `attempt` > 1 adds " (N)" for a second run in the same second.
std::string RunFolderName(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                          unsigned second, unsigned attempt);

// What `make` did with a folder name: made it, found it taken, or failed.
enum class Made { kMade, kTaken, kFailed };
// This run's report folder, made through `make` (which makes a folder only
// where nothing is, as CreateDirectoryW does): the start's name, else the
// next " (N)" while names are taken, so that an earlier run's is never
// reused. Its name, or empty when `make` failed or every name was taken.
std::string NewRunFolder(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second,
                         const std::function<Made(const std::string&)>& make);

}  // namespace kit
