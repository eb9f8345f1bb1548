// Reading a box from what the box driver recorded, and checking it only as
// far as the kit's self-test showed that it can read such a box here.
#pragma once

#include <string>
#include <vector>

#include "lab/boxdriver/seen.h"
#include "kit/src/outcome.h"

namespace kit {

// What could be read of one box, and how.
struct BoxReading {
    bool messageBox = false;
    bool textRead = false, headingRead = false, iconRead = false, buttonsRead = false;
    std::wstring text, heading;
    std::string icon = "none", via;
    std::vector<std::wstring> buttons;
    bool okButton = false;  // a button control with the OK command's id
};
BoxReading Read(const boxdriver::Seen& seen);

// The kit's own boxes, shown by `setup-check --own-boxes` at every start: a
// task dialog with these parts and the system's OK button, then a message box.
extern const wchar_t kOwnCaption[], kOwnHeading[], kOwnText[], kOwnButton[], kOwnMessage[];
constexpr int kOwnButtonId = 100;

// Which parts of Setup's boxes the kit can check here, learnt from its own boxes.
struct Readable {
    enum Icon { kUnread, kRead, kDrawnInside };
    bool taskText = false, taskHeading = false, taskButtons = false, boxText = false, boxButtons = false;
    Icon taskIcon = kUnread, boxIcon = kUnread;
    std::wstring taskOk, boxOk;         // the system's OK label on each kind of box
    std::vector<std::string> findings;  // what the self-test saw, for the report
};
Readable Calibrate(const boxdriver::Run& own);

// One completion box (task dialog, no icon, one OK button), nothing left open, exit 0.
void ExpectCompletion(Check& check, const Readable& can, const boxdriver::Run& run, const std::wstring& text,
                      const std::wstring& caption = L"Setup");
// One error box (stop icon, one OK), then the empty main window stays; exit 1. The window, or null.
const boxdriver::Seen* ExpectError(Check& check, const Readable& can, const boxdriver::Run& run,
                                   const std::wstring& text);

// UTF-8, for the report and the console, and back: the platform's one converter.
std::string Narrow(const std::wstring& s);
std::wstring Wide(const std::string& s);

}  // namespace kit
