// The folders of the trees, held open for the run: the names in them are
// reached through the held descriptors, never through their path again.
#pragma once

#include <string>

namespace posixport {

// A name as the *at calls take it: in its held folder, or the whole path
// from the current folder (AT_FDCWD) where its folder is not held.
struct At {
    int folder;
    std::string name;
};
At Locate(const std::string& nativePath);

}  // namespace posixport
