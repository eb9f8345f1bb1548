#include "lab/boxdriver/boxdriver.h"

#include <commctrl.h>

#include <cstdint>
#include <exception>
#include <set>

#include "lab/boxdriver/accessible.h"
#include "lab/boxdriver/gdi.h"
#include "lab/boxdriver/png.h"

namespace boxdriver {
namespace {

using win32::UniqueHandle;

std::wstring TextOf(HWND hwnd) {
    wchar_t buf[4096];
    DWORD_PTR len = 0;
    if (!::SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buf), SMTO_BLOCK, 2000, &len))
        return L"";
    return std::wstring(buf, len);
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t buf[256];
    const int n = ::GetClassNameW(hwnd, buf, 256);
    return std::wstring(buf, n > 0 ? n : 0);
}

// Pixels of a DIB section as 0x00RRGGBB.
std::vector<std::uint32_t> Pixels(const void* bits, int w, int h) {
    const auto* p = static_cast<const std::uint32_t*>(bits);
    std::vector<std::uint32_t> out(p, p + static_cast<std::size_t>(w) * h);
    for (auto& px : out) px &= 0xFFFFFF;
    return out;
}

// A w x h top-down 32-bit DIB selected into a memory DC, drawn on by `draw`;
// empty when the DC or the bitmap cannot be made or `draw` fails.
template <typename Draw>
std::vector<std::uint32_t> Drawn(int w, int h, Draw draw) {
    ScreenDc screen;
    UniqueMemoryDc mem(::CreateCompatibleDC(screen.get()));
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    UniqueBitmap bmp(::CreateDIBSection(screen.get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!mem || !bmp || !bits) return {};
    Selection selected(mem.get(), bmp.get());
    if (!draw(mem.get())) return {};
    ::GdiFlush();
    return Pixels(bits, w, h);
}

// The build targets Windows 7, whose headers leave the flag out.
constexpr UINT kRenderFullContent = 0x00000002;  // PW_RENDERFULLCONTENT

// The window as it draws itself, whatever covers it on the screen.
// PW_RENDERFULLCONTENT (Windows 8.1 and later) also takes what the window
// composes outside GDI; a system that does not know the flag refuses it.
std::vector<std::uint32_t> Rendered(HWND hwnd, int w, int h) {
    return Drawn(w, h, [hwnd](HDC dc) {
        return ::PrintWindow(hwnd, dc, kRenderFullContent) != FALSE || ::PrintWindow(hwnd, dc, 0) != FALSE;
    });
}

bool Uniform(const std::vector<std::uint32_t>& pixels) {
    for (std::uint32_t px : pixels)
        if (px != pixels.front()) return false;
    return true;
}

// Puts a window above all others without activating it, and back below the
// topmost ones when done; one that was topmost already stays as it was.
class Lifted {
public:
    explicit Lifted(HWND hwnd)
        : hwnd_(hwnd), lifted_((::GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) == 0) {
        if (lifted_) Place(HWND_TOPMOST);
    }
    ~Lifted() {
        if (lifted_) Place(HWND_NOTOPMOST);
    }
    Lifted(const Lifted&) = delete;
    Lifted& operator=(const Lifted&) = delete;

private:
    void Place(HWND where) {
        ::SetWindowPos(hwnd_, where, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
    }
    HWND hwnd_;
    bool lifted_;
};

// Whether a visible window above `top` in the z-order overlaps `r`.
bool Covered(HWND top, const RECT& r) {
    for (HWND above = ::GetWindow(top, GW_HWNDPREV); above; above = ::GetWindow(above, GW_HWNDPREV)) {
        RECT other, both;
        if (::IsWindowVisible(above) && ::GetWindowRect(above, &other) && ::IntersectRect(&both, &other, &r))
            return true;
    }
    return false;
}

std::vector<std::uint32_t> FromScreen(const RECT& r) {
    ScreenDc screen;
    const int w = r.right - r.left, h = r.bottom - r.top;
    return Drawn(w, h, [&](HDC dc) { return ::BitBlt(dc, 0, 0, w, h, screen.get(), r.left, r.top, SRCCOPY) != FALSE; });
}

// A window's picture: as it renders itself (PrintWindow), else from the
// screen, its top-level window first lifted above whatever covers it (only
// then: a lift makes it repaint). Wine renders only its own process's
// windows this way (measured: an all-black bitmap, and TRUE); Windows
// renders any window.
std::vector<std::uint32_t> Picture(HWND hwnd) {
    RECT r;
    if (!::GetWindowRect(hwnd, &r) || r.right <= r.left || r.bottom <= r.top) return {};
    auto pixels = Rendered(hwnd, r.right - r.left, r.bottom - r.top);
    if (!pixels.empty() && !Uniform(pixels)) return pixels;
    const HWND top = ::GetAncestor(hwnd, GA_ROOT);
    if (!Covered(top, r)) return FromScreen(r);
    Lifted lifted(top);
    ::Sleep(200);  // let it repaint what was covered
    return FromScreen(r);
}

// `fitted`: the icon loaded at the control's size (a box on a screen above
// 96 dpi shows a larger image), else drawn at the system's default size; on
// the background the control itself shows (a white panel since Vista, the
// 3D face under Wine).
bool LooksLike(const std::vector<std::uint32_t>& shown, int w, int h, std::uint32_t background, LPCWSTR icon,
               bool fitted) {
    const auto drawn = Drawn(w, h, [&](HDC dc) {
        UniqueBrush brush(::CreateSolidBrush(RGB(background >> 16, (background >> 8) & 0xFF, background & 0xFF)));
        RECT all{0, 0, w, h};
        ::FillRect(dc, &all, brush.get());
        if (fitted) {
            const auto image = static_cast<HICON>(::LoadImageW(nullptr, icon, IMAGE_ICON, w, h, LR_SHARED));
            return ::DrawIconEx(dc, 0, 0, image, w, h, 0, nullptr, DI_NORMAL) != FALSE;
        }
        return ::DrawIconEx(dc, 0, 0, ::LoadIconW(nullptr, icon), 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE) !=
               FALSE;
    });
    if (drawn.empty() || drawn.size() != shown.size()) return false;
    std::size_t same = 0;
    for (std::size_t i = 0; i < drawn.size(); ++i) same += drawn[i] == shown[i];
    return same * 100 >= drawn.size() * 95;
}

const struct {
    LPCWSTR id;
    const char* name;
} kStockIcons[] = {{IDI_HAND, "stop"}, {IDI_EXCLAMATION, "warning"}, {IDI_ASTERISK, "information"},
                   {IDI_QUESTION, "question"}};

// The icon a box's static control holds (STM_GETICON). On Windows the stock
// icons are shared system-wide, so the handle itself names it. Under Wine a
// handle is valid only in its own process, and a box above 96 dpi may hold a
// larger copy: then the control's picture is compared with each stock icon
// drawn on the control's background (its corner, which no stock icon
// covers); a box still being painted is looked at again for two seconds.
std::string IconName(HWND control) {
    const auto held = reinterpret_cast<HICON>(::SendMessageW(control, STM_GETICON, 0, 0));
    if (!held) return "none";
    for (const auto& k : kStockIcons)
        if (held == ::LoadIconW(nullptr, k.id)) return k.name;
    for (int attempt = 0; attempt < 20; ++attempt, ::Sleep(100)) {
        RECT r;
        if (!::GetWindowRect(control, &r) || r.right <= r.left || r.bottom <= r.top) return "none";
        const int w = r.right - r.left, h = r.bottom - r.top;
        const auto shown = Picture(control);
        if (shown.empty()) continue;
        for (const bool fitted : {false, true})
            for (const auto& k : kStockIcons)
                if (LooksLike(shown, w, h, shown[0], k.id, fitted)) return k.name;
    }
    return "other";
}

// What an enumeration collects, and the exception that stopped it: nothing
// may unwind through the system's enumeration, so it is rethrown after it.
template <typename T>
struct Collected {
    T items;
    std::exception_ptr error;
    T Take() {
        if (error) std::rethrow_exception(error);
        return std::move(items);
    }
};

template <typename T, typename Add>
BOOL Guarded(LPARAM lp, Add add) noexcept {
    auto* c = reinterpret_cast<Collected<T>*>(lp);
    try {
        add(c->items);
        return TRUE;
    } catch (...) {
        c->error = std::current_exception();
        return FALSE;
    }
}

struct Child {
    HWND hwnd;
    Control control;
    LONG style;
};

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lp) noexcept {
    return Guarded<std::vector<Child>>(lp, [hwnd](std::vector<Child>& out) {
        const LONG style = ::GetWindowLongW(hwnd, GWL_STYLE);
        out.push_back({hwnd, {ClassOf(hwnd), TextOf(hwnd), ::GetDlgCtrlID(hwnd), (style & WS_VISIBLE) != 0, ""},
                       style});
    });
}

std::vector<Child> ChildrenOf(HWND hwnd) {
    Collected<std::vector<Child>> children;
    ::EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&children));
    return children.Take();
}

UINT DpiOf(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpi) return getDpi(hwnd);
    ScreenDc screen;
    const int dpi = ::GetDeviceCaps(screen.get(), LOGPIXELSY);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

Seen Describe(const char* kind, HWND hwnd, bool accessible) {
    Seen s;
    s.kind = kind;
    s.cls = ClassOf(hwnd);
    s.caption = TextOf(hwnd);
    RECT client{}, outer{};
    ::GetClientRect(hwnd, &client);
    ::GetWindowRect(hwnd, &outer);
    s.outer = {outer.left, outer.top, outer.right, outer.bottom};
    s.client = {client.right, client.bottom};
    s.zoomed = ::IsZoomed(hwnd) != FALSE;
    s.dpi = DpiOf(hwnd);
    for (Child& c : ChildrenOf(hwnd)) {
        if (_wcsicmp(c.control.cls.c_str(), L"Static") == 0 && (c.style & SS_TYPEMASK) == SS_ICON)
            c.control.icon = IconName(c.hwnd);
        s.children.push_back(c.control);
    }
    if (accessible) ReadAccessible(hwnd, s);
    return s;
}

bool IsMessageBox(const std::vector<Child>& children) {
    for (const Child& c : children)
        if (c.control.id == kMessageBoxTextId && _wcsicmp(c.control.cls.c_str(), L"Static") == 0) return true;
    return false;
}

// OK by its command, not by a click: BM_CLICK works only while the box is
// the active window, which a box behind another window is not. A task
// dialog takes TDM_CLICK_BUTTON, a message box WM_COMMAND IDOK. Posted again
// until the box is gone or its program has ended; false if it stayed.
bool PressOk(HWND box, HANDLE process) {
    const bool messageBox = IsMessageBox(ChildrenOf(box));
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (messageBox)
            ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        else
            ::PostMessageW(box, TDM_CLICK_BUTTON, IDOK, 0);
        for (int wait = 0; wait < 10; ++wait) {
            if (!::IsWindow(box) || !::IsWindowVisible(box)) return true;
            if (::WaitForSingleObject(process, 50) == WAIT_OBJECT_0) return true;
        }
    }
    return false;
}

struct Finder {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTop(HWND hwnd, LPARAM lp) noexcept {
    return Guarded<Finder>(lp, [hwnd](Finder& f) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(hwnd, &pid);
        if (pid == f.pid && ::IsWindowVisible(hwnd)) f.found.push_back(hwnd);
    });
}

class Session {
public:
    Session(const Options& o, Run& run) : o_(o), run_(run) {}
    void Start();

private:
    void Visit(HWND hwnd);
    std::wstring Shoot(HWND hwnd, const wchar_t* kind);

    const Options& o_;
    Run& run_;
    UniqueHandle process_;
    DWORD start_ = 0;
    std::set<HWND> done_;
    bool sawBox_ = false;
    int shots_ = 0;
};

std::wstring Session::Shoot(HWND hwnd, const wchar_t* kind) {
    if (o_.shotPrefix.empty()) return L"";
    const std::wstring path = o_.shotPrefix + L"-" + std::to_wstring(++shots_) + L"-" + kind + L".png";
    return Screenshot(hwnd, path) ? path : L"";
}

void Session::Visit(HWND hwnd) {
    if (done_.count(hwnd)) return;
    const std::wstring cls = ClassOf(hwnd);
    if (cls == L"#32770") {
        const DWORD seen = ::GetTickCount() - start_;
        ::Sleep(400);  // let it paint before the picture is taken
        const std::wstring shot = Shoot(hwnd, L"box");
        Seen s = Describe("box", hwnd, o_.readAccessible);
        s.shot = shot;
        s.seenMs = seen;
        s.okPressed = PressOk(hwnd, process_.get());
        run_.seen.push_back(std::move(s));
        sawBox_ = true;
        done_.insert(hwnd);
    } else if (cls == L"TForm1" && sawBox_) {
        // After a completion box the window shows for an instant as the program
        // quits; after an error box it stays: record it, then close it as a user would.
        if (::WaitForSingleObject(process_.get(), 1000) == WAIT_OBJECT_0) return;
        const std::wstring shot = Shoot(hwnd, L"window");
        Seen s = Describe("window", hwnd, false);
        s.shot = shot;
        run_.seen.push_back(std::move(s));
        ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
        done_.insert(hwnd);
    } else if (cls == L"TForm1") {
        run_.seen.push_back(Describe("window-before-box", hwnd, false));
        done_.insert(hwnd);
    }
}

void Session::Start() {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(o_.show);
    PROCESS_INFORMATION pi{};
    start_ = ::GetTickCount();
    std::wstring cmd = L"\"" + o_.exe + L"\"" + (o_.args.empty() ? L"" : L" " + o_.args);
    if (!::CreateProcessW(o_.exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                          o_.cwd.empty() ? nullptr : o_.cwd.c_str(), &si, &pi)) {
        run_.error = L"CreateProcess failed " + std::to_wstring(::GetLastError());
        return;
    }
    UniqueHandle thread(pi.hThread);
    process_.reset(pi.hProcess);
    while (::WaitForSingleObject(process_.get(), 10) == WAIT_TIMEOUT) {
        if (o_.abort && o_.abort->load()) {
            run_.aborted = true;
            ::TerminateProcess(process_.get(), 98);
            ::WaitForSingleObject(process_.get(), 5000);
            break;
        }
        if (::GetTickCount() - start_ > o_.timeoutMs) {
            run_.timedOut = true;
            ::TerminateProcess(process_.get(), 99);
            ::WaitForSingleObject(process_.get(), 5000);
            break;
        }
        Collected<Finder> finder{{pi.dwProcessId, {}}, nullptr};
        ::EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&finder));
        for (HWND hwnd : finder.Take().found) Visit(hwnd);
    }
    ::GetExitCodeProcess(process_.get(), &run_.exitCode);
}

}  // namespace

bool Screenshot(HWND hwnd, const std::wstring& path) {
    RECT r;
    if (!::GetWindowRect(hwnd, &r)) return false;
    const int w = r.right - r.left, h = r.bottom - r.top;
    const auto pixels = Picture(hwnd);
    if (pixels.empty()) return false;
    std::vector<unsigned char> rgb;
    rgb.reserve(pixels.size() * 3);
    for (std::uint32_t px : pixels)
        rgb.insert(rgb.end(), {static_cast<unsigned char>(px >> 16), static_cast<unsigned char>(px >> 8),
                               static_cast<unsigned char>(px)});
    return WritePng(path, w, h, rgb);
}

Run Drive(const Options& options) {
    Run run;
    Session(options, run).Start();
    return run;
}

}  // namespace boxdriver
