#include "kit/src/link_target.h"

#include "kit/src/reading.h"

namespace kit {

using shelllink::Kind;
using shelllink::KindName;

std::string Shown(const std::wstring& text) { return text.empty() ? "none" : Narrow(text); }

void ExpectLeadsTo(Check& check, const std::string& name, const Resolution& r, const std::wstring& target, Kind kind,
                   SamePathFn same) {
    if (!same(r.stored, target)) {
        check.Expect(false, name + " points to " + Shown(r.stored) + ", not " + Narrow(target));
        return;
    }
    check.Expect(r.resolved, "the shell could not resolve " + name + " (" + r.status + ")");
    if (!same(r.path, target)) {
        check.Expect(false, name + " resolves to " + Shown(r.path) + ", not " + Narrow(target));
        return;
    }
    check.Expect(r.kind != Kind::kMissing, name + "'s target " + Narrow(target) + " is missing");
    check.Expect(r.kind == Kind::kMissing || r.kind == kind,
                 name + "'s target " + Narrow(target) + " is a " + KindName(r.kind) + ", not a " + KindName(kind));
}

}  // namespace kit
