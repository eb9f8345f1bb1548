#include <windows.h>

#include "platform/startup.h"
#include "platform/win32/security.h"

namespace {

// Before any DLL is loaded on demand: search System32 only, never the folder
// the installer was downloaded to, where a planted DLL may wait. Looked up at
// run time for systems without the update that added it.
void HardenDllSearch() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ::SetDllDirectoryW(L"");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    HardenDllSearch();
    // It covers junctions only; the folders' own checks do the rest.
    win32::EnforceRedirectionTrust();
    return Setup();
}
