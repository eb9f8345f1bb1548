// Whether a shortcut, as the shell resolved it, leads to its own installed
// target, there and of its kind: in plain types, so that it can be tested anywhere.
#pragma once

#include <string>

#include "kit/src/outcome.h"
#include "lab/shelllink/kind.h"

namespace kit {

struct Resolution {
    std::wstring stored;    // the target as stored
    bool resolved = false;  // the shell resolved it
    std::string status;     // the shell's status, for the report
    std::wstring path;      // where it resolved to
    shelllink::Kind kind = shelllink::Kind::kMissing;  // what is there now
};

using SamePathFn = bool (*)(const std::wstring&, const std::wstring&);

// Shortcut `name` leads to `target`, a `kind`, as stored and as resolved, and
// it is there; paths are compared by `same` (as the file system compares them).
void ExpectLeadsTo(Check& check, const std::string& name, const Resolution& r, const std::wstring& target,
                   shelllink::Kind kind, SamePathFn same);

std::string Shown(const std::wstring& text);  // "none" when empty

}  // namespace kit
