// Test helper run under Wine: starts the installer, reads every top-level
// window it shows (caption, controls, icon, client size), saves a PNG of each,
// presses OK on boxes, closes a main window left open after an error box, and
// writes what it saw, with the exit status, as UTF-8 to a report file.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <set>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& s) {
    if (s.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr,
                          nullptr);
    return out;
}

// Keeps each report line on one line.
std::string Escape(const std::wstring& s) {
    std::string out;
    for (char c : Utf8(s)) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\\') out += "\\\\";
        else out += c;
    }
    return out;
}

std::wstring TextOf(HWND hwnd) {
    wchar_t buf[4096];
    DWORD_PTR len = 0;
    if (!::SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buf), SMTO_BLOCK,
                               2000, &len))
        return L"";
    return std::wstring(buf, len);
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t buf[256];
    const int n = ::GetClassNameW(hwnd, buf, 256);
    return std::wstring(buf, n > 0 ? n : 0);
}

// ---- PNG writer: stored deflate blocks, so no compression library is needed.
std::uint32_t Crc32(const unsigned char* p, std::size_t n, std::uint32_t crc = 0) {
    crc = ~crc;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void Put32(std::vector<unsigned char>& v, std::uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<unsigned char>(x >> s));
}

void Chunk(std::vector<unsigned char>& png, const char* type, const std::vector<unsigned char>& body) {
    Put32(png, static_cast<std::uint32_t>(body.size()));
    std::vector<unsigned char> typed(type, type + 4);
    typed.insert(typed.end(), body.begin(), body.end());
    png.insert(png.end(), typed.begin(), typed.end());
    Put32(png, Crc32(typed.data(), typed.size()));
}

bool WritePng(const std::wstring& path, int w, int h, const std::vector<unsigned char>& rgb) {
    std::vector<unsigned char> raw;
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rgb.begin() + y * w * 3, rgb.begin() + (y + 1) * w * 3);
    }
    std::vector<unsigned char> z{0x78, 0x01};
    std::uint32_t a = 1, b = 0;
    for (unsigned char c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
    for (std::size_t off = 0; off < raw.size() || off == 0; off += 65535) {
        const std::size_t n = raw.size() - off < 65535 ? raw.size() - off : 65535;
        z.push_back(off + n >= raw.size() ? 1 : 0);
        z.push_back(n & 0xFF), z.push_back(n >> 8);
        z.push_back(~n & 0xFF), z.push_back((~n >> 8) & 0xFF);
        z.insert(z.end(), raw.begin() + off, raw.begin() + off + n);
        if (raw.empty()) break;
    }
    Put32(z, (b << 16) | a);
    std::vector<unsigned char> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<unsigned char> ihdr;
    Put32(ihdr, w), Put32(ihdr, h);
    for (unsigned char c : {8, 2, 0, 0, 0}) ihdr.push_back(c);
    Chunk(png, "IHDR", ihdr);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", {});
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    const bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    return std::fclose(f) == 0 && ok;
}

// Capture of a screen rectangle as 0x00RRGGBB pixels.
std::vector<std::uint32_t> Capture(HDC src, int x, int y, int w, int h) {
    HDC mem = ::CreateCompatibleDC(src);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bmp = ::CreateDIBSection(src, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(mem, bmp);
    ::BitBlt(mem, 0, 0, w, h, src, x, y, SRCCOPY);
    ::GdiFlush();
    const auto* p = static_cast<const std::uint32_t*>(bits);
    std::vector<std::uint32_t> out(p, p + w * h);
    ::SelectObject(mem, old);
    ::DeleteObject(bmp);
    ::DeleteDC(mem);
    for (auto& px : out) px &= 0xFFFFFF;
    return out;
}

bool Screenshot(HWND hwnd, const std::wstring& path) {
    RECT r;
    if (!::GetWindowRect(hwnd, &r)) return false;
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return false;
    HDC screen = ::GetDC(nullptr);
    const auto pixels = Capture(screen, r.left, r.top, w, h);
    ::ReleaseDC(nullptr, screen);
    std::vector<unsigned char> rgb;
    rgb.reserve(pixels.size() * 3);
    for (std::uint32_t px : pixels)
        rgb.insert(rgb.end(), {static_cast<unsigned char>(px >> 16), static_cast<unsigned char>(px >> 8),
                               static_cast<unsigned char>(px)});
    return WritePng(path, w, h, rgb);
}

// ---- What a window shows.
struct Options {
    std::wstring report, exe, cwd, shots, hold, regDesktop;
    int show = SW_SHOWNORMAL;
    DWORD timeoutMs = 30000;
};

bool LooksLike(HDC screen, const std::vector<std::uint32_t>& shown, int w, int h, LPCWSTR icon) {
    HDC mem = ::CreateCompatibleDC(screen);
    HBITMAP bmp = ::CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = ::SelectObject(mem, bmp);
    RECT all{0, 0, w, h};
    ::FillRect(mem, &all, ::GetSysColorBrush(COLOR_3DFACE));
    ::DrawIconEx(mem, 0, 0, ::LoadIconW(nullptr, icon), 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE);
    const auto drawn = Capture(mem, 0, 0, w, h);
    ::SelectObject(mem, old);
    ::DeleteObject(bmp);
    ::DeleteDC(mem);
    std::size_t same = 0;
    for (std::size_t i = 0; i < drawn.size(); ++i) same += drawn[i] == shown[i];
    return same * 100 >= drawn.size() * 95;
}

// Icon handles of another process cannot be compared under Wine, so the icon
// control's pixels are compared with each standard icon drawn the same way;
// a box still being painted is looked at again for up to two seconds.
std::string IconName(HWND control) {
    const struct { LPCWSTR id; const char* name; } known[] = {
        {IDI_HAND, "stop"}, {IDI_EXCLAMATION, "warning"}, {IDI_ASTERISK, "information"},
        {IDI_QUESTION, "question"}};
    for (int attempt = 0; attempt < 20; ++attempt, ::Sleep(100)) {
        RECT r;
        ::GetWindowRect(control, &r);
        const int w = r.right - r.left, h = r.bottom - r.top;
        if (w <= 0 || h <= 0) return "none";
        HDC screen = ::GetDC(nullptr);
        const auto shown = Capture(screen, r.left, r.top, w, h);
        const char* found = nullptr;
        for (const auto& k : known)
            if (!found && LooksLike(screen, shown, w, h, k.id)) found = k.name;
        ::ReleaseDC(nullptr, screen);
        if (found) return found;
    }
    return "other";
}

struct Child {
    HWND hwnd;
    std::wstring cls, text;
    int id;
    LONG style;
};

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

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lp) noexcept {
    return Guarded<std::vector<Child>>(lp, [hwnd](std::vector<Child>& out) {
        out.push_back({hwnd, ClassOf(hwnd), TextOf(hwnd), ::GetDlgCtrlID(hwnd), ::GetWindowLongW(hwnd, GWL_STYLE)});
    });
}

std::vector<Child> ChildrenOf(HWND hwnd) {
    Collected<std::vector<Child>> children;
    ::EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&children));
    return children.Take();
}

void Describe(FILE* f, const char* kind, HWND hwnd, const std::wstring& shot) {
    RECT client{}, outer{};
    ::GetClientRect(hwnd, &client);
    ::GetWindowRect(hwnd, &outer);
    std::fprintf(f, "%s\nclass=%s\ncaption=%s\nclient=%ldx%ld\nrect=%ld,%ld,%ld,%ld\nzoomed=%d\n",
                 kind, Escape(ClassOf(hwnd)).c_str(), Escape(TextOf(hwnd)).c_str(), client.right,
                 client.bottom, outer.left, outer.top, outer.right, outer.bottom,
                 ::IsZoomed(hwnd) ? 1 : 0);
    for (const Child& c : ChildrenOf(hwnd)) {
        const bool visible = (c.style & WS_VISIBLE) != 0;
        std::fprintf(f, "child=%s|%d|%s|%s\n", Escape(c.cls).c_str(), c.id, visible ? "visible" : "hidden",
                     Escape(c.text).c_str());
        if (_wcsicmp(c.cls.c_str(), L"Static") == 0 && (c.style & SS_TYPEMASK) == SS_ICON) {
            const bool hasIcon = ::SendMessageW(c.hwnd, STM_GETICON, 0, 0) != 0;
            std::fprintf(f, "icon=%s\n", hasIcon ? IconName(c.hwnd).c_str() : "none");
        }
    }
    if (!shot.empty()) std::fprintf(f, "shot=%s\n", Escape(shot).c_str());
    std::fprintf(f, "end\n");
    std::fflush(f);
}

bool PressOk(HWND box) {
    for (const Child& c : ChildrenOf(box))
        if (c.id == IDOK && _wcsicmp(c.cls.c_str(), L"Button") == 0) {
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
    Session(const Options& o, FILE* report) : o_(o), report_(report) {}
    int Run();

private:
    void Visit(HWND hwnd);
    std::wstring NextShot(const wchar_t* kind);

    const Options& o_;
    FILE* report_;
    HANDLE process_ = nullptr;
    DWORD start_ = 0;
    std::set<HWND> done_;
    bool sawBox_ = false;
    int shots_ = 0;
};

std::wstring Session::NextShot(const wchar_t* kind) {
    if (o_.shots.empty()) return L"";
    return o_.shots + L"-" + std::to_wstring(++shots_) + L"-" + kind + L".png";
}

void Session::Visit(HWND hwnd) {
    if (done_.count(hwnd)) return;
    const std::wstring cls = ClassOf(hwnd);
    if (cls == L"#32770") {
        const DWORD seen = ::GetTickCount() - start_;
        ::Sleep(400);  // let it paint before the picture is taken
        std::wstring shot = NextShot(L"box");
        if (!shot.empty() && !Screenshot(hwnd, shot)) shot.clear();
        Describe(report_, "box", hwnd, shot);
        std::fprintf(report_, "seen_ms=%lu\n", seen);
        if (!PressOk(hwnd)) std::fprintf(report_, "note=box without OK button\n");
        sawBox_ = true;
        done_.insert(hwnd);
    } else if (cls == L"TForm1" && sawBox_) {
        // After a completion box the window shows for an instant as the program
        // quits; after an error box it stays: record it, then close it as a user would.
        if (::WaitForSingleObject(process_, 1000) == WAIT_OBJECT_0) return;
        std::wstring shot = NextShot(L"window");
        if (!shot.empty() && !Screenshot(hwnd, shot)) shot.clear();
        Describe(report_, "window", hwnd, shot);
        ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
        done_.insert(hwnd);
    } else if (cls == L"TForm1") {
        Describe(report_, "window-before-box", hwnd, L"");
        done_.insert(hwnd);
    }
}

int Session::Run() {
    // A file held open without sharing, as another program may hold it.
    HANDLE held = INVALID_HANDLE_VALUE;
    if (!o_.hold.empty()) {
        held = ::CreateFileW(o_.hold.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (held == INVALID_HANDLE_VALUE) {
            std::fprintf(report_, "error=cannot hold %lu\n", ::GetLastError());
            return 2;
        }
    }
    STARTUPINFOW si{sizeof si};
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(o_.show);
    PROCESS_INFORMATION pi{};
    start_ = ::GetTickCount();
    std::wstring cmd = L"\"" + o_.exe + L"\"";
    if (!::CreateProcessW(o_.exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                          o_.cwd.empty() ? nullptr : o_.cwd.c_str(), &si, &pi)) {
        std::fprintf(report_, "error=CreateProcess failed %lu\n", ::GetLastError());
        return 2;
    }
    ::CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    while (::WaitForSingleObject(pi.hProcess, 10) == WAIT_TIMEOUT) {
        if (::GetTickCount() - start_ > o_.timeoutMs) {
            std::fprintf(report_, "timeout=1\n");
            ::TerminateProcess(pi.hProcess, 99);
            break;
        }
        Collected<Finder> finder{{pi.dwProcessId, {}}, nullptr};
        ::EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&finder));
        for (HWND hwnd : finder.Take().found) Visit(hwnd);
    }
    DWORD code = 0;
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hProcess);
    std::fprintf(report_, "exit=%lu\n", code);
    if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
    return 0;
}

const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Sets the desktop entry with exact bytes, which reg.exe and regedit cannot
// (they always terminate strings): "TYPE:HEX", "delete" or "delete-key".
bool SetDesktopEntry(const std::wstring& entry, FILE* report) {
    LSTATUS rc;
    if (entry == L"delete-key") {
        rc = ::RegDeleteKeyW(HKEY_CURRENT_USER, kShellFolders);
    } else {
        HKEY key = nullptr;
        rc = ::RegCreateKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                               nullptr);
        if (rc == ERROR_SUCCESS && entry == L"delete") {
            rc = ::RegDeleteValueW(key, L"Desktop");
        } else if (rc == ERROR_SUCCESS) {
            const auto colon = entry.find(L':');
            const DWORD type = static_cast<DWORD>(std::wcstoul(entry.substr(0, colon).c_str(), nullptr, 10));
            std::vector<BYTE> bytes;
            for (std::size_t i = colon + 1; i + 1 < entry.size(); i += 2)
                bytes.push_back(static_cast<BYTE>(std::wcstoul(entry.substr(i, 2).c_str(), nullptr, 16)));
            rc = ::RegSetValueExW(key, L"Desktop", 0, type, bytes.empty() ? nullptr : bytes.data(),
                                  static_cast<DWORD>(bytes.size()));
        }
        if (key) ::RegCloseKey(key);
    }
    if (rc != ERROR_SUCCESS) std::fprintf(report, "error=registry %ld\n", static_cast<long>(rc));
    return rc == ERROR_SUCCESS;
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
        if (::RegGetValueW(HKEY_CURRENT_USER, kShellFolders, L"Desktop", RRF_RT_ANY, nullptr, now.data(),
                           &size) != ERROR_SUCCESS)
            size = 0;
        now.resize(size);
        stable = now == last && size > 0 ? stable + 1 : 0;
        last = now;
    }
    return true;
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
        else if (key == L"--exe") o.exe = value;
        else if (key == L"--cwd") o.cwd = value;
        else if (key == L"--shots") o.shots = value;
        else if (key == L"--hold") o.hold = value;
        else if (key == L"--reg-desktop") o.regDesktop = value;
        else if (key == L"--timeout") o.timeoutMs = static_cast<DWORD>(_wtoi(value.c_str())) * 1000;
        else if (key == L"--show") o.show = value == L"max" ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
        else return false;
    }
    return !o.report.empty() && !o.exe.empty();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options o;
    if (!ParseArgs(argc, argv, o)) {
        std::fprintf(stderr, "usage: boxprobe --report FILE --exe PATH [--cwd DIR] [--shots PREFIX]"
                             " [--show max] [--hold FILE] [--reg-desktop TYPE:HEX|@FILE|delete|delete-key] [--timeout SECONDS]\n");
        return 2;
    }
    FILE* report = _wfopen(o.report.c_str(), L"wb");
    if (!report) return 3;
    if (!o.regDesktop.empty() && o.regDesktop[0] == L'@') o.regDesktop = ReadAscii(o.regDesktop.substr(1));
    if (!o.regDesktop.empty() && !(StartDesktop() && SetDesktopEntry(o.regDesktop, report))) {
        std::fclose(report);
        return 4;
    }
    int rc = 5;
    try {
        rc = Session(o, report).Run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "boxprobe: %s\n", e.what());
    }
    std::fclose(report);
    return rc;
}
