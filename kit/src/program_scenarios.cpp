#include "kit/src/program_scenarios.h"

#include <aclapi.h>
#include <sddl.h>

#include "platform/win32/security.h"
#include "kit/src/access.h"
#include "kit/src/reading.h"
#include "kit/src/texts.h"

namespace kit {
namespace {

const wchar_t kProgramFolder[] = L"C:\\Orvo_Tool";
const wchar_t kProgram[] = L"C:\\Orvo_Tool\\Orvo Tool.exe";

std::wstring SidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text)) return L"?";
    const win32::UniqueLocalText owned(text);
    return text;
}

// The security of a file or folder as SDDL (owner and access list); empty when unreadable.
std::wstring FolderSddl(const std::wstring& folder, PACL* dacl, win32::UniqueSecurity& held, PSID* owner = nullptr) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                owner, nullptr, dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return L"";
    held.reset(descriptor);
    wchar_t* text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
        return L"";
    const win32::UniqueLocalText owned(text);
    return text;
}

static_assert(kAllowedAce == ACCESS_ALLOWED_ACE_TYPE && kDeniedAce == ACCESS_DENIED_ACE_TYPE &&
              kAuditAce == SYSTEM_AUDIT_ACE_TYPE && kAlarmAce == SYSTEM_ALARM_ACE_TYPE &&
              kDeniedObjectAce == ACCESS_DENIED_OBJECT_ACE_TYPE && kDeniedCallbackAce == ACCESS_DENIED_CALLBACK_ACE_TYPE &&
              kDeniedCallbackObjectAce == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE &&
              kMandatoryLabelAce == SYSTEM_MANDATORY_LABEL_ACE_TYPE);
static_assert(kFileWriteData == FILE_WRITE_DATA && kFileAppendData == FILE_APPEND_DATA && kFileWriteEa == FILE_WRITE_EA &&
              kFileDeleteChild == FILE_DELETE_CHILD && kFileWriteAttributes == FILE_WRITE_ATTRIBUTES &&
              kDelete == DELETE && kWriteDac == WRITE_DAC && kWriteOwner == WRITE_OWNER && kGenericAll == GENERIC_ALL &&
              kGenericWrite == GENERIC_WRITE);

// The list's entries as the judgement reads them. Every entry type begins
// with the allowed entry's header and mask; the SID is read only where it
// follows them.
std::vector<Ace> EntriesOf(PACL dacl) {
    std::vector<Ace> entries;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* raw = nullptr;
        if (!::GetAce(dacl, i, &raw)) continue;
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
        const BYTE type = ace->Header.AceType;
        entries.push_back({type, ace->Mask,
                           type == ACCESS_ALLOWED_ACE_TYPE ? SidText(const_cast<DWORD*>(&ace->SidStart)) : L""});
    }
    return entries;
}

std::wstring Reason(DWORD code) {
    return WithFinalPeriod(SystemErrorText(code, {0x0409, ::GetUserDefaultUILanguage(), 0}));
}

// The installed program held as a running one holds it. Started suspended
// where it can run here; else (a 32-bit program where only 64-bit code runs)
// its image mapped as the loader maps it, which holds the file the same way.
class RunningImage {
public:
    explicit RunningImage(Kit& kit) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (::CreateProcessW(kProgram, nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                             &info)) {
            process_.reset(info.hProcess);
            ::CloseHandle(info.hThread);
            kit.details.push_back("  the installed program runs, suspended");
            return;
        }
        const DWORD error = ::GetLastError();
        // Only the section holds the file then, as the loader leaves it.
        const win32::UniqueFile file(::CreateFileW(kProgram, GENERIC_READ | GENERIC_EXECUTE,
                                                   FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
        if (file) mapping_.reset(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr));
        if (!mapping_) throw CannotCheck{"cannot start or map the installed program (error " + std::to_string(error) + ")"};
        kit.details.push_back("  the installed program cannot start here (error " + std::to_string(error) +
                              "): its image is mapped as the loader maps it");
    }
    ~RunningImage() {
        if (process_) {
            ::TerminateProcess(process_.get(), 1);
            ::WaitForSingleObject(process_.get(), 10000);
        }
    }
    RunningImage(const RunningImage&) = delete;
    RunningImage& operator=(const RunningImage&) = delete;

private:
    win32::UniqueHandle process_, mapping_;
};

}  // namespace

void ExpectProgramFolderList(Kit& kit, Check& check) {
    // Elevated, the Administrators entry lets Setup write the program folder
    // whatever this user's own entry says: the run shows nothing of an
    // ordinary user's installation.
    if (Elevated() && UnderWine())
        check.SkipPart("an ordinary user's installation (Wine runs every program elevated and keeps no access list "
                       "of its own)");
    else if (Elevated())
        check.Inconclusive("an ordinary user's installation (the kit runs elevated, and the Administrators entry "
                           "lets Setup write C:\\Orvo_Tool whatever this user's own entry says)");
    for (const wchar_t* path : {kProgramFolder, kProgram}) {
        PACL dacl = nullptr;
        PSID owner = nullptr;
        win32::UniqueSecurity held;
        const std::wstring sddl = FolderSddl(path, &dacl, held, &owner);
        if (sddl.empty()) return check.Inconclusive("the access list of " + Narrow(path) + " could not be read");
        kit.details.push_back("  " + Narrow(path) + ": " + Narrow(sddl));
        const std::vector<Ace> entries = dacl ? EntriesOf(dacl) : std::vector<Ace>{};
        const std::vector<std::wstring> others =
            OthersWhoMayChange(owner ? SidText(owner) : L"", dacl ? &entries : nullptr, win32::CurrentUserSid());
        std::string names;
        for (const auto& sid : others) names += (names.empty() ? "" : ", ") + Narrow(sid);
        kit.details.push_back(others.empty() ? "  only SYSTEM, Administrators and this user may change it"
                                             : "  others may change it: " + names);
        check.Expect(others.empty(), "other accounts may change " + Narrow(path) + ": " + names);
    }
}

void RunningProgram(Kit& kit, Check& check) {
    PrepareDistribution(kit, 1);
    ExpectCompletion(check, kit.readable, RunSetup(kit), Texts().completed[1]);
    std::string previous, next;
    if (!ReadFile(kProgram, previous) || !ReadFile(Join(kit.dist, L"Orvo Tool.exe"), next))
        throw NotPrepared{"the program was not installed"};
    next += "a newer build";  // an overlay: the image stays valid
    if (!WriteFile(Join(kit.dist, L"Orvo Tool.exe"), next)) throw NotPrepared{"cannot change the distribution's program"};
    {
        const RunningImage running(kit);
        const std::wstring first = Format(Texts().incomplete[1], 1, kProgram);
        ExpectError(check, kit.readable, RunSetup(kit), first + L"\n" + Reason(ERROR_SHARING_VIOLATION));
        std::string now;
        check.Expect(ReadFile(kProgram, now) && now == previous, "the running program was changed");
    }
    ExpectCompletion(check, kit.readable, RunSetup(kit), Texts().upgraded[1]);
    std::string now;
    check.Expect(ReadFile(kProgram, now) && now == next, "the program was not upgraded once it had ended");
}

// After an installation, a list of the kit's own, with an entry for Users
// that no installer writes, the root's entries inherited again.
void ExistingFolderKeepsItsList(Kit& kit, Check& check) {
    PrepareDistribution(kit, 1);
    ExpectCompletion(check, kit.readable, RunSetup(kit), Texts().completed[1]);
    const win32::UniqueSecurity mine = win32::SecurityFromSddl(
        L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + win32::CurrentUserSid() + L")(A;OICI;FR;;;BU)");
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!mine || !::GetSecurityDescriptorDacl(mine.get(), &present, &dacl, &defaulted))
        throw CannotCheck{"cannot build an access list"};
    const DWORD set = ::SetNamedSecurityInfoW(const_cast<wchar_t*>(kProgramFolder), SE_FILE_OBJECT,
                                              DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr);
    if (set != ERROR_SUCCESS) throw CannotCheck{"cannot give C:\\Orvo_Tool a list (error " + std::to_string(set) + ")"};
    PACL ignored = nullptr;
    win32::UniqueSecurity a, b;
    const std::wstring placed = FolderSddl(kProgramFolder, &ignored, a);
    ExpectCompletion(check, kit.readable, RunSetup(kit), Texts().upgraded[1]);
    const std::wstring after = FolderSddl(kProgramFolder, &ignored, b);
    check.Expect(!placed.empty() && after == placed,
                 "C:\\Orvo_Tool's list changed from " + Narrow(placed) + " to " + Narrow(after));
}

}  // namespace kit
