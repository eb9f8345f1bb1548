// The copy's data loop, apart so that its end-of-data rule can be tested on
// descriptors of any kind.
#pragma once

#include <sys/types.h>

namespace posixport {

// Copies exactly `size` bytes from `from` to `to`, by the kernel's copy where
// both allow it, else by reads and writes. A source that ends sooner fails
// with ENODATA: that copy is no copy.
bool CopyBytes(int from, int to, off_t size);

}  // namespace posixport
