// The kit's lines on its console in the console's own characters, elsewhere as UTF-8.
#include "kit/src/console.h"

#include <cstdio>

#include "kit/src/check.h"

namespace kit {

void Print(const std::string& line) {
    const std::wstring wide = Wide(line + "\n");
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0, written = 0;
    if (::GetConsoleMode(out, &mode))
        ::WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    else
        std::fwrite(line.data(), 1, line.size(), stdout), std::fputc('\n', stdout), std::fflush(stdout);
}

}  // namespace kit
