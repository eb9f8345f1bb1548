// The kit's lines on its console, or on the pipe or file its output goes to.
#pragma once

#include <string>

namespace kit {

// To a console in its own characters; to a pipe or a file as UTF-8.
void Print(const std::string& line);

}  // namespace kit
