// Real temporary trees and process state for tests; restored on every path.
#pragma once

#include <functional>
#include <string>

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
class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    std::string C(const std::string& relative) const;  // host path of C:\relative
    std::string Dist(const std::string& relative) const;

private:
    TempDir root_;
    std::string oldCwd_, oldPrefix_;
    bool hadPrefix_;
};

void WriteFile(const std::string& path, const std::string& bytes);
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

private:
    std::FILE* out_;
    std::FILE* err_;
};

}  // namespace testing_support
