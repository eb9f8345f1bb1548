// The contract suite's host on a POSIX file system.
#include "tests/unit/contract_host.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <filesystem>
#include <stdexcept>

#include "platform/posix/paths.h"
#include "platform/process.h"
#include "tests/unit/test_support.h"

namespace contract {
namespace {
std::string N(const std::wstring& path) { return posixport::Utf8(path); }
}  // namespace

Folder::Folder() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "contract-XXXXXX").string();
    if (!::mkdtemp(&tmpl[0])) throw std::runtime_error("mkdtemp failed");
    ::chmod(tmpl.c_str(), 0755);
    path_ = posixport::Wide(tmpl);
}

Folder::~Folder() {
    std::error_code ec;
    namespace fs = std::filesystem;
    const std::string root = N(path_);
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it); it.increment(ec))
        if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root, ec);
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) { return folder + L"/" + name; }

void Write(const std::wstring& path, const std::string& bytes) { testing_support::WriteFile(N(path), bytes); }
std::string Read(const std::wstring& path) { return testing_support::ReadFile(N(path)); }
bool Exists(const std::wstring& path) { return testing_support::Exists(N(path)); }
void MakeDir(const std::wstring& path) { testing_support::MakeDirs(N(path)); }
void MakeReadOnly(const std::wstring& path) { ::chmod(N(path).c_str(), 0444); }

std::string MakeLink(const std::wstring& target, const std::wstring& link, bool) {
    return ::symlink(N(target).c_str(), N(link).c_str()) == 0 ? "" : "symlink failed";
}

const std::uint32_t kAccessDeniedHere = EACCES;

std::string MakeHidden(const std::wstring&) { return "a POSIX file system has no hidden attribute"; }

// POSIX has no open without sharing: the file is merely open, and a rename
// replaces it all the same.
struct ExclusiveHold::Impl {
    int fd;
};
ExclusiveHold::ExclusiveHold(const std::wstring& path, unsigned) : impl_(new Impl{::open(N(path).c_str(), O_RDONLY)}) {}
ExclusiveHold::~ExclusiveHold() {
    if (impl_->fd >= 0) ::close(impl_->fd);
}
bool ExclusiveHold::held() const { return impl_->fd >= 0; }

struct LockPlace::Impl {
    Folder prefix;
    std::string old;
    bool had;
};

LockPlace::LockPlace() : impl_(new Impl{{}, "", std::getenv("WINEPREFIX") != nullptr}) {
    if (impl_->had) impl_->old = std::getenv("WINEPREFIX");
    const std::string prefix = N(impl_->prefix / L"prefix");
    ::mkdir(prefix.c_str(), 0755);
    ::setenv("WINEPREFIX", prefix.c_str(), 1);
    Unblock();
}

LockPlace::~LockPlace() {
    if (impl_->had)
        ::setenv("WINEPREFIX", impl_->old.c_str(), 1);
    else
        ::unsetenv("WINEPREFIX");
}

std::string LockPlace::HolderDies() {
    const pid_t child = ::fork();
    if (child < 0) return "fork failed";
    if (child == 0) ::_exit(process::LockInstallation() == 0 ? 0 : 1);  // never lets go
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "the holder could not take the lock";
}

bool LockPlace::FreeElsewhere() {
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(posixport::NativePath(L"C:\\").c_str(), O_RDONLY | O_DIRECTORY);
        ::_exit(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::uint32_t LockPlace::Block() {
    ::rmdir(posixport::NativePath(L"C:\\").c_str());
    return ENOENT;
}

void LockPlace::Unblock() { ::mkdir(posixport::NativePath(L"C:\\").c_str(), 0755); }

// Root passes every permission check, so the probe runs as an unprivileged user.
int WithListingDenied(const std::wstring& folder, int (*probe)(const std::wstring&), std::string& reason) {
    ::chmod(N(folder).c_str(), 0700);
    const int result = testing_support::RunUnprivileged([&] { return probe(folder); });
    if (result < 0) reason = "cannot switch to an unprivileged user";
    return result;
}

}  // namespace contract
