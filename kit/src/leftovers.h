// What a run will create, listed beside the kit before it creates any of it,
// so that a kit whose console was closed, or that was killed, is cleaned up
// after: by the console handler, else by the kit's next start.
#pragma once

#include <string>
#include <vector>

namespace kit {

// Writes the list: the paths to remove, and the folder whose running
// programs (Setup.exe of the work copy) are to be ended first.
bool WriteLeftoverList(const std::vector<std::wstring>& paths, const std::wstring& programsUnder);

struct Cleared {
    bool listed = false;               // a list was there
    std::vector<std::wstring> removed;  // listed paths that were there and are gone
    std::vector<std::wstring> stayed;   // listed paths that could not be removed
};
// Ends the listed programs, removes the listed paths (waiting a moment for
// held ones) and nothing else, then the list itself when all are gone.
Cleared ClearLeftovers();

}  // namespace kit
