// Drives a program that shows boxes, as a user would: starts it, reads every
// top-level window it shows (caption, controls, icon, text, client size),
// saves a PNG of each, presses OK on boxes, closes a main window left open
// after an error box, and waits for the exit. Shared by boxprobe (the Wine
// lab's helper) and setup-check (the check kit for real Windows).
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

namespace boxdriver {

struct Control {
    std::wstring cls, text;
    int id = 0;
    bool visible = false;
    std::string icon;  // for an icon control: stop, warning, information, question, other or none
};

// A window as it was when first seen.
struct Seen {
    std::string kind;  // "box", "window" (left open after a box) or "window-before-box"
    std::wstring cls, caption;
    RECT outer{};
    SIZE client{};
    bool zoomed = false;
    UINT dpi = 96;
    std::vector<Control> children;
    // Through accessibility (MSAA): the static texts and push buttons the
    // window exposes. Read only for boxes, whose text a task dialog on
    // Windows draws itself, with no control to read it from.
    std::vector<std::wstring> accessibleTexts, accessibleButtons;
    bool accessibleRead = false;
    long accessibleStatus = 0;  // the HRESULT of AccessibleObjectFromWindow
    std::wstring shot;  // the PNG written, or empty
    DWORD seenMs = 0;   // from the start of the program
    bool okPressed = false;
};

struct Options {
    std::wstring exe, cwd;
    std::wstring shotPrefix;  // pictures go to PREFIX-N-KIND.png; none when empty
    int show = SW_SHOWNORMAL;
    DWORD timeoutMs = 30000;
    bool readAccessible = false;               // read boxes through MSAA too
    const std::atomic<bool>* abort = nullptr;  // set from elsewhere: end the program and return
};

struct Run {
    std::vector<Seen> seen;
    bool timedOut = false, aborted = false;
    DWORD exitCode = 0;
    std::wstring error;  // the program could not be started
};

Run Drive(const Options& options);

std::string Utf8(const std::wstring& s);

// Under Wine the desktop process rewrites the Shell Folders entries when it
// starts, which happens on the first window of the session: starts it and
// waits until the Desktop entry has settled (half a second on Windows).
bool StartDesktop();

// The screen rectangle of a window as a PNG file.
bool Screenshot(HWND hwnd, const std::wstring& path);

// A message box (MessageBoxW) carries its text in a static control with this id.
constexpr int kMessageBoxTextId = 0xFFFF;

}  // namespace boxdriver
