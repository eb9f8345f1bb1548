#include "tests/unit/test_support.h"

#include <algorithm>
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

#include <gtest/gtest.h>

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

Sandbox::Sandbox(std::string hostRoot)
    : oldCwd_(fs::current_path().string()),
      prefix_("WINEPREFIX", root_ / "prefix"),
      config_("XDG_CONFIG_HOME", root_ / "config"),
      home_("HOME", root_ / "home"),
      hostRoot_(std::move(hostRoot)) {
    MakeDirs(root_ / "prefix/drive_c");
    MakeDirs(root_ / "dist");
    MakeDirs(root_ / "home/Desktop");
    SetUserDirs("XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n");
    fs::current_path(root_ / "dist");
    atRootBefore_ = DesktopNamesAtHostRoot(hostRoot_);
}

Sandbox::~Sandbox() {
    fs::current_path(oldCwd_);
    for (const auto& name : DesktopNamesAtHostRoot(hostRoot_)) {
        if (std::find(atRootBefore_.begin(), atRootBefore_.end(), name) != atRootBefore_.end()) continue;
        ::unlink((hostRoot_ + name).c_str());
        ADD_FAILURE() << "a run wrote " << name << " to the host's /, outside the test's folder (removed)";
    }
}

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

namespace {

std::string HostName(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

std::vector<ExpectedStep> ReadExpectedPlan(std::vector<std::string>& unused, std::vector<std::string>& pdfs) {
    std::ifstream f(SETUP_EXPECTED_PLAN);
    if (!f) throw std::runtime_error("cannot read " SETUP_EXPECTED_PLAN);
    std::vector<ExpectedStep> steps;
    for (std::string line; std::getline(f, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cells;
        std::istringstream row(line);
        for (std::string cell; std::getline(row, cell, '\t');) cells.push_back(cell);
        cells.resize(4);
        if (cells[0] == "unused") unused.push_back(cells[1]);
        if (cells[0] == "language-pdf" && !cells[2].empty() &&
            std::find(pdfs.begin(), pdfs.end(), cells[2]) == pdfs.end())
            pdfs.push_back(cells[2]);
        if (cells[0] == "install" || cells[0] == "desktop") steps.push_back({cells[0], cells[1], cells[2], cells[3]});
    }
    return steps;
}

struct Expected {
    std::vector<std::string> unused, pdfs;
    std::vector<ExpectedStep> steps = ReadExpectedPlan(unused, pdfs);
};

const Expected& Plan() {
    static const Expected expected;
    return expected;
}

}  // namespace

const std::vector<ExpectedStep>& ExpectedPlan() { return Plan().steps; }

const std::vector<std::string>& DistributionFiles() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        auto add = [&](const std::string& name) {
            const std::string host = HostName(name);
            if (!name.empty() && std::find(out.begin(), out.end(), host) == out.end()) out.push_back(host);
        };
        for (const auto& step : ExpectedPlan()) add(step.source);
        for (const auto& name : Plan().unused) add(name);
        return out;
    }();
    return names;
}

std::vector<std::pair<std::string, std::string>> InstalledFiles() {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& step : ExpectedPlan())
        if (step.op == "copy" || step.op == "copy-kept")
            out.emplace_back(HostName(step.target.substr(3)), HostName(step.source));
    return out;
}

std::vector<std::string> DesktopNames(const std::string& op) {
    std::vector<std::string> out;
    for (const auto& step : ExpectedPlan())
        if (step.op == op) out.push_back(step.target.substr(1));
    return out;
}

std::vector<std::string> DesktopNamesAtHostRoot(const std::string& root) {
    std::vector<std::string> names = DesktopNames("remove-from-desktop");
    for (const auto& name : DesktopNames("copy-to-desktop")) names.push_back(name);
    for (const auto& pdf : Plan().pdfs) names.push_back(pdf);
    std::vector<std::string> there;
    for (const auto& name : names)
        if (Exists(root + name)) there.push_back(name);
    return there;
}

void WriteDistribution(int language, const std::vector<std::string>& without) {
    auto wanted = [&](const std::string& n) { return std::find(without.begin(), without.end(), n) == without.end(); };
    for (const std::string& name : DistributionFiles()) {
        if (!wanted(name)) continue;
        WriteFile(name, name == "dLangv.dat" ? LanguageBytes(language) : "content of " + name + "\n");
    }
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
