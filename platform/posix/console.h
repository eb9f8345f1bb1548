// Where the POSIX port's boxes are written; tests point them at files.
#pragma once

#include <cstdio>

namespace posixport {

void SetConsole(std::FILE* out, std::FILE* err);

}  // namespace posixport
