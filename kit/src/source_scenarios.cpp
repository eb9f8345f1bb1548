// Read-only sources, with zone marks or without: every installed file writable and unmarked, installed and upgraded.
#include "kit/src/scenarios.h"

#include "platform/win32/handles.h"
#include "kit/src/scenario_support.h"
#include "kit/src/texts.h"

namespace kit {
namespace {

const char kZoneMark[] = "[ZoneTransfer]\r\nZoneId=3\r\n";

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

}  // namespace

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

}  // namespace kit
