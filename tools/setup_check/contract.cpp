// The file-operation contract suite (GoogleTest, built for Windows) beside
// the kit: run with its temporary folders in the kit's work folder, its
// summary and skip reasons taken into the report.
#include <regex>

#include "platform/win32/handles.h"
#include "tools/setup_check/scenarios.h"

namespace kit {
namespace {

using win32::UniqueHandle;

// The suite's whole output; false when it did not run to its end.
bool RunSuite(const std::wstring& exe, const std::wstring& temp, std::string& out, DWORD& exitCode) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE readRaw = nullptr, writeRaw = nullptr;
    if (!::CreatePipe(&readRaw, &writeRaw, &sa, 0)) return false;
    UniqueHandle read(readRaw), write(writeRaw);
    ::SetHandleInformation(read.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = write.get();
    si.hStdInput = nullptr;
    // Its temporary folders go to the work folder: the kit's own, removed at the end.
    ::SetEnvironmentVariableW(L"TMP", temp.c_str());
    ::SetEnvironmentVariableW(L"TEMP", temp.c_str());
    std::wstring cmd = L"\"" + exe + L"\"";
    PROCESS_INFORMATION pi{};
    const BOOL started = ::CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                          temp.c_str(), &si, &pi);
    write.reset();
    if (!started) return false;
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    char buf[4096];
    DWORD got = 0;
    while (::ReadFile(read.get(), buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
    ::WaitForSingleObject(process.get(), 300000);
    return ::GetExitCodeProcess(process.get(), &exitCode) && exitCode != STILL_ACTIVE;
}

// `tag` as GoogleTest's summary spells it: "[  PASSED  ]", "[  SKIPPED ]", "[  FAILED  ]".
int Count(const std::string& out, const char* tag) {
    std::smatch m;
    const std::regex line(std::string("\\[") + tag + "\\] (\\d+) tests?[,.]");
    return std::regex_search(out, m, line) ? std::stoi(m[1]) : 0;
}

}  // namespace

void RunContractSuite(Kit& kit, Check& check) {
    const std::wstring exe = Join(ModuleFolder(), L"fileops_contract.exe");
    // Not a check this system forbids: the kit came with it, and something
    // (antivirus, an unpacking tool) took it away.
    if (!Exists(exe))
        throw CannotCheck{"the contract suite is missing: fileops_contract.exe is not beside setup-check.exe "
                          "(removed by antivirus? unpack the kit again)"};
    const std::wstring temp = Join(kit.work, L"contract-temp");
    if (!MakeFolders(temp)) throw NotPrepared{"cannot make " + Narrow(temp)};
    std::string out;
    DWORD exitCode = 0;
    if (!RunSuite(exe, temp, out, exitCode)) throw NotPrepared{"the contract suite did not run to its end"};
    const int passed = Count(out, "  PASSED  "), skipped = Count(out, "  SKIPPED "), failed = Count(out, "  FAILED  ");
    kit.details.push_back("  contract suite: " + std::to_string(passed) + " passed, " + std::to_string(failed) +
                          " failed, " + std::to_string(skipped) + " skipped; exit status " + std::to_string(exitCode));
    // A skipped case's reason is the line GoogleTest prints just before it.
    const std::regex skip("([^\\n]*)\\r?\\n\\[  SKIPPED \\] (\\S+) \\(");
    for (std::sregex_iterator i(out.begin(), out.end(), skip), end; i != end; ++i)
        kit.details.push_back("  skipped " + (*i)[2].str() + ": " + (*i)[1].str());
    const std::regex fail("\\[  FAILED  \\] (\\S+) \\(");
    for (std::sregex_iterator i(out.begin(), out.end(), fail), end; i != end; ++i)
        check.Expect(false, "failed: " + (*i)[1].str());
    check.Expect(exitCode == 0 && passed > 0, "the suite exited with " + std::to_string(exitCode) + " after " +
                                                  std::to_string(passed) + " passed");
    check.Note("the suite: " + std::to_string(passed) + " passed, " + std::to_string(failed) + " failed, " +
               std::to_string(skipped) + " skipped" + (skipped ? ", the reasons in report.txt" : ""));
}

}  // namespace kit
