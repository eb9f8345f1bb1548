// The yardstick for the installer's speed under Wine: a program that only
// shows one task dialog.
#include <windows.h>

#include <commctrl.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using TaskDialogFn = HRESULT(WINAPI*)(HWND, HINSTANCE, PCWSTR, PCWSTR, PCWSTR, TASKDIALOG_COMMON_BUTTON_FLAGS,
                                          PCWSTR, int*);
    HMODULE comctl = ::LoadLibraryW(L"comctl32.dll");
    auto taskDialog = comctl ? reinterpret_cast<TaskDialogFn>(
                                   reinterpret_cast<void*>(::GetProcAddress(comctl, "TaskDialog")))
                             : nullptr;
    if (taskDialog) taskDialog(nullptr, nullptr, L"Setup", L"", L"Done.", TDCBF_OK_BUTTON, nullptr, nullptr);
    return 0;
}
