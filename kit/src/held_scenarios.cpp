// Files another program holds: a target held without sharing, a source under a byte-range lock, a list held to delete.
#include "kit/src/scenarios.h"

#include "platform/win32/handles.h"
#include "kit/src/scenario_support.h"
#include "kit/src/texts.h"

namespace kit {
namespace {

std::vector<LANGID> ReasonLanguages(LANGID installation) {
    return {installation, ::GetUserDefaultUILanguage(), 0};
}

// Whether a byte-range lock one handle holds stops a read through another,
// as Windows documents. Wine does not enforce it (measured): there the
// scenario could only pass for the wrong reason.
bool LocksStopReads(const std::wstring& probe) {
    if (!WriteFile(probe, "setup-check probe")) throw NotPrepared{"cannot place " + Narrow(probe)};
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    BOOL read = FALSE;
    DWORD error = 0;
    {
        win32::UniqueFile holder(::CreateFileW(probe.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
        win32::UniqueFile reader(::CreateFileW(probe.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
        OVERLAPPED at{};
        if (!holder || !reader ||
            !::LockFileEx(holder.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &at))
            throw NotPrepared{"cannot lock " + Narrow(probe)};
        char bytes[4];
        DWORD n = 0;
        read = ::ReadFile(reader.get(), bytes, sizeof bytes, &n, nullptr);
        error = ::GetLastError();
        ::UnlockFileEx(holder.get(), 0, MAXDWORD, MAXDWORD, &at);
    }
    ::DeleteFileW(probe.c_str());
    return !read && error == ERROR_LOCK_VIOLATION;
}

// Whether a name deleted while another handle holds the file stays listed
// until that handle is closed: older Windows, or a delete without POSIX semantics.
bool NameStaysListedWhileHeld(const std::wstring& probe) {
    if (!WriteFile(probe, "setup-check probe")) throw NotPrepared{"cannot place " + Narrow(probe)};
    win32::UniqueFile held(::CreateFileW(probe.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    if (!held || !::DeleteFileW(probe.c_str())) throw NotPrepared{"cannot hold and delete " + Narrow(probe)};
    const bool listed = Exists(probe);
    held.reset();
    if (Exists(probe)) throw NotPrepared{Narrow(probe) + " still there after it was let go"};
    return listed;
}

}  // namespace

void HeldTarget(Kit& kit, Check& check) {
    PrepareDistribution(kit, kEnglish);
    const std::wstring target = FirstReplacedList(kit).target;
    MakeFolders(target.substr(0, target.find_last_of(L'\\')));
    if (!WriteFile(target, "in use by setup-check")) throw NotPrepared{"cannot place " + Narrow(target)};
    std::string before;
    ReadFile(target, before);
    win32::UniqueFile held(::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!held) throw NotPrepared{"cannot hold " + Narrow(target)};
    const std::wstring reason = SystemErrorText(ERROR_SHARING_VIOLATION, ReasonLanguages(0x0409));
    ExpectError(check, kit.readable, RunSetup(kit), Format(Texts().incomplete[kEnglish], 1, target) + L"\n" + WithFinalPeriod(reason));
    held.reset();
    std::string after;
    ReadFile(target, after);
    check.Expect(after == before, "the held file changed");
}

// A source another program holds a byte-range lock on, as antivirus and
// backup tools do, during an upgrade: Setup names that source, and the copy
// installed before stays as it was.
void LockedSource(Kit& kit, Check& check) {
    PrepareDistribution(kit, kEnglish);
    if (!LocksStopReads(Join(kit.work, L"setup-check-lock-probe")))
        throw Skip{UnderWine() ? "Wine does not stop a read through another handle at a byte-range lock (the probe "
                                 "read the locked bytes)"
                               : "a byte-range lock here does not stop a read through another handle (the probe "
                                 "read the locked bytes)"};
    ExpectCompletion(check, kit.readable, RunSetup(kit), Texts().completed[kEnglish]);
    const Copy& locked = FirstReplacedList(kit);
    const std::wstring source = Join(kit.dist, locked.source);
    std::string before;
    if (!ReadFile(locked.target, before)) throw NotPrepared{"cannot read " + Narrow(locked.target)};
    win32::UniqueFile holder(::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
    OVERLAPPED at{};
    if (!holder ||
        !::LockFileEx(holder.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &at))
        throw NotPrepared{"cannot lock " + Narrow(source)};
    const std::wstring reason = SystemErrorText(ERROR_LOCK_VIOLATION, ReasonLanguages(0x0409));
    ExpectError(check, kit.readable, RunSetup(kit),
                Format(Texts().incomplete[kEnglish], 1, locked.target) + L"\n" + locked.source + L": " + WithFinalPeriod(reason));
    ::UnlockFileEx(holder.get(), 0, MAXDWORD, MAXDWORD, &at);
    holder.reset();
    std::string after;
    check.Expect(ReadFile(locked.target, after) && after == before,
                 "the installed " + Narrow(locked.target) + " changed while its source was locked");
}

void RemovalHeldWithDeleteSharing(Kit& kit, Check& check) {
    PrepareDistribution(kit, kEnglish);
    if (kit.plan.removed.empty()) throw NotPrepared{"the plan removes no file"};
    const std::wstring removed = kit.plan.removed.front();
    MakeFolders(removed.substr(0, removed.find_last_of(L'\\')));
    if (!WriteFile(removed, "an old list held by setup-check")) throw NotPrepared{"cannot place " + Narrow(removed)};
    win32::UniqueFile held(::CreateFileW(removed.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    if (!held) throw NotPrepared{"cannot hold " + Narrow(removed)};
    const bool staysListed = NameStaysListedWhileHeld(Join(removed.substr(0, removed.find_last_of(L'\\')), L"setup-check-probe"));
    if (!staysListed)
        check.SkipPart("a name that stays listed while held (this system removes a deleted name at once, as the kit's "
                       "own file showed before Setup ran)");
    ExpectCompletion(check, kit.readable, RunSetup(kit), Texts().completed[kEnglish]);
    const bool listedWhileHeld = Exists(removed);
    held.reset();
    check.Expect(!Exists(removed), Narrow(removed) + " still there after it was let go");
    if (staysListed && !listedWhileHeld)
        check.Inconclusive("a name that stays listed while held (the kit's own file's did, Rakoviny.txt's did not)");
}

}  // namespace kit
