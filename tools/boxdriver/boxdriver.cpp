#include "tools/boxdriver/boxdriver.h"

#include <cstdint>
#include <exception>
#include <set>

#include "tools/boxdriver/accessible.h"
#include "tools/boxdriver/gdi.h"
#include "tools/boxdriver/png.h"

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

// A rectangle of `src` as 0x00RRGGBB pixels.
std::vector<std::uint32_t> Capture(HDC src, int x, int y, int w, int h) {
    UniqueMemoryDc mem(::CreateCompatibleDC(src));
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    UniqueBitmap bmp(::CreateDIBSection(src, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!mem || !bmp || !bits) return std::vector<std::uint32_t>(static_cast<std::size_t>(w) * h);
    Selection selected(mem.get(), bmp.get());
    ::BitBlt(mem.get(), 0, 0, w, h, src, x, y, SRCCOPY);
    ::GdiFlush();
    const auto* p = static_cast<const std::uint32_t*>(bits);
    std::vector<std::uint32_t> out(p, p + w * h);
    for (auto& px : out) px &= 0xFFFFFF;
    return out;
}

// `fitted`: the icon loaded at the control's size (a box on a screen above
// 96 dpi shows a larger image), else drawn at the system's default size.
bool LooksLike(HDC screen, const std::vector<std::uint32_t>& shown, int w, int h, LPCWSTR icon, bool fitted) {
    UniqueMemoryDc mem(::CreateCompatibleDC(screen));
    UniqueBitmap bmp(::CreateCompatibleBitmap(screen, w, h));
    if (!mem || !bmp) return false;
    Selection selected(mem.get(), bmp.get());
    RECT all{0, 0, w, h};
    ::FillRect(mem.get(), &all, ::GetSysColorBrush(COLOR_3DFACE));
    if (fitted) {
        const auto image = static_cast<HICON>(::LoadImageW(nullptr, icon, IMAGE_ICON, w, h, LR_SHARED));
        ::DrawIconEx(mem.get(), 0, 0, image, w, h, 0, nullptr, DI_NORMAL);
    } else {
        ::DrawIconEx(mem.get(), 0, 0, ::LoadIconW(nullptr, icon), 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE);
    }
    const auto drawn = Capture(mem.get(), 0, 0, w, h);
    std::size_t same = 0;
    for (std::size_t i = 0; i < drawn.size(); ++i) same += drawn[i] == shown[i];
    return same * 100 >= drawn.size() * 95;
}

// Icon handles of another process cannot be compared under Wine, so the icon
// control's pixels are compared with each standard icon drawn the same way;
// a box still being painted is looked at again for up to two seconds.
std::string IconName(HWND control) {
    const struct {
        LPCWSTR id;
        const char* name;
    } known[] = {{IDI_HAND, "stop"}, {IDI_EXCLAMATION, "warning"}, {IDI_ASTERISK, "information"},
                 {IDI_QUESTION, "question"}};
    for (int attempt = 0; attempt < 20; ++attempt, ::Sleep(100)) {
        RECT r;
        ::GetWindowRect(control, &r);
        const int w = r.right - r.left, h = r.bottom - r.top;
        if (w <= 0 || h <= 0) return "none";
        ScreenDc screen;
        const auto shown = Capture(screen.get(), r.left, r.top, w, h);
        for (const bool fitted : {false, true})
            for (const auto& k : known)
                if (LooksLike(screen.get(), shown, w, h, k.id, fitted)) return k.name;
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
            c.control.icon = ::SendMessageW(c.hwnd, STM_GETICON, 0, 0) != 0 ? IconName(c.hwnd) : "none";
        s.children.push_back(c.control);
    }
    if (accessible) ReadAccessible(hwnd, s);
    return s;
}

bool PressOk(HWND box) {
    for (const Child& c : ChildrenOf(box))
        if (c.control.id == kOkId && _wcsicmp(c.control.cls.c_str(), L"Button") == 0) {
            ::PostMessageW(c.hwnd, BM_CLICK, 0, 0);
            return true;
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
        s.okPressed = PressOk(hwnd);
        // A box whose OK is no control of its own still takes the command.
        if (!s.okPressed) ::PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
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

const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

}  // namespace

std::string Utf8(const std::wstring& s) {
    if (s.empty()) return {};
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
    return out;
}

bool Screenshot(HWND hwnd, const std::wstring& path) {
    RECT r;
    if (!::GetWindowRect(hwnd, &r)) return false;
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return false;
    ScreenDc screen;
    const auto pixels = Capture(screen.get(), r.left, r.top, w, h);
    std::vector<unsigned char> rgb;
    rgb.reserve(pixels.size() * 3);
    for (std::uint32_t px : pixels)
        rgb.insert(rgb.end(), {static_cast<unsigned char>(px >> 16), static_cast<unsigned char>(px >> 8),
                               static_cast<unsigned char>(px)});
    return WritePng(path, w, h, rgb);
}

// Under Wine the desktop process rewrites the Shell Folders entries when it
// starts, which happens on the first window of the session: start it, and
// wait until the entry it writes has settled, before setting ours.
bool StartDesktop() {
    ::GetDesktopWindow();
    std::vector<BYTE> last;
    for (int stable = 0, round = 0; stable < 4 && round < 100; ++round) {
        ::Sleep(100);
        std::vector<BYTE> now(65536);
        DWORD size = static_cast<DWORD>(now.size());
        if (::RegGetValueW(HKEY_CURRENT_USER, kShellFolders, L"Desktop", RRF_RT_ANY, nullptr, now.data(), &size) !=
            ERROR_SUCCESS)
            size = 0;
        now.resize(size);
        stable = now == last && size > 0 ? stable + 1 : 0;
        last = now;
    }
    return true;
}

Run Drive(const Options& options) {
    Run run;
    Session(options, run).Start();
    return run;
}

}  // namespace boxdriver
