// A quiet terminate handler. libstdc++'s default one prints the uncaught
// exception's demangled type to a console a GUI program does not have, and
// links the whole demangler (some 70 KB) for it. No exception is meant to
// reach it: every one is caught where window creation runs the installation,
// in the click handler the window procedure calls, or around the whole program
// in Setup().
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
