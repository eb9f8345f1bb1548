#include "kit/src/access.h"

#include <algorithm>

namespace kit {
namespace {

constexpr std::uint32_t kChangeRights = kFileWriteData | kFileAppendData | kFileWriteEa | kFileWriteAttributes |
                                        kDelete | kFileDeleteChild | kWriteDac | kWriteOwner | kGenericWrite |
                                        kGenericAll;

}  // namespace

// An owner may always rewrite the list. A creator-owner entry gives only
// what its creator could already do; deny entries are left aside, which can
// only report more. An allowing entry of a kind not read here (conditional,
// object) counts against it.
std::vector<std::wstring> OthersWhoMayChange(const std::wstring& owner, const std::vector<Ace>* dacl,
                                             const std::wstring& me) {
    const std::wstring trusted[] = {L"S-1-5-18", L"S-1-5-32-544", me, L"S-1-3-0"};
    const auto other = [&](const std::wstring& sid) {
        return std::find(std::begin(trusted), std::end(trusted), sid) == std::end(trusted);
    };
    std::vector<std::wstring> others;
    if (!owner.empty() && other(owner)) others.push_back(L"owner " + owner);
    if (!dacl) return {L"everyone (no access list)"};
    for (const Ace& ace : *dacl) {
        switch (ace.type) {
        case kDeniedAce: case kDeniedObjectAce: case kDeniedCallbackAce: case kDeniedCallbackObjectAce:
        case kAuditAce: case kAlarmAce: case kMandatoryLabelAce:
            continue;
        case kAllowedAce:
            if ((ace.mask & kChangeRights) && other(ace.sid)) others.push_back(ace.sid);
            continue;
        default:
            others.push_back(L"an allowing entry of type " + std::to_wstring(ace.type));
        }
    }
    return others;
}

}  // namespace kit
