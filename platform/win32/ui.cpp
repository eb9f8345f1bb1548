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

// A function some systems lack, looked up at run time; nullptr where it is missing.
template <typename Fn>
Fn ProcIn(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
}

template <typename Fn>
Fn SystemFunction(const wchar_t* module, const char* name) {
    return ProcIn<Fn>(::GetModuleHandleW(module), name);
}

// Per-monitor DPI: the window's own (Windows 10), else its monitor's
// (Windows 8.1, shcore), else the system's.
UINT DpiOf(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = SystemFunction<GetDpiForWindowFn>(L"user32.dll", "GetDpiForWindow");
    if (getDpi) return getDpi(hwnd);
    using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    static win32::UniqueModule shcore(::LoadLibraryW(L"shcore.dll"));
    static const auto getMonitorDpi = ProcIn<GetDpiForMonitorFn>(shcore.get(), "GetDpiForMonitor");
    UINT x = 0, y = 0;
    constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
    if (getMonitorDpi &&
        SUCCEEDED(getMonitorDpi(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), kEffectiveDpi, &x, &y)) && y)
        return y;
    HDC dc = ::GetDC(hwnd);
    const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
    ::ReleaseDC(hwnd, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// Per-monitor awareness of the first kind (Windows 10 1607) scales the title
// bar only when asked, during WM_NCCREATE; the second kind does it anyway.
void EnableNonClientScaling(HWND hwnd) {
    using EnableFn = BOOL(WINAPI*)(HWND);
    static const auto enable = SystemFunction<EnableFn>(L"user32.dll", "EnableNonClientDpiScaling");
    if (enable) enable(hwnd);
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

HMODULE CommonControls() {
    static win32::UniqueModule comctl(::LoadLibraryW(L"comctl32.dll"));
    return comctl.get();
}

// LoadIconWithScaleDown (common controls 6) scales a larger image down, as the
// shell does; without it, an unshared image of exactly that size.
HICON LoadIconOfSize(const wchar_t* name, int size) {
    using LoadIconWithScaleDownFn = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
    static const auto load = ProcIn<LoadIconWithScaleDownFn>(CommonControls(), "LoadIconWithScaleDown");
    HINSTANCE inst = ::GetModuleHandleW(nullptr);
    HICON icon = nullptr;
    if (load && SUCCEEDED(load(inst, name, size, size, &icon))) return icon;
    return static_cast<HICON>(::LoadImageW(inst, name, IMAGE_ICON, size, size, 0));
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
    win32::UniqueFont font_;
    win32::UniqueIcon bigIcon_, smallIcon_;
    std::vector<HWND> buttons_;
    // Last, so it is destroyed first: WM_DESTROY and WM_NCDESTROY still find
    // the font, the icons and the buttons alive.
    win32::UniqueWindow hwnd_;
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

// The controls get the new font before the old one is deleted.
void Win32MainWindow::ApplyDpi(UINT dpi) {
    win32::UniqueFont font(::CreateFontW(-::MulDiv(layout_.fontPoints, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE,
                                         FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                         CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                                         layout_.fontName));
    ::SendMessageW(hwnd_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    HWND after = HWND_TOP;
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        const ButtonLayout& b = layout_.buttons[i];
        ::SetWindowPos(buttons_[i], after, ::MulDiv(b.left, dpi, 96), ::MulDiv(b.top, dpi, 96),
                       ::MulDiv(b.width, dpi, 96), ::MulDiv(b.height, dpi, 96), SWP_NOACTIVATE);
        ::SendMessageW(buttons_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
        after = buttons_[i];  // z-order is tab order
    }
    font_ = std::move(font);
    SetIcons(dpi);
}

// Each size loaded exactly and owned here: a shared load would hand back the
// first cached size for every request, and never a new one after a DPI change.
void Win32MainWindow::SetIcons(UINT dpi) {
    win32::UniqueIcon big(LoadIconOfSize(L"FORM1ICON", ::MulDiv(32, dpi, 96)));
    win32::UniqueIcon small(LoadIconOfSize(L"FORM1ICON", ::MulDiv(16, dpi, 96)));
    ::SendMessageW(hwnd_.get(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.get()));
    ::SendMessageW(hwnd_.get(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.get()));
    bigIcon_ = std::move(big);
    smallIcon_ = std::move(small);
}

LRESULT CALLBACK Win32MainWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<const CREATESTRUCTW*>(lp);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        EnableNonClientScaling(hwnd);
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
        if (g_mainWindow == hwnd) g_mainWindow = nullptr;
        hwnd_.release();
        break;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

// Which axes to centre is said apart from the coordinates: a monitor left of
// or above the primary has negative ones.
struct DialogPosition {
    int x, y;
    bool centreX, centreY;
};

// Centres the box on its monitor's work area, or puts it where asked.
HRESULT CALLBACK TaskDialogProc(HWND hwnd, UINT msg, WPARAM, LPARAM, LONG_PTR data) noexcept {
    if (msg != TDN_CREATED) return S_OK;
    const auto* pos = reinterpret_cast<const DialogPosition*>(data);
    RECT r;
    ::GetWindowRect(hwnd, &r);
    int x = pos->x, y = pos->y;
    if (pos->centreX || pos->centreY) {
        MONITORINFO mi{};
        mi.cbSize = sizeof mi;
        if (!::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &mi)) return S_OK;
        const RECT& w = mi.rcWork;
        if (pos->centreX) x = w.left + ((w.right - w.left) - (r.right - r.left)) / 2;
        if (pos->centreY) y = w.top + ((w.bottom - w.top) - (r.bottom - r.top)) / 2;
    }
    ::SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
}

using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// Looked up at run time: only common controls 6 export it, and without them
// the program must still start and fall back to the classic box.
TaskDialogIndirectFn FindTaskDialog() { return ProcIn<TaskDialogIndirectFn>(CommonControls(), "TaskDialogIndirect"); }

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
        DialogPosition pos{x, y, x == -1, y == -1};
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
