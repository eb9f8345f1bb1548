#include "kit/src/facts.h"

#include <cstdio>

namespace kit {
namespace {

const char* MachineName(unsigned machine) {
    switch (machine) {
    case kMachineX86: return "x86";
    case kMachineX64: return "x64";
    case kMachineArm: return "ARM";
    case kMachineArm64: return "ARM64";
    default: return "other";
    }
}

}  // namespace

std::string ArchitectureText(unsigned process, unsigned native, bool kit64) {
    std::string text = std::string(MachineName(native)) + " system; this kit is ";
    if (process != kMachineUnknown) return text + "32-bit " + MachineName(process) + ", running under WoW64";
    const unsigned own = kit64 ? kMachineX64 : kMachineX86;
    text += kit64 ? "64-bit x64" : "32-bit x86";
    // An x64 program on ARM64 is emulated, not under WoW64.
    return text + (own == native ? ", native" : ", emulated");
}

std::string WindowsName(const std::string& productName, unsigned build) {
    const char* number = build >= 22000 ? "Windows 11" : "Windows 10";
    if (productName.empty()) return number;
    const std::string ten = "Windows 10";
    const auto at = productName.find(ten);
    if (at == std::string::npos) return productName;
    return productName.substr(0, at) + number + productName.substr(at + ten.size());
}

std::string RunFolderName(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                          unsigned second, unsigned attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "%04u-%02u-%02u %02u.%02u.%02uZ", year, month, day, hour, minute, second);
    return attempt > 1 ? std::string(name) + " (" + std::to_string(attempt) + ")" : name;
}

std::string NewRunFolder(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second,
                         const std::function<Made(const std::string&)>& make) {
    for (unsigned attempt = 1; attempt < 100; ++attempt) {
        const std::string name = RunFolderName(year, month, day, hour, minute, second, attempt);
        const Made made = make(name);
        if (made == Made::kMade) return name;
        if (made == Made::kFailed) break;
    }
    return "";
}

}  // namespace kit
