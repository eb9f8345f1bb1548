// What is at a shortcut's target, in plain types: the check kit's portable
// checks name it too.
#pragma once

namespace shelllink {

enum class Kind { kMissing, kFile, kFolder };

inline const char* KindName(Kind kind) {
    switch (kind) {
    case Kind::kFile: return "file";
    case Kind::kFolder: return "folder";
    default: return "missing";
    }
}

}  // namespace shelllink
