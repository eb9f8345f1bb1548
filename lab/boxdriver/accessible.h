// Reading a window through Microsoft Active Accessibility (oleacc).
#pragma once

#include "lab/boxdriver/boxdriver.h"

namespace boxdriver {

// Fills the accessible texts and buttons of `seen` from the window's client
// object; leaves accessibleRead false when the window exposes none.
void ReadAccessible(HWND hwnd, Seen& seen);

}  // namespace boxdriver
