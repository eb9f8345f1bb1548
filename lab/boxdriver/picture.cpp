// A window's picture, as it draws itself or from the screen; the stock icon a box shows; the picture as a PNG.
#include "lab/boxdriver/picture.h"

#include <cstdint>
#include <vector>

#include "lab/boxdriver/gdi.h"
#include "lab/boxdriver/png.h"

namespace boxdriver {
namespace {

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

}  // namespace

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

}  // namespace boxdriver
