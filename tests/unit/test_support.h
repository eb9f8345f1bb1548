// Real temporary trees and process state for tests; restored on every path.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Points drive C: at a fresh prefix and the current directory at a fresh
// distribution folder for the life of the object.
// Restores one environment variable on destruction.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();

private:
    std::string name_, old_;
    bool had_;
};

// Points drive C: at a fresh prefix, the current directory at a fresh
// distribution folder and the user's desktop setting at a fresh desktop.
class Sandbox {
public:
    // `hostRoot`: the folder checked for desktop names a run leaves outside
    // the sandbox; the host's / but in the test of that check itself, which
    // would otherwise fail every run beside it.
    explicit Sandbox(std::string hostRoot = "/");
    ~Sandbox();
    std::string C(const std::string& relative) const;  // host path of C:\relative
    std::string Dist(const std::string& relative) const;
    std::string Desktop(const std::string& name) const;
    // Writes the desktop setting's file; "" removes it.
    void SetUserDirs(const std::string& content) const;

private:
    TempDir root_;
    std::string oldCwd_;
    ScopedEnv prefix_, config_, home_;
    std::string hostRoot_;
    std::vector<std::string> atRootBefore_;
};

// One step of the installation as the tests expect it (tests/expected_plan.tsv);
// names as the plan spells them, with backslashes.
struct ExpectedStep {
    std::string plan, op, source, target;
};
const std::vector<ExpectedStep>& ExpectedPlan();
// Every file of a complete distribution, host-style (Data/QKV.txt).
const std::vector<std::string>& DistributionFiles();
// (installed file below drive C:, distribution file), host-style, of every copy.
std::vector<std::pair<std::string, std::string>> InstalledFiles();
// The desktop names, without their leading backslash, of one operation.
std::vector<std::string> DesktopNames(const std::string& op);
// Every name a run may place on or remove from a desktop that is at the host's
// /, where a run that took "the root of the current drive" for its desktop
// would write. A Sandbox removes those that appear while it lives and fails
// the test that made them, so no test leaves a file outside its folder.
std::vector<std::string> DesktopNamesAtHostRoot(const std::string& root = "/");

void WriteFile(const std::string& path, const std::string& bytes);
// A complete distribution in the current directory: every file holds its own
// name, so a misplaced copy shows. Names in `without` are left out.
void WriteDistribution(int language, const std::vector<std::string>& without = {});
std::string LanguageBytes(int language);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
void MakeDirs(const std::string& path);

// Runs fn in a child process as a user who obeys file permissions (root would
// not); returns fn's result (0..127), or -1 when the child could not switch.
int RunUnprivileged(const std::function<int()>& fn);

// Captures what the POSIX boxes write.
class ConsoleCapture {
public:
    ConsoleCapture();
    ~ConsoleCapture();
    std::string Out();
    std::string Err();
    void Clear();

private:
    std::FILE* out_;
    std::FILE* err_;
};

}  // namespace testing_support
