#include "kit/src/scenarios.h"

#include <algorithm>
#include <cstdlib>

#include "platform/win32/handles.h"
#include "kit/src/program_scenarios.h"
#include "kit/src/shortcuts.h"
#include "kit/src/texts.h"

namespace kit {
namespace {

constexpr int kEnglish = 1;

const char kZoneMark[] = "[ZoneTransfer]\r\nZoneId=3\r\n";

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

// The folders and files of both trees, exactly; every file as its source.
void ExpectInstalledTree(Kit& kit, Check& check, int language) {
    std::vector<std::wstring> differing, expected, found;
    for (const Copy& c : kit.plan.copies) CompareWithSource(DesktopPath(kit, c), Join(kit.dist, c.source), differing);
    const std::wstring pdf = kit.plan.languagePdf[language];
    CompareWithSource(Join(kit.desktop, pdf), Join(kit.dist, pdf), differing);
    check.Expect(differing.empty(), "installed files missing or unlike their source: " + Some(differing));
    for (const std::wstring& root : kit.plan.roots) {
        for (const auto& name : ListTree(root)) found.push_back(Join(root, name));
        for (const Copy& c : kit.plan.copies)
            if (!c.desktop && c.target.rfind(root + L"\\", 0) == 0) expected.push_back(c.target);
        for (const auto& f : kit.plan.folders)
            if (f.rfind(root + L"\\", 0) == 0) expected.push_back(f + L"\\");
    }
    std::vector<std::wstring> extra, missing;
    for (const auto& f : found)
        if (std::find(expected.begin(), expected.end(), f) == expected.end()) extra.push_back(f);
    for (const auto& e : expected)
        if (std::find(found.begin(), found.end(), e) == found.end()) missing.push_back(e);
    check.Expect(extra.empty(), "not of the plan in the installed tree: " + Some(extra));
    check.Expect(missing.empty(), "missing from the installed tree: " + Some(missing));
}

void PlaceOldFiles(Kit& kit) {
    for (const auto& removed : kit.plan.removed) {
        MakeFolders(removed.substr(0, removed.find_last_of(L'\\')));
        if (!WriteFile(removed, "an old list placed by setup-check")) throw NotPrepared{"cannot place " + Narrow(removed)};
    }
    for (const auto& name : kit.plan.olderCopies)
        if (!WriteFile(Join(kit.desktop, name), "MZ an older copy placed by setup-check"))
            throw NotPrepared{"cannot place " + Narrow(name) + " on the desktop"};
}

void ExpectGone(Check& check, const std::vector<std::wstring>& paths, const std::string& what) {
    std::vector<std::wstring> left;
    for (const auto& p : paths)
        if (Exists(p)) left.push_back(p);
    check.Expect(left.empty(), what + " left: " + Some(left));
}

void FirstInstallation(Kit& kit, Check& check, int language) {
    PrepareDistribution(kit, language);
    PlaceOldFiles(kit);
    ExpectCompletion(check, kit.readable, RunSetup(kit), Texts().completed[language]);
    ExpectInstalledTree(kit, check, language);
    ExpectProgramFolderList(kit, check);
    ExpectShortcutsOpenTheirTargets(kit, check);
    std::vector<std::wstring> older;
    for (const auto& name : kit.plan.olderCopies) older.push_back(Join(kit.desktop, name));
    ExpectGone(check, older, "older copies on the desktop");
    ExpectGone(check, kit.plan.removed, "removed list");
}

template <int Language>
void Install(Kit& kit, Check& check) {
    FirstInstallation(kit, check, Language);
}

const Copy& FirstReplacedList(const Kit& kit) {
    for (const Copy& c : kit.plan.copies)
        if (!c.kept && !c.desktop && c.source.size() > 4 && c.source.substr(c.source.size() - 4) == L".txt") return c;
    throw NotPrepared{"the plan has no replaced list"};
}

void UpgradeKeepsPowerLists(Kit& kit, Check& check) {
    PrepareDistribution(kit, kEnglish);
    ExpectCompletion(check, kit.readable, RunSetup(kit), Texts().completed[kEnglish]);
    const Copy& replaced = FirstReplacedList(kit);
    std::vector<const Copy*> kept;
    for (const Copy& c : kit.plan.copies)
        if (c.kept) kept.push_back(&c);
    for (const Copy* c : kept)
        if (!WriteFile(c->target, "edited by setup-check: " + Narrow(c->target))) throw NotPrepared{"cannot edit " + Narrow(c->target)};
    if (!WriteFile(replaced.target, "edited by setup-check")) throw NotPrepared{"cannot edit " + Narrow(replaced.target)};
    ExpectCompletion(check, kit.readable, RunSetup(kit), Texts().upgraded[kEnglish]);
    for (const Copy* c : kept) {
        bool ok = false;
        check.Expect(Bytes(c->target, ok) == "edited by setup-check: " + Narrow(c->target),
                     "the edited power list " + Narrow(c->target) + " was not kept");
    }
    std::vector<std::wstring> differing;
    CompareWithSource(replaced.target, Join(kit.dist, replaced.source), differing);
    check.Expect(differing.empty(), "the replaced list " + Narrow(replaced.target) + " was not replaced");
}

// Whether `path` carries a zone mark that this system keeps as a stream of the file.
bool StreamListed(const std::wstring& path) {
    WIN32_FIND_STREAM_DATA data;
    win32::UniqueFind find(::FindFirstStreamW(path.c_str(), FindStreamInfoStandard, &data, 0));
    if (!find) return false;
    do {
        if (_wcsicmp(data.cStreamName, L":Zone.Identifier:$DATA") == 0) return true;
    } while (::FindNextStreamW(find.get(), &data));
    return false;
}

// A mark that could not be written or is not listed: skipped where this
// system is known to keep no streams, inconclusive where it should (on NTFS
// something blocks the write: antivirus, a policy), never passed.
[[noreturn]] void NoZoneMarks(const Kit& kit, bool written, DWORD writeError) {
    if (UnderWine())
        throw Skip{"Wine keeps a file's streams as sibling files, not as streams of the file (FindFirstStreamW does "
                   "not list the :Zone.Identifier written)"};
    bool streams = false;
    const std::string fs = Narrow(FileSystemOf(kit.dist, &streams));
    if (!streams) throw Skip{"the work copy's file system (" + fs + ") keeps no named streams"};
    const std::string what =
        written ? "listed after it was written" : "written (error " + std::to_string(writeError) + ")";
    throw CannotCheck{"a :Zone.Identifier stream could not be " + what + " although the work copy's file system (" + fs +
                      ") keeps named streams: something blocks it"};
}

void ExpectWritableAndUnmarked(Kit& kit, Check& check, bool streams, int language) {
    std::vector<std::wstring> targets, readOnly, marked;
    for (const Copy& c : kit.plan.copies) targets.push_back(DesktopPath(kit, c));
    targets.push_back(Join(kit.desktop, kit.plan.languagePdf[language]));
    for (const std::wstring& target : targets) {
        const DWORD attrs = ::GetFileAttributesW(target.c_str());
        if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY)) readOnly.push_back(target);
        if (streams && StreamListed(target)) marked.push_back(target);
    }
    check.Expect(readOnly.empty(), "installed files left read-only: " + Some(readOnly));
    check.Expect(marked.empty(), "installed files that keep the zone mark: " + Some(marked));
}

// Every file of the work copy read-only, after `mark` had its way with it.
template <typename Mark>
void ReadOnlySources(Kit& kit, Mark mark) {
    std::vector<std::wstring> files;
    for (const auto& name : ListTree(kit.dist))
        if (name.back() != L'\\') files.push_back(Join(kit.dist, name));
    for (const auto& f : files) {
        mark(f);
        if (!::SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_READONLY)) throw NotPrepared{"cannot make " + Narrow(f) + " read-only"};
    }
    win32::UniqueFile probe(::CreateFileW(files.front().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (probe) throw Skip{"the read-only attribute does not stop a write here (an administrator's privilege?)"};
}

// An installation and an upgrade from the same read-only sources complete,
// and leave every installed file writable (and unmarked, where marks are real).
void InstallAndUpgradeClean(Kit& kit, Check& check, bool streams) {
    ExpectCompletion(check, kit.readable, RunSetup(kit), Texts().completed[kEnglish]);
    ExpectWritableAndUnmarked(kit, check, streams, kEnglish);
    ExpectCompletion(check, kit.readable, RunSetup(kit), Texts().upgraded[kEnglish]);
    ExpectWritableAndUnmarked(kit, check, streams, kEnglish);
}

void ReadOnlySourcesInstallWritable(Kit& kit, Check& check) {
    PrepareDistribution(kit, kEnglish);
    ReadOnlySources(kit, [](const std::wstring&) {});
    InstallAndUpgradeClean(kit, check, false);
}

void MarkedReadOnlySources(Kit& kit, Check& check) {
    PrepareDistribution(kit, kEnglish);
    bool written = true;
    DWORD writeError = 0;
    std::wstring first;
    ReadOnlySources(kit, [&](const std::wstring& f) {
        if (!WriteFile(f + L":Zone.Identifier", kZoneMark) && written) {
            writeError = ::GetLastError();
            written = false;
        }
        if (first.empty()) first = f;
    });
    if (!written || !StreamListed(first)) NoZoneMarks(kit, written, writeError);
    InstallAndUpgradeClean(kit, check, true);
}

std::vector<LANGID> ReasonLanguages(LANGID installation) {
    return {installation, ::GetUserDefaultUILanguage(), 0};
}

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

void ExpandableNonAsciiDesktop(Kit& kit, Check& check) {
    PrepareDistribution(kit, kEnglish);
    const std::wstring name = L"Plocha Žluťoučký kůň Рабочий стол";
    const std::wstring folder = Join(kit.work, name);
    // Expanded by Setup from its environment, which it inherits from the kit alone.
    ::SetEnvironmentVariableW(L"SETUP_CHECK_WORK", kit.work.c_str());
    if (!MakeFolders(folder)) throw NotPrepared{"cannot make " + Narrow(folder)};
    kit.extraDesktops.push_back(folder);
    DesktopOverride desktop(TextValue(REG_EXPAND_SZ, L"%SETUP_CHECK_WORK%\\" + name));
    if (!desktop.error().empty()) throw CannotCheck{Narrow(desktop.error())};
    ExpectCompletion(check, kit.readable, RunSetup(kit), Texts().completed[kEnglish]);
    std::vector<std::wstring> differing, strays;
    for (const Copy& c : kit.plan.copies)
        if (c.desktop) CompareWithSource(Join(folder, c.target), Join(kit.dist, c.source), differing);
    const std::wstring pdf = kit.plan.languagePdf[kEnglish];
    CompareWithSource(Join(folder, pdf), Join(kit.dist, pdf), differing);
    check.Expect(differing.empty(), "desktop items missing from the expanded desktop: " + Some(differing));
    for (const auto& n : kit.plan.DesktopNames())
        if (Exists(Join(kit.desktop, n))) strays.push_back(n);
    check.Expect(strays.empty(), "placed on the usual desktop instead: " + Some(strays));
}

void StartedElsewhere(Kit& kit, Check& check) {
    PrepareDistribution(kit, kEnglish);
    const std::wstring elsewhere = Join(kit.work, L"elsewhere");
    if (!MakeFolders(elsewhere)) throw NotPrepared{"cannot make " + Narrow(elsewhere)};
    // Every copy lacks its source, and the language PDF (Czech: no language file here) too.
    const int failures = static_cast<int>(kit.plan.copies.size()) + 1;
    const std::wstring text = Format(Texts().incomplete[kEnglish], failures, kit.plan.copies.front().target) + L"\n" +
                              WithFinalPeriod(Format(Texts().wrongFolder, elsewhere, kit.dist));
    ExpectError(check, kit.readable, RunSetup(kit, L"Setup.exe", elsewhere), text);
}

void RenamedSetup(Kit& kit, Check& check) {
    PrepareDistribution(kit, kEnglish);
    if (!::CopyFileW(Join(kit.dist, L"Setup.exe").c_str(), Join(kit.dist, L"Setup (1).exe").c_str(), TRUE))
        throw NotPrepared{"cannot make Setup (1).exe"};
    ExpectCompletion(check, kit.readable, RunSetup(kit, L"Setup (1).exe"), Texts().completed[kEnglish], L"Setup (1)");
}

void WindowAfterError(Kit& kit, Check& check) {
    PrepareDistribution(kit, kEnglish);
    if (!WriteFile(Join(kit.dist, L"dLangv.dat"), std::string("\1\0\0", 3))) throw NotPrepared{"cannot shorten dLangv.dat"};
    const boxdriver::Seen* window = ExpectError(check, kit.readable, RunSetup(kit), L"Read beyond end of file.");
    if (!window) return;
    const int w = ::MulDiv(248, static_cast<int>(window->dpi), 96), h = ::MulDiv(99, static_cast<int>(window->dpi), 96);
    check.Expect(std::abs(window->client.cx - w) <= 1 && std::abs(window->client.cy - h) <= 1,
                 "main window client " + std::to_string(window->client.cx) + "x" + std::to_string(window->client.cy) +
                     " at " + std::to_string(window->dpi) + " dpi, expected " + std::to_string(w) + "x" + std::to_string(h));
}

}  // namespace

const std::vector<Scenario>& Scenarios() {
    static const std::vector<Scenario> all = {
        {"install-cs", "first installation, Czech", Install<0>},
        {"install-en", "first installation, English", Install<1>},
        {"install-de", "first installation, German", Install<2>},
        {"install-sv", "first installation, Swedish", Install<3>},
        {"install-ru", "first installation, Russian", Install<4>},
        {"upgrade", "upgrade keeps edited power lists", UpgradeKeepsPowerLists},
        {"read-only", "read-only sources", ReadOnlySourcesInstallWritable},
        {"zone-marks", "read-only sources with zone marks", MarkedReadOnlySources},
        {"held-target", "a target held open without sharing", HeldTarget},
        {"held-removal", "Rakoviny.txt held with delete sharing", RemovalHeldWithDeleteSharing},
        {"locked-source", "a source under another program's byte-range lock", LockedSource},
        {"running-program", "an upgrade while the installed program runs", RunningProgram},
        {"folder-list-kept", "an upgrade keeps the program folder's own access list", ExistingFolderKeepsItsList},
        {"junction", "Dokum swapped for a junction to a folder outside the trees", JunctionedDataFolder},
        {"desktop-expand", "expandable Desktop value, non-ASCII folder", ExpandableNonAsciiDesktop},
        {"elsewhere", "started from another folder", StartedElsewhere},
        {"renamed", "renamed to Setup (1).exe", RenamedSetup},
        {"window-dpi", "main window after an error, at the system's DPI", WindowAfterError},
    };
    return all;
}

}  // namespace kit
