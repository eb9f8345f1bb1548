#include "tests/unit/test_support.h"

#include <cstdint>
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

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name), had_(std::getenv(name)) {
    if (had_) old_ = std::getenv(name);
    ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (had_)
        ::setenv(name_.c_str(), old_.c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

Sandbox::Sandbox()
    : oldCwd_(fs::current_path().string()),
      prefix_("WINEPREFIX", root_ / "prefix"),
      config_("XDG_CONFIG_HOME", root_ / "config"),
      home_("HOME", root_ / "home") {
    MakeDirs(root_ / "prefix/drive_c");
    MakeDirs(root_ / "dist");
    MakeDirs(root_ / "home/Desktop");
    SetUserDirs("XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n");
    fs::current_path(root_ / "dist");
}

Sandbox::~Sandbox() { fs::current_path(oldCwd_); }

std::string Sandbox::C(const std::string& relative) const { return root_ / ("prefix/drive_c/" + relative); }
std::string Sandbox::Dist(const std::string& relative) const { return root_ / ("dist/" + relative); }
std::string Sandbox::Desktop(const std::string& name) const { return root_ / ("home/Desktop/" + name); }

void Sandbox::SetUserDirs(const std::string& content) const {
    if (content.empty())
        ::unlink((root_ / "config/user-dirs.dirs").c_str());
    else
        WriteFile(root_ / "config/user-dirs.dirs", "# written by the test\n" + content);
}

std::string LanguageBytes(int language) {
    const auto u = static_cast<std::uint32_t>(language);
    return std::string{static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16),
                       static_cast<char>(u >> 24)};
}

void WriteDistribution(int language, const std::vector<std::string>& without) {
    static const char* const kNames[] = {
        "Orvo Tool.exe", "Orvo Dustrel.exe", "Orvo Tool.lnk", "Orvo_Tool DATA.lnk",
        "Orvo Tool CZ.pdf", "Orvo Tool DE.pdf", "Orvo Tool EN.pdf",
        "Data/Kesmark.pdf", "Data/KesmarkE.pdf", "Data/KesmarkD.pdf", "Data/KesmarkS.pdf",
        "Data/Power.txt", "Data/PowerEN.txt", "Data/QCAFL.txt", "Data/QCAFL_EN.txt",
        "Data/QBRENLOW.txt", "Data/QKV.txt", "Data/QPower1.txt", "Data/Rakoviny.txt",
        "Data/QmtrinOrvoT.txt", "Data/Power Seznam.pdf", "Data/Q CAFL EN frequence.pdf",
        "Data/Q CAFL EN List.pdf", "Data/Q CAFL frekvence.pdf", "Data/Q CAFL seznam.pdf",
        "Data/Q BRENLOW frekvence.pdf", "Data/Q BRENLOW seznam.pdf", "Data/Q KV Frekvence.pdf",
        "Data/Q KV seznam.pdf", "Data/Q Power1 Seznam.pdf"};
    auto wanted = [&](const std::string& n) {
        for (const auto& w : without)
            if (w == n) return false;
        return true;
    };
    for (const char* name : kNames)
        if (wanted(name)) WriteFile(name, std::string("content of ") + name + "\n");
    if (wanted("dLangv.dat")) WriteFile("dLangv.dat", LanguageBytes(language));
}

void WriteFile(const std::string& path, const std::string& bytes) {
    const fs::path parent = fs::path(path).parent_path();
    if (!parent.empty()) fs::create_directories(parent);
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

void ConsoleCapture::Clear() {
    for (std::FILE* f : {out_, err_}) {
        std::fflush(f);
        if (::ftruncate(::fileno(f), 0) != 0) throw std::runtime_error("cannot clear the console file");
        std::rewind(f);
    }
}

}  // namespace testing_support
