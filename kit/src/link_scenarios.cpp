// A folder of the data tree swapped for a junction, as any account may do
// there: Setup must write and delete nothing where it leads.
#include "platform/win32/handles.h"

#include <winioctl.h>

#include <cstring>

#include "platform/fileops.h"
#include "kit/src/scenarios.h"
#include "kit/src/texts.h"

namespace kit {
namespace {

// What FSCTL_SET_REPARSE_POINT takes for a junction (a mount point);
// winnt.h keeps the structure for drivers only.
struct MountPoint {
    DWORD tag;
    WORD dataLength, reserved;
    WORD substituteOffset, substituteLength, printOffset, printLength;
    wchar_t names[MAX_PATH * 2 + 8];
};

// The empty folder `link` made a junction to `target`; 0, or the system's code.
DWORD MakeJunction(const std::wstring& link, const std::wstring& target) {
    const std::wstring substitute = L"\\??\\" + target;
    if (substitute.size() + target.size() + 2 > MAX_PATH * 2 + 8) return ERROR_FILENAME_EXCED_RANGE;
    MountPoint point{};
    point.tag = IO_REPARSE_TAG_MOUNT_POINT;
    point.substituteLength = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    point.printOffset = static_cast<WORD>(point.substituteLength + sizeof(wchar_t));
    point.printLength = static_cast<WORD>(target.size() * sizeof(wchar_t));
    std::memcpy(point.names, substitute.c_str(), point.substituteLength);
    std::memcpy(point.names + substitute.size() + 1, target.c_str(), point.printLength);
    point.dataLength = static_cast<WORD>(8 + point.printOffset + point.printLength + sizeof(wchar_t));
    win32::UniqueFile folder(::CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    DWORD returned = 0;
    if (!folder || !::DeviceIoControl(folder.get(), FSCTL_SET_REPARSE_POINT, &point, point.dataLength + 8, nullptr,
                                      0, &returned, nullptr))
        return ::GetLastError();
    return 0;
}

}  // namespace

void JunctionedDataFolder(Kit& kit, Check& check) {
    PrepareDistribution(kit, 1);
    const std::wstring dokum = L"C:\\Orvo_Tool Data\\Dokum", outside = Join(kit.work, L"outside");
    const std::wstring leftover = Join(outside, L"Orvo Tool CZ.pdf.setup-new");
    std::vector<std::wstring> meant;
    for (const Copy& c : kit.plan.copies)
        if (c.target.rfind(dokum + L"\\", 0) == 0) meant.push_back(c.target);
    if (meant.empty()) throw NotPrepared{"the plan copies nothing into " + Narrow(dokum)};
    if (!MakeFolders(outside) || !WriteFile(leftover, "named like a leftover by setup-check") || !MakeFolders(dokum))
        throw NotPrepared{"cannot place " + Narrow(leftover) + " and make " + Narrow(dokum)};
    if (const DWORD error = MakeJunction(dokum, outside)) {
        const std::string why = "FSCTL_SET_REPARSE_POINT failed with error " + std::to_string(error);
        if (UnderWine()) throw Skip{"Wine cannot make a junction (" + why + ")"};
        if (error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED)
            throw Skip{"the file system of C: keeps no junctions (" + why + ")"};
        throw NotPrepared{"cannot make " + Narrow(dokum) + " a junction (" + why + ")"};
    }
    const std::wstring reason = SystemErrorText(fileops::kErrorReparsePointEncountered, {0x0409, ::GetUserDefaultUILanguage(), 0});
    ExpectError(check, kit.readable, RunSetup(kit),
                Format(Texts().incomplete[1], static_cast<int>(meant.size()), meant.front()) + L"\n" + WithFinalPeriod(reason));
    std::string bytes;
    const std::vector<std::wstring> there = ListTree(outside);
    check.Expect(there == std::vector<std::wstring>{L"Orvo Tool CZ.pdf.setup-new"} && ReadFile(leftover, bytes) &&
                     bytes == "named like a leftover by setup-check",
                 "written or deleted in the folder the junction leads to (" + std::to_string(there.size()) + " names there)");
}

}  // namespace kit
