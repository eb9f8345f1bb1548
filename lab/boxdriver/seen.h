// What the box driver saw of a program's windows, in plain types, so that the
// reading of a recorded window tree can be tested on any system.
#pragma once

#include <string>
#include <vector>

namespace boxdriver {

// A message box (MessageBoxW) carries its text in a static control with this id.
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kOkId = 1;  // IDOK

struct Control {
    std::wstring cls, text;
    int id = 0;
    bool visible = false;
    std::string icon;  // for an icon control: stop, warning, information, question, other or none
};

struct Rect {
    long left = 0, top = 0, right = 0, bottom = 0;
};
struct Size {
    long cx = 0, cy = 0;
};

// A window as it was when first seen.
struct Seen {
    std::string kind;  // "box", "window" (left open after a box) or "window-before-box"
    std::wstring cls, caption;
    Rect outer;
    Size client;
    bool zoomed = false;
    unsigned dpi = 96;
    std::vector<Control> children;
    // Through accessibility (MSAA): the static texts and push buttons the
    // window exposes. Read only for boxes, whose text a task dialog on
    // Windows draws itself, with no control to read it from.
    std::vector<std::wstring> accessibleTexts, accessibleButtons;
    bool accessibleRead = false;
    long accessibleStatus = 0;  // the HRESULT of AccessibleObjectFromWindow
    std::wstring shot;          // the PNG written, or empty
    unsigned long seenMs = 0;   // from the start of the program
    bool okPressed = false;  // OK was pressed and the box went away
};

struct Run {
    std::vector<Seen> seen;
    bool timedOut = false, aborted = false;
    unsigned long exitCode = 0;
    std::wstring error;  // the program could not be started
};

}  // namespace boxdriver
