#include <windows.h>

#include "platform/startup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return Setup(); }
