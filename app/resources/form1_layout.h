// The main window as designed, in 96-dpi pixels; the window code scales every
// size to the monitor's DPI, and again when the DPI changes.
#pragma once

#include "platform/ui.h"

inline ui::FormLayout Form1Layout() {
    return ui::FormLayout{
        L"Setup 1.0",
        248,
        99,
        L"Tahoma",
        8,
        {
            {L"Setup", L"Setup", 18, 24, 75, 25, 0, false},
            {L"Register", L"Register", 128, 24, 75, 25, 1, false},
        },
    };
}
