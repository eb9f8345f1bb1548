#include "kit/src/leftovers.h"

#include <windows.h>
#include <tlhelp32.h>

#include "platform/win32/handles.h"
#include "kit/src/check.h"

namespace kit {
namespace {

const wchar_t kRemove[] = L"remove\t", kEndPrograms[] = L"end programs under\t";

std::wstring ListPath() { return Join(ModuleFolder(), L"setup-check-cleanup.txt"); }

bool StartsWith(const std::wstring& s, const wchar_t* prefix) { return s.rfind(prefix, 0) == 0; }

// Every process whose image lies below `folder`, ended and waited for.
void EndProgramsUnder(const std::wstring& folder) {
    const std::wstring prefix = folder + L"\\";
    win32::UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == ::GetCurrentProcessId()) continue;
        win32::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE,
                                                  FALSE, entry.th32ProcessID));
        wchar_t image[32768];
        DWORD size = 32768;
        if (!process || !::QueryFullProcessImageNameW(process.get(), 0, image, &size)) continue;
        if (_wcsnicmp(image, prefix.c_str(), prefix.size()) != 0) continue;
        ::TerminateProcess(process.get(), 1);
        ::WaitForSingleObject(process.get(), 5000);
    }
}

}  // namespace

bool WriteLeftoverList(const std::vector<std::wstring>& paths, const std::wstring& programsUnder) {
    std::wstring text = kEndPrograms + programsUnder + L"\r\n";
    for (const auto& p : paths) text += kRemove + p + L"\r\n";
    return WriteFile(ListPath(), Narrow(text));
}

Cleared ClearLeftovers() {
    Cleared cleared;
    std::string bytes;
    if (!ReadFile(ListPath(), bytes)) return cleared;
    cleared.listed = true;
    const std::wstring text = Wide(bytes);
    std::vector<std::wstring> lines;
    for (std::size_t at = 0, end; at < text.size(); at = end + 2) {
        end = text.find(L"\r\n", at);
        if (end == std::wstring::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
    }
    for (const auto& line : lines)
        if (StartsWith(line, kEndPrograms)) EndProgramsUnder(line.substr(wcslen(kEndPrograms)));
    for (const auto& line : lines) {
        if (!StartsWith(line, kRemove)) continue;
        const std::wstring path = line.substr(wcslen(kRemove));
        if (!Exists(path)) continue;
        std::wstring held;
        (RemoveHeldTree(path, held) ? cleared.removed : cleared.stayed).push_back(path);
    }
    if (cleared.stayed.empty()) ::DeleteFileW(ListPath().c_str());
    return cleared;
}

}  // namespace kit
