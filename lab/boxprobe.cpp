// Test helper run under Wine: drives the installer through the shared box
// driver and writes what it saw, with the exit status, as UTF-8 to a report
// file that lab/report.py reads. Or reads shortcuts as the shell does
// and writes what they lead to.
#include <windows.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/handles.h"
#include "platform/win32/shell_folders_key.h"
#include "lab/boxdriver/boxdriver.h"
#include "platform/text.h"
#include "lab/boxdriver/gdi.h"
#include "lab/shelllink/shelllink.h"
#include "lab/winedesktop/wine_desktop.h"

namespace {

using text::ToUtf8;

// Keeps each report line on one line.
std::string Escape(const std::wstring& s) {
    std::string out;
    for (char c : ToUtf8(s)) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\\') out += "\\\\";
        else out += c;
    }
    return out;
}

struct Options {
    boxdriver::Options drive;
    bool cover = false;
    std::wstring report, hold, regDesktop, lock;
    std::vector<std::wstring> shortcuts;
};

void Describe(FILE* f, const boxdriver::Seen& s) {
    std::fprintf(f, "%s\nclass=%s\ncaption=%s\nclient=%ldx%ld\nrect=%ld,%ld,%ld,%ld\nzoomed=%d\n", s.kind.c_str(),
                 Escape(s.cls).c_str(), Escape(s.caption).c_str(), s.client.cx, s.client.cy, s.outer.left,
                 s.outer.top, s.outer.right, s.outer.bottom, s.zoomed ? 1 : 0);
    for (const boxdriver::Control& c : s.children) {
        std::fprintf(f, "child=%s|%d|%s|%s\n", Escape(c.cls).c_str(), c.id, c.visible ? "visible" : "hidden",
                     Escape(c.text).c_str());
        if (!c.icon.empty()) std::fprintf(f, "icon=%s\n", c.icon.c_str());
    }
    if (!s.shot.empty()) std::fprintf(f, "shot=%s\n", Escape(s.shot).c_str());
    std::fprintf(f, "end\n");
    if (s.kind == "box") {
        std::fprintf(f, "seen_ms=%lu\n", s.seenMs);
        if (!s.okPressed) std::fprintf(f, "note=box without OK button\n");
    }
}

// A topmost magenta window over the whole screen, active, as another
// program the user works in: the boxes appear behind it and never stay the
// active window. It takes the top and the focus back from each new window
// (looked for every 50 ms), because Wine maps a new window above all others
// on the X server whatever its own order says; a window lifted later keeps
// the top. Lives on its own thread until that thread is told to quit.
class Cover {
public:
    Cover() {
        ready_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        thread_.reset(::CreateThread(nullptr, 0, &Cover::Main, this, 0, &id_));
        if (thread_) ::WaitForSingleObject(ready_.get(), 10000);
    }
    ~Cover() {
        if (!thread_) return;
        ::PostThreadMessageW(id_, WM_QUIT, 0, 0);
        ::WaitForSingleObject(thread_.get(), 10000);
    }
    Cover(const Cover&) = delete;
    Cover& operator=(const Cover&) = delete;

private:
    static DWORD WINAPI Main(void* self) noexcept {
        auto* cover = static_cast<Cover*>(self);
        WNDCLASSW wc{};
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        boxdriver::UniqueBrush magenta(::CreateSolidBrush(RGB(255, 0, 255)));
        wc.hbrBackground = magenta.get();
        wc.lpszClassName = L"boxprobe-cover";
        ::RegisterClassW(&wc);
        win32::UniqueWindow window(::CreateWindowExW(
            WS_EX_TOPMOST, wc.lpszClassName, L"cover", WS_POPUP | WS_VISIBLE, ::GetSystemMetrics(SM_XVIRTUALSCREEN),
            ::GetSystemMetrics(SM_YVIRTUALSCREEN), ::GetSystemMetrics(SM_CXVIRTUALSCREEN),
            ::GetSystemMetrics(SM_CYVIRTUALSCREEN), nullptr, nullptr, wc.hInstance, nullptr));
        ::SetForegroundWindow(window.get());
        ::UpdateWindow(window.get());
        ::SetTimer(window.get(), 1, 50, nullptr);
        ::SetEvent(cover->ready_.get());
        MSG msg;
        while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_TIMER && cover->SawNewWindow()) {
                ::SetWindowPos(window.get(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
                ::SetWindowPos(window.get(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
                ::SetForegroundWindow(window.get());
            }
            ::DispatchMessageW(&msg);
        }
        return 0;
    }

    static BOOL CALLBACK Collect(HWND hwnd, LPARAM lp) noexcept {
        auto* cover = reinterpret_cast<Cover*>(lp);
        try {
            if (::IsWindowVisible(hwnd) && cover->known_.insert(hwnd).second) cover->sawNew_ = true;
            return TRUE;
        } catch (...) {  // out of memory: nothing may unwind through EnumWindows
            return FALSE;
        }
    }
    bool SawNewWindow() {
        sawNew_ = false;
        ::EnumWindows(&Cover::Collect, reinterpret_cast<LPARAM>(this));
        return sawNew_;
    }

    win32::UniqueHandle ready_, thread_;
    DWORD id_ = 0;
    std::set<HWND> known_;
    bool sawNew_ = false;
};

const wchar_t kInstallationLock[] = L"Global\\Orvo_Tool Setup";

// The handle stays open so the abandoned mutex outlives its holder.
DWORD WINAPI TakeAndDie(void* mutex) noexcept {
    return ::WaitForSingleObject(static_cast<HANDLE>(mutex), INFINITE) == WAIT_OBJECT_0 ? 0 : 1;
}

// The installation lock as another program may leave it: "event", another
// kind of object holding its name; "abandoned", a mutex whose holder ended
// without letting go.
bool PrepareLock(const std::wstring& how, win32::UniqueHandle& object, FILE* report) {
    if (how == L"event") {
        object.reset(::CreateEventW(nullptr, TRUE, FALSE, kInstallationLock));
    } else if (how == L"abandoned") {
        object.reset(::CreateMutexW(nullptr, FALSE, kInstallationLock));
        const win32::UniqueHandle holder(object ? ::CreateThread(nullptr, 0, &TakeAndDie, object.get(), 0, nullptr)
                                                : nullptr);
        DWORD taken = 1;
        if (!holder || ::WaitForSingleObject(holder.get(), 10000) != WAIT_OBJECT_0 ||
            !::GetExitCodeThread(holder.get(), &taken) || taken != 0)
            object.reset();
    }
    if (!object) std::fprintf(report, "error=cannot prepare the lock (%lu)\n", ::GetLastError());
    return static_cast<bool>(object);
}

int Probe(const Options& o, FILE* report) {
    win32::UniqueHandle lock;
    if (!o.lock.empty() && !PrepareLock(o.lock, lock, report)) return 2;
    // A file held open without sharing, as another program may hold it.
    win32::UniqueFile held;
    if (!o.hold.empty()) {
        held.reset(::CreateFileW(o.hold.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!held) {
            std::fprintf(report, "error=cannot hold %lu\n", ::GetLastError());
            return 2;
        }
    }
    std::unique_ptr<Cover> cover;
    if (o.cover) cover = std::make_unique<Cover>();
    const boxdriver::Run run = boxdriver::Drive(o.drive);
    cover.reset();
    if (!run.error.empty()) {
        std::fprintf(report, "error=%s\n", ToUtf8(run.error).c_str());
        return 2;
    }
    for (const boxdriver::Seen& s : run.seen) Describe(report, s);
    if (run.timedOut) std::fprintf(report, "timeout=1\n");
    std::fprintf(report, "exit=%lu\n", run.exitCode);
    return 0;
}

// Each shortcut through Wine's shell32, as a double click would take it.
int DescribeShortcuts(const Options& o, FILE* f) {
    for (const std::wstring& file : o.shortcuts) {
        const shelllink::Shortcut s = shelllink::Read(file);
        std::fprintf(f, "shortcut\nfile=%s\n", Escape(file).c_str());
        if (!s.error.empty()) {
            std::fprintf(f, "error=%s\nend\n", Escape(s.error).c_str());
            continue;
        }
        std::fprintf(f, "path=%s\nworking=%s\nicon_file=%s\nicon_index=%d\nresolve=0x%08lX\nresolved=%s\n"
                        "resolved_kind=%s\nend\n",
                     Escape(s.path).c_str(), Escape(s.workingFolder).c_str(), Escape(s.iconFile).c_str(), s.iconIndex,
                     static_cast<unsigned long>(s.resolveStatus), Escape(s.resolvedPath).c_str(),
                     shelllink::KindName(s.resolvedKind));
    }
    return 0;
}

// Sets the desktop entry with exact bytes, which reg.exe and regedit cannot
// (they always terminate strings): "TYPE:HEX", "delete" or "delete-key".
bool SetDesktopEntry(const std::wstring& entry, FILE* report) {
    LSTATUS rc;
    if (entry == L"delete-key") {
        rc = ::RegDeleteKeyW(HKEY_CURRENT_USER, kShellFoldersKey);
    } else {
        HKEY raw = nullptr;
        rc = ::RegCreateKeyExW(HKEY_CURRENT_USER, kShellFoldersKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw,
                               nullptr);
        win32::UniqueKey key(raw);
        if (rc == ERROR_SUCCESS && entry == L"delete") {
            rc = ::RegDeleteValueW(key.get(), L"Desktop");
        } else if (rc == ERROR_SUCCESS) {
            const auto colon = entry.find(L':');
            const DWORD type = static_cast<DWORD>(std::wcstoul(entry.substr(0, colon).c_str(), nullptr, 10));
            std::vector<BYTE> bytes;
            for (std::size_t i = colon + 1; i + 1 < entry.size(); i += 2)
                bytes.push_back(static_cast<BYTE>(std::wcstoul(entry.substr(i, 2).c_str(), nullptr, 16)));
            rc = ::RegSetValueExW(key.get(), L"Desktop", 0, type, bytes.empty() ? nullptr : bytes.data(),
                                  static_cast<DWORD>(bytes.size()));
        }
    }
    if (rc != ERROR_SUCCESS) std::fprintf(report, "error=registry %ld\n", static_cast<long>(rc));
    return rc == ERROR_SUCCESS;
}

// Long values come in a file: one argument cannot hold 64 KB of hex.
std::wstring ReadAscii(const std::wstring& path) {
    std::wstring text;
    if (FILE* f = _wfopen(path.c_str(), L"rb")) {
        for (int c; (c = std::fgetc(f)) != EOF;)
            if (c > ' ') text += static_cast<wchar_t>(c);
        std::fclose(f);
    }
    return text;
}

bool ParseArgs(int argc, wchar_t** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring key = argv[i], value = argv[i + 1];
        if (key == L"--report") o.report = value;
        else if (key == L"--exe") o.drive.exe = value;
        else if (key == L"--cwd") o.drive.cwd = value;
        else if (key == L"--shots") o.drive.shotPrefix = value;
        else if (key == L"--hold") o.hold = value;
        else if (key == L"--lock") o.lock = value;
        else if (key == L"--reg-desktop") o.regDesktop = value;
        else if (key == L"--timeout") o.drive.timeoutMs = static_cast<DWORD>(_wtoi(value.c_str())) * 1000;
        else if (key == L"--show") o.drive.show = value == L"max" ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
        else if (key == L"--shortcut") o.shortcuts.push_back(value);
        else if (key == L"--cover") o.cover = value == L"1";
        else return false;
    }
    return !o.report.empty() && (o.drive.exe.empty() != o.shortcuts.empty());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options o;
    if (!ParseArgs(argc, argv, o)) {
        std::fprintf(stderr, "usage: boxprobe --report FILE --exe PATH [--cwd DIR] [--shots PREFIX]"
                             " [--show max] [--cover 1] [--hold FILE] [--lock event|abandoned] [--reg-desktop TYPE:HEX|@FILE|delete|delete-key] [--timeout SECONDS]\n"
                             "       boxprobe --report FILE --shortcut LNK [--shortcut LNK]...\n");
        return 2;
    }
    FILE* report = _wfopen(o.report.c_str(), L"wb");
    if (!report) return 3;
    if (!o.regDesktop.empty() && o.regDesktop[0] == L'@') o.regDesktop = ReadAscii(o.regDesktop.substr(1));
    if (!o.regDesktop.empty()) winedesktop::StartDesktop();
    if (!o.regDesktop.empty() && !SetDesktopEntry(o.regDesktop, report)) {
        std::fclose(report);
        return 4;
    }
    int rc = 5;
    try {
        rc = o.shortcuts.empty() ? Probe(o, report) : DescribeShortcuts(o, report);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "boxprobe: %s\n", e.what());
    }
    std::fclose(report);
    return rc;
}
