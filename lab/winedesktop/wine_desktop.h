// Only for Wine: its desktop process rewrites the Shell Folders entries when
// it starts, which happens on the first window of the session. Starts it and
// waits until the Desktop entry has settled (half a second on Windows), so
// that a value set afterwards stays. Used by the lab's boxprobe and the kit.
#pragma once

namespace winedesktop {

void StartDesktop();

}  // namespace winedesktop
