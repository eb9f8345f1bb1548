// The kit's judgement of an installed folder's access list, fed from SDDL
// as the report shows it: only SYSTEM, Administrators and the installing
// user may change what was installed.
#include <gtest/gtest.h>

#include <map>

#include "platform/text.h"
#include "kit/src/access.h"

namespace kit {
namespace {

const std::wstring kMe = L"S-1-5-21-1004336348-1177238915-682003330-1001";

std::wstring SidOf(const std::wstring& s) {
    static const std::map<std::wstring, std::wstring> aliases = {
        {L"SY", L"S-1-5-18"}, {L"BA", L"S-1-5-32-544"}, {L"BU", L"S-1-5-32-545"}, {L"AU", L"S-1-5-11"},
        {L"WD", L"S-1-1-0"},  {L"CO", L"S-1-3-0"},      {L"ME", kMe}};
    const auto alias = aliases.find(s);
    return alias == aliases.end() ? s : alias->second;
}

std::uint32_t RightsOf(const std::wstring& s) {
    if (s.rfind(L"0x", 0) == 0) return static_cast<std::uint32_t>(std::stoul(s, nullptr, 16));
    static const std::map<std::wstring, std::uint32_t> codes = {
        {L"FA", 0x1F01FF},    {L"FR", 0x120089},      {L"FW", 0x120116},       {L"FX", 0x1200A0},
        {L"GA", kGenericAll}, {L"GW", kGenericWrite}, {L"GR", 0x80000000},     {L"GX", 0x20000000},
        {L"SD", kDelete},     {L"WD", kWriteDac},     {L"WO", kWriteOwner},    {L"RC", 0x20000}};
    std::uint32_t mask = 0;
    for (std::size_t i = 0; i + 1 < s.size(); i += 2) mask |= codes.at(s.substr(i, 2));
    return mask;
}

// "O:owner" then "D:flags(type;flags;rights;object;inherited object;sid)...".
std::vector<std::wstring> Judged(const std::wstring& sddl) {
    static const std::map<std::wstring, std::uint8_t> types = {
        {L"A", kAllowedAce}, {L"D", kDeniedAce}, {L"OA", 0x05}, {L"OD", kDeniedObjectAce}, {L"XA", 0x09}};
    const std::size_t d = sddl.find(L"D:");
    const std::wstring owner = sddl.rfind(L"O:", 0) == 0 ? SidOf(sddl.substr(2, d - 2)) : L"";
    std::vector<Ace> entries;
    for (std::size_t at = sddl.find(L'(', d); at != std::wstring::npos; at = sddl.find(L'(', at + 1)) {
        std::vector<std::wstring> f(1);
        for (std::size_t i = at + 1; sddl[i] != L')'; ++i) {
            if (sddl[i] == L';') f.emplace_back();
            else f.back() += sddl[i];
        }
        entries.push_back({types.at(f.at(0)), RightsOf(f.at(2)), SidOf(f.at(5))});
    }
    const bool listed = sddl.find(L"NO_ACCESS_CONTROL", d) == std::wstring::npos;
    return OthersWhoMayChange(owner, listed ? &entries : nullptr, kMe);
}

using Others = std::vector<std::wstring>;

TEST(AccessList, OnlySystemAdministratorsAndTheUserMayChange) {
    const struct {
        std::wstring sddl;
        Others others;
    } cases[] = {
        {L"O:MED:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;ME)(A;OICIIO;GA;;;CO)", {}},
        {L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;ME)(A;OICI;FR;;;BU)(A;;FX;;;WD)(A;;RC;;;AU)", {}},
        // Made in C:\ by an ordinary user, the root's entries inherited.
        {L"O:MED:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIIOID;GA;;;CO)(A;OICIID;0x1200a9;;;BU)"
         L"(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)",
         {L"S-1-5-11", L"S-1-5-11"}},
        {L"O:MED:(A;OICI;FA;;;S-1-5-21-1004336348-1177238915-682003330-1002)", {L"S-1-5-21-1004336348-1177238915-682003330-1002"}},
        {L"O:BUD:(A;;FA;;;SY)", {L"owner S-1-5-32-545"}},
        {L"O:SYD:NO_ACCESS_CONTROL", {L"everyone (no access list)"}},
        // A deny entry is left aside: it can only take rights away.
        {L"O:MED:(D;;FA;;;WD)(A;;FW;;;WD)", {L"S-1-1-0"}},
        {L"O:MED:(D;;FW;;;BU)(A;;FR;;;BU)", {}},
        {L"O:MED:(OA;;FR;bf967aba-0de6-11d0-a285-00aa003049e2;;WD)", {L"an allowing entry of type 5"}},
    };
    for (const auto& c : cases) EXPECT_EQ(Judged(c.sddl), c.others) << text::ToUtf8(c.sddl);
    for (const wchar_t* right : {L"0x2", L"0x4", L"0x10", L"0x40", L"0x100", L"SD", L"WD", L"WO", L"GA", L"GW", L"FW"})
        EXPECT_EQ(Judged(L"O:MED:(A;;" + std::wstring(right) + L";;;BU)"), Others{L"S-1-5-32-545"}) << text::ToUtf8(right);
}

}  // namespace
}  // namespace kit
