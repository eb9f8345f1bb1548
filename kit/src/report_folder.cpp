// This run's folder for its report and pictures, made afresh beside the kit, and the report written into it.
#include "kit/src/report_folder.h"

#include "kit/src/facts.h"

namespace kit {

bool WriteReport(const Kit& kit, const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    return WriteFile(Join(kit.run, L"report.txt"), text);
}

// A folder of this run's own for its report and pictures, named by its start
// in UTC so that the names sort in time order; every earlier run's stays (the
// kit's README.txt asks for them).
bool MakeRunFolder(Kit& kit) {
    const std::wstring reports = Join(kit.home, std::wstring(kPrefix) + L"-reports");
    if (!MakeFolders(reports)) return false;
    SYSTEMTIME t{};
    ::GetSystemTime(&t);
    const std::string name = NewRunFolder(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                                          [&](const std::string& n) {
        const std::wstring run = Join(reports, Wide(n));
        if (::CreateDirectoryW(run.c_str(), nullptr)) return Made::kMade;
        return ::GetLastError() == ERROR_ALREADY_EXISTS ? Made::kTaken : Made::kFailed;
    });
    if (name.empty()) return false;
    kit.run = Join(reports, Wide(name));
    kit.pictures = Join(kit.run, L"pictures");
    return MakeFolders(kit.pictures);
}

}  // namespace kit
