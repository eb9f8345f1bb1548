// The smallest idiomatic C++17 Win32 program Setup.exe is weighed against: a
// std::wstring, one exception thrown and caught, one task dialog, one message box.
#include <windows.h>

#include <commctrl.h>

#include <stdexcept>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::wstring text = L"Reference";
    try {
        throw std::runtime_error("reference");
    } catch (const std::exception&) {
        text += L" program";
    }
    using TaskDialogFn = HRESULT(WINAPI*)(HWND, HINSTANCE, PCWSTR, PCWSTR, PCWSTR, TASKDIALOG_COMMON_BUTTON_FLAGS,
                                          PCWSTR, int*);
    HMODULE comctl = ::LoadLibraryW(L"comctl32.dll");
    auto taskDialog = comctl ? reinterpret_cast<TaskDialogFn>(
                                   reinterpret_cast<void*>(::GetProcAddress(comctl, "TaskDialog")))
                             : nullptr;
    if (taskDialog) taskDialog(nullptr, nullptr, L"Reference", L"", text.c_str(), TDCBF_OK_BUTTON, nullptr, nullptr);
    ::MessageBoxW(nullptr, text.c_str(), L"Reference", MB_OK);
    return 0;
}
