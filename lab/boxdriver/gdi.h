// Owners of the GDI objects a capture needs, closed on every path.
#pragma once

#include "platform/win32/handles.h"

namespace boxdriver {

struct MemoryDcTraits {
    using Handle = HDC;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::DeleteDC(h); }
};
struct BitmapTraits {
    using Handle = HBITMAP;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::DeleteObject(h); }
};
struct BrushTraits {
    using Handle = HBRUSH;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::DeleteObject(h); }
};
using UniqueMemoryDc = win32::UniqueAny<MemoryDcTraits>;
using UniqueBitmap = win32::UniqueAny<BitmapTraits>;
using UniqueBrush = win32::UniqueAny<BrushTraits>;

// The screen's device context, released with the window it came from.
class ScreenDc {
public:
    ScreenDc() : dc_(::GetDC(nullptr)) {}
    ~ScreenDc() {
        if (dc_) ::ReleaseDC(nullptr, dc_);
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

// An object selected into a DC for as long as this lives.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ obj) : dc_(dc), old_(::SelectObject(dc, obj)) {}
    ~Selection() { ::SelectObject(dc_, old_); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

}  // namespace boxdriver
