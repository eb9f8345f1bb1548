#include "platform/ui.h"

#include "platform/win32/handles.h"

#include <commctrl.h>

#include <stdexcept>

namespace ui {
namespace {

const wchar_t kFormClass[] = L"TForm1";
constexpr int kFirstButtonId = 100;

HICON g_appIcon = nullptr;
HWND g_mainWindow = nullptr;

template <typename Fn>
Fn SystemFunction(const wchar_t* module, const char* name) {
    HMODULE h = ::GetModuleHandleW(module);
    return h ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(h, name))) : nullptr;
}

UINT DpiOf(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = SystemFunction<GetDpiForWindowFn>(L"user32.dll", "GetDpiForWindow");
    if (getDpi) return getDpi(hwnd);
    HDC dc = ::GetDC(hwnd);
    const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
    ::ReleaseDC(hwnd, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

RECT OuterRect(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, UINT dpi) {
    using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjust =
        SystemFunction<AdjustForDpiFn>(L"user32.dll", "AdjustWindowRectExForDpi");
    RECT r{0, 0, ::MulDiv(clientWidth, dpi, 96), ::MulDiv(clientHeight, dpi, 96)};
    if (adjust)
        adjust(&r, style, FALSE, exStyle, dpi);
    else
        ::AdjustWindowRectEx(&r, style, FALSE, exStyle);
    return r;
}

// Read explicitly: the boxes shown before the main window may already have
// consumed the system's one-time substitution of the startup show command.
int StartupShowCommand() {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    ::GetStartupInfoW(&si);
    return (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : SW_SHOWNORMAL;
}

HWND VisibleMainWindow() {
    return g_mainWindow && ::IsWindowVisible(g_mainWindow) ? g_mainWindow : nullptr;
}

class Win32MainWindow final : public MainWindow {
public:
    Win32MainWindow(const FormLayout& layout, ClickSink onClick)
        : layout_(layout), onClick_(std::move(onClick)) {}
    ~Win32MainWindow() override {
        if (g_mainWindow == hwnd_.get()) g_mainWindow = nullptr;
    }

    void Create();
    void Show() override {
        ::ShowWindow(hwnd_.get(), StartupShowCommand());
        ::UpdateWindow(hwnd_.get());
    }

    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;

private:
    LRESULT Handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;
    void ApplyDpi(UINT dpi);
    void SetIcons(UINT dpi);

    FormLayout layout_;
    ClickSink onClick_;
    win32::UniqueWindow hwnd_;
    win32::UniqueFont font_;
    std::vector<HWND> buttons_;
};

void RegisterFormClass() {
    static bool registered = false;
    if (registered) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Win32MainWindow::Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hIcon = g_appIcon;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFormClass;
    registered = ::RegisterClassExW(&wc) != 0;
}

void Win32MainWindow::Create() {
    RegisterFormClass();
    const DWORD style = WS_OVERLAPPEDWINDOW;
    HWND hwnd = ::CreateWindowExW(0, kFormClass, layout_.caption, style, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                  ::GetModuleHandleW(nullptr), this);
    if (!hwnd) throw std::runtime_error("The main window cannot be created");
    hwnd_.reset(hwnd);
    for (std::size_t i = 0; i < layout_.buttons.size(); ++i) {
        const ButtonLayout& b = layout_.buttons[i];
        const DWORD bstyle = WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON | (b.visible ? WS_VISIBLE : 0);
        buttons_.push_back(::CreateWindowExW(
            0, L"BUTTON", b.caption, bstyle, 0, 0, 0, 0, hwnd,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstButtonId + i)),
            ::GetModuleHandleW(nullptr), nullptr));
    }
    ApplyDpi(DpiOf(hwnd));
    const RECT outer = OuterRect(layout_.clientWidth, layout_.clientHeight, style, 0, DpiOf(hwnd));
    ::SetWindowPos(hwnd, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    g_mainWindow = hwnd;
}

void Win32MainWindow::ApplyDpi(UINT dpi) {
    font_.reset(::CreateFontW(-::MulDiv(layout_.fontPoints, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE,
                              FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                              layout_.fontName));
    ::SendMessageW(hwnd_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    HWND after = HWND_TOP;
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        const ButtonLayout& b = layout_.buttons[i];
        ::SetWindowPos(buttons_[i], after, ::MulDiv(b.left, dpi, 96), ::MulDiv(b.top, dpi, 96),
                       ::MulDiv(b.width, dpi, 96), ::MulDiv(b.height, dpi, 96), SWP_NOACTIVATE);
        ::SendMessageW(buttons_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
        after = buttons_[i];  // z-order is tab order
    }
    SetIcons(dpi);
}

void Win32MainWindow::SetIcons(UINT dpi) {
    HINSTANCE inst = ::GetModuleHandleW(nullptr);
    const int big = ::MulDiv(32, dpi, 96), small = ::MulDiv(16, dpi, 96);
    // Shared icons from resources are owned by the system; nothing to free.
    auto load = [&](int size) {
        return static_cast<HICON>(
            ::LoadImageW(inst, L"FORM1ICON", IMAGE_ICON, size, size, LR_SHARED));
    };
    ::SendMessageW(hwnd_.get(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(load(big)));
    ::SendMessageW(hwnd_.get(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(load(small)));
}

LRESULT CALLBACK Win32MainWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<const CREATESTRUCTW*>(lp);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32MainWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(hwnd, msg, wp, lp);
    return self->Handle(hwnd, msg, wp, lp);
}

LRESULT Win32MainWindow::Handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    switch (msg) {
    case WM_COMMAND:
        if (HIWORD(wp) == BN_CLICKED && LOWORD(wp) >= kFirstButtonId) {
            const std::size_t index = LOWORD(wp) - kFirstButtonId;
            if (index < buttons_.size() && onClick_) onClick_(index);
            return 0;
        }
        break;
    case WM_DPICHANGED: {
        const RECT* suggested = reinterpret_cast<const RECT*>(lp);
        ::SetWindowPos(hwnd, nullptr, suggested->left, suggested->top,
                       suggested->right - suggested->left, suggested->bottom - suggested->top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        ApplyDpi(HIWORD(wp));
        return 0;
    }
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        hwnd_.release();
        break;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

struct DialogPosition {
    int x, y;
};

// Centres the box on its monitor's work area, or puts it where asked.
HRESULT CALLBACK TaskDialogProc(HWND hwnd, UINT msg, WPARAM, LPARAM, LONG_PTR data) noexcept {
    if (msg != TDN_CREATED) return S_OK;
    const auto* pos = reinterpret_cast<const DialogPosition*>(data);
    RECT r;
    ::GetWindowRect(hwnd, &r);
    int x = pos->x, y = pos->y;
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    if (::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &mi)) {
        const RECT& w = mi.rcWork;
        if (x < 0) x = w.left + ((w.right - w.left) - (r.right - r.left)) / 2;
        if (y < 0) y = w.top + ((w.bottom - w.top) - (r.bottom - r.top)) / 2;
    }
    if (x >= 0 && y >= 0)
        ::SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
}

using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// Looked up at run time: only common controls 6 export it, and without them
// the program must still start and fall back to the classic box.
TaskDialogIndirectFn FindTaskDialog() {
    static win32::UniqueModule comctl(::LoadLibraryW(L"comctl32.dll"));
    if (!comctl) return nullptr;
    return reinterpret_cast<TaskDialogIndirectFn>(
        reinterpret_cast<void*>(::GetProcAddress(comctl.get(), "TaskDialogIndirect")));
}

}  // namespace

std::unique_ptr<MainWindow> CreateMainWindow(const FormLayout& layout, ClickSink onClick) {
    auto window = std::make_unique<Win32MainWindow>(layout, std::move(onClick));
    window->Create();
    return window;
}

void SetApplicationIcon(const wchar_t* resourceName) {
    g_appIcon = ::LoadIconW(::GetModuleHandleW(nullptr), resourceName);
}

void ShowMessageBox(const std::wstring& caption, const std::wstring& text, int x, int y) {
    if (TaskDialogIndirectFn taskDialog = FindTaskDialog()) {
        DialogPosition pos{x, y};
        TASKDIALOGCONFIG config{};
        config.cbSize = sizeof config;
        config.hwndParent = VisibleMainWindow();
        config.hInstance = ::GetModuleHandleW(nullptr);
        config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION;
        config.dwCommonButtons = TDCBF_OK_BUTTON;
        config.pszWindowTitle = caption.c_str();
        config.pszMainInstruction = L"";
        config.pszContent = text.c_str();
        config.pfCallback = &TaskDialogProc;
        config.lpCallbackData = reinterpret_cast<LONG_PTR>(&pos);
        int button = 0;
        if (SUCCEEDED(taskDialog(&config, &button, nullptr, nullptr))) return;
    }
    ::MessageBoxW(VisibleMainWindow(), text.c_str(), caption.c_str(), MB_OK);
}

void ShowErrorBox(const std::wstring& caption, const std::wstring& text) {
    ::MessageBoxW(VisibleMainWindow(), text.c_str(), caption.c_str(), MB_OK | MB_ICONSTOP);
}

void PostQuit() { ::PostQuitMessage(0); }

void RunLoop() {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

}  // namespace ui
