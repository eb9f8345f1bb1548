// Who may change an installed file or folder, judged from its owner and
// access list in plain types, so that the judgement can be tested anywhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kit {

// Entry types and rights as winnt.h numbers them (checked against it where it is included).
enum AceType : std::uint8_t {
    kAllowedAce = 0x00, kDeniedAce = 0x01, kAuditAce = 0x02, kAlarmAce = 0x03, kDeniedObjectAce = 0x06,
    kDeniedCallbackAce = 0x0A, kDeniedCallbackObjectAce = 0x0C, kMandatoryLabelAce = 0x11,
};
constexpr std::uint32_t kFileWriteData = 0x2, kFileAppendData = 0x4, kFileWriteEa = 0x10, kFileDeleteChild = 0x40,
                        kFileWriteAttributes = 0x100, kDelete = 0x10000, kWriteDac = 0x40000, kWriteOwner = 0x80000,
                        kGenericAll = 0x10000000, kGenericWrite = 0x40000000;

struct Ace {
    std::uint8_t type;
    std::uint32_t mask;
    std::wstring sid;  // "S-1-5-18"
};

// Accounts other than SYSTEM, Administrators and `me` that may change the
// file or folder or what it holds: a foreign owner, any allowing entry with
// a right to change, an allowing entry of a kind not read here; everyone
// when there is no list (`dacl` null). `owner` empty: not known.
std::vector<std::wstring> OthersWhoMayChange(const std::wstring& owner, const std::vector<Ace>* dacl,
                                             const std::wstring& me);

}  // namespace kit
