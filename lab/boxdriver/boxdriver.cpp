#include "lab/boxdriver/boxdriver.h"

#include <commctrl.h>

#include <cstdint>
#include <exception>
#include <set>

#include "lab/boxdriver/accessible.h"
#include "lab/boxdriver/gdi.h"
#include "lab/boxdriver/picture.h"

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

Run Drive(const Options& options) {
    Run run;
    Session(options, run).Start();
    return run;
}

}  // namespace boxdriver
