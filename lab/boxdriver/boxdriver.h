// Drives a program that shows boxes, as a user would: starts it, reads every
// top-level window it shows (caption, controls, icon, text, client size),
// saves a PNG of each, presses OK on boxes (active or not), closes a main window left open
// after an error box, and waits for the exit. Shared by boxprobe (the Wine
// lab's helper) and setup-check (the check kit for real Windows).
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "lab/boxdriver/seen.h"

namespace boxdriver {

struct Options {
    std::wstring exe, cwd;
    std::wstring args;  // after the quoted program name
    std::wstring shotPrefix;  // pictures go to PREFIX-N-KIND.png; none when empty
    int show = SW_SHOWNORMAL;
    DWORD timeoutMs = 30000;
    bool readAccessible = false;               // read boxes through MSAA too
    const std::atomic<bool>* abort = nullptr;  // set from elsewhere: end the program and return
};

Run Drive(const Options& options);

// A window as it draws itself (not what covers it on the screen), as a PNG file.
bool Screenshot(HWND hwnd, const std::wstring& path);

}  // namespace boxdriver
