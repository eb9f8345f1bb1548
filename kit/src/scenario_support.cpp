// What the scenarios share: where a copy lands, a file's bytes, a short list, a file against its source.
#include "kit/src/scenario_support.h"

namespace kit {

std::wstring DesktopPath(const Kit& kit, const Copy& c) { return c.desktop ? Join(kit.desktop, c.target) : c.target; }

std::string Bytes(const std::wstring& path, bool& ok) {
    std::string bytes;
    ok = ReadFile(path, bytes);
    return bytes;
}

// "a, b, c and 4 more"
std::string Some(const std::vector<std::wstring>& items) {
    std::string out;
    for (std::size_t i = 0; i < items.size() && i < 3; ++i) out += (i ? ", " : "") + Narrow(items[i]);
    if (items.size() > 3) out += " and " + std::to_string(items.size() - 3) + " more";
    return out;
}

// Adds `installed` to `differing` when it is missing or unlike its source.
void CompareWithSource(const std::wstring& installed, const std::wstring& source, std::vector<std::wstring>& differing) {
    bool a = false, b = false;
    const std::string got = Bytes(installed, a), wanted = Bytes(source, b);
    if (!b) throw CannotCheck{"the distribution lacks " + Narrow(source) + ", so its copy cannot be compared"};
    if (!a || got != wanted) differing.push_back(installed);
}

const Copy& FirstReplacedList(const Kit& kit) {
    for (const Copy& c : kit.plan.copies)
        if (!c.kept && !c.desktop && c.source.size() > 4 && c.source.substr(c.source.size() - 4) == L".txt") return c;
    throw NotPrepared{"the plan has no replaced list"};
}

}  // namespace kit
