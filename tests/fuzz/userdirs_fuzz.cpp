// Feeds arbitrary text to the user-dirs parser that stands in for the Shell
// Folders key: it must never crash, and a found desktop is never empty.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/userdirs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string content(reinterpret_cast<const char*>(data), size);
    const shellfolders::DesktopLookup r = shellfolders::ParseUserDirs(content);
    if (r.status == shellfolders::Status::Found && r.value.empty()) std::abort();
    if (r.status != shellfolders::Status::Found && !r.value.empty()) std::abort();
    return 0;
}
