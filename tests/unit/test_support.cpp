#include "tests/unit/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/posix/console.h"

namespace fs = std::filesystem;

namespace testing_support {

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "setup-test-XXXXXX").string();
    if (!::mkdtemp(&tmpl[0])) throw std::runtime_error("mkdtemp failed");
    ::chmod(tmpl.c_str(), 0755);
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Restore write bits so read-only leftovers do not stop the cleanup.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it); it.increment(ec))
        if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

Sandbox::Sandbox() : hadPrefix_(std::getenv("WINEPREFIX") != nullptr) {
    if (hadPrefix_) oldPrefix_ = std::getenv("WINEPREFIX");
    oldCwd_ = fs::current_path().string();
    MakeDirs(root_ / "prefix/drive_c");
    MakeDirs(root_ / "dist");
    ::setenv("WINEPREFIX", (root_ / "prefix").c_str(), 1);
    fs::current_path(root_ / "dist");
}

Sandbox::~Sandbox() {
    fs::current_path(oldCwd_);
    if (hadPrefix_)
        ::setenv("WINEPREFIX", oldPrefix_.c_str(), 1);
    else
        ::unsetenv("WINEPREFIX");
}

std::string Sandbox::C(const std::string& relative) const { return root_ / ("prefix/drive_c/" + relative); }
std::string Sandbox::Dist(const std::string& relative) const { return root_ / ("dist/" + relative); }

void WriteFile(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << bytes;
    if (!f) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

void MakeDirs(const std::string& path) { fs::create_directories(path); }

int RunUnprivileged(const std::function<int()>& fn) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        // The unprivileged "nobody" user obeys file permissions.
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(255);
        ::_exit(fn() & 0x7F);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 255) return -1;
    return WEXITSTATUS(status);
}

ConsoleCapture::ConsoleCapture() : out_(std::tmpfile()), err_(std::tmpfile()) {
    posixport::SetConsole(out_, err_);
}

ConsoleCapture::~ConsoleCapture() {
    posixport::SetConsole(nullptr, nullptr);
    std::fclose(out_);
    std::fclose(err_);
}

namespace {
std::string Slurp(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string s;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
    return s;
}
}  // namespace

std::string ConsoleCapture::Out() { return Slurp(out_); }
std::string ConsoleCapture::Err() { return Slurp(err_); }

}  // namespace testing_support
