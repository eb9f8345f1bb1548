// The stock icon a box's static control shows, told by its handle or by its picture.
#pragma once

#include <string>

#include "lab/boxdriver/boxdriver.h"

namespace boxdriver {

// "stop", "warning", "information", "question", "none" or "other".
std::string IconName(HWND control);

}  // namespace boxdriver
