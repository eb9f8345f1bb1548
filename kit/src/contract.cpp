// The file-operation contract suite (GoogleTest, built for Windows) beside
// the kit: run with its temporary folders in the kit's work folder, its
// summary and skip reasons taken into the report.
#include <regex>

#include "platform/win32/handles.h"
#include "kit/src/scenarios.h"

namespace kit {
namespace {

using win32::UniqueHandle;

struct JobTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::CloseHandle(h); }
};
using UniqueJob = win32::UniqueAny<JobTraits>;

constexpr DWORD kSuiteTimeoutMs = 300000;

// How a run of the suite ended.
enum class Ended { kExited, kNotStarted, kTimedOut };

// A job that ends the suite, and anything it started, when it is closed: on
// every path out of RunSuite, an exception included.
UniqueJob KillOnCloseJob() {
    UniqueJob job(::CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job && !::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
        job.reset();
    return job;
}

// Whatever the pipe holds now, without waiting for more.
void Drain(HANDLE read, std::string& out) {
    char buf[4096];
    for (DWORD avail = 0, got = 0; ::PeekNamedPipe(read, nullptr, 0, nullptr, &avail, nullptr) && avail > 0;) {
        if (!::ReadFile(read, buf, avail < sizeof buf ? avail : sizeof buf, &got, nullptr) || got == 0) return;
        out.append(buf, got);
    }
}

// The suite's whole output, read while it runs. It is ended after five
// minutes, and at once on Ctrl+C (then Interrupted is thrown).
Ended RunSuite(Kit& kit, const std::wstring& exe, const std::wstring& temp, std::string& out, DWORD& exitCode) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE readRaw = nullptr, writeRaw = nullptr;
    if (!::CreatePipe(&readRaw, &writeRaw, &sa, 0)) return Ended::kNotStarted;
    UniqueHandle read(readRaw), write(writeRaw);
    ::SetHandleInformation(read.get(), HANDLE_FLAG_INHERIT, 0);
    UniqueJob job = KillOnCloseJob();
    if (!job) return Ended::kNotStarted;
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
    const BOOL started = ::CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE,
                                          CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, temp.c_str(), &si, &pi);
    write.reset();
    if (!started) return Ended::kNotStarted;
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    if (!::AssignProcessToJobObject(job.get(), process.get())) {
        ::TerminateProcess(process.get(), 1);
        return Ended::kNotStarted;
    }
    ::ResumeThread(thread.get());
    const DWORD start = ::GetTickCount();
    while (::WaitForSingleObject(process.get(), 100) == WAIT_TIMEOUT) {
        Drain(read.get(), out);
        if (kit.interrupted) throw Interrupted{};  // the job's closing ends the suite
        if (::GetTickCount() - start > kSuiteTimeoutMs) return Ended::kTimedOut;
    }
    Drain(read.get(), out);
    return ::GetExitCodeProcess(process.get(), &exitCode) ? Ended::kExited : Ended::kNotStarted;
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
    const Ended ended = RunSuite(kit, exe, temp, out, exitCode);
    if (ended == Ended::kNotStarted) throw NotPrepared{"the contract suite could not be started"};
    if (ended == Ended::kTimedOut)
        throw CannotCheck{"the contract suite did not end within " + std::to_string(kSuiteTimeoutMs / 60000) +
                          " minutes, and was ended"};
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
