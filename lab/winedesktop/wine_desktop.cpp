#include "lab/winedesktop/wine_desktop.h"

#include <windows.h>

#include <vector>

#include "platform/win32/shell_folders_key.h"

namespace winedesktop {

void StartDesktop() {
    ::GetDesktopWindow();
    std::vector<BYTE> last;
    for (int stable = 0, round = 0; stable < 4 && round < 100; ++round) {
        ::Sleep(100);
        std::vector<BYTE> now(65536);
        DWORD size = static_cast<DWORD>(now.size());
        if (::RegGetValueW(HKEY_CURRENT_USER, kShellFoldersKey, L"Desktop", RRF_RT_ANY, nullptr, now.data(), &size) !=
            ERROR_SUCCESS)
            size = 0;
        now.resize(size);
        stable = now == last && size > 0 ? stable + 1 : 0;
        last = now;
    }
}

}  // namespace winedesktop
