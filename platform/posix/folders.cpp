#include "platform/posix/folders.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/fileops.h"
#include "platform/posix/paths.h"

namespace posixport {
namespace {

struct Held {
    std::string path;
    int fd;
};

std::vector<Held>& HeldFolders() {
    static std::vector<Held> held;
    return held;
}

}  // namespace

At Locate(const std::string& nativePath) {
    const auto slash = nativePath.find_last_of('/');
    if (slash != std::string::npos)
        for (const Held& held : HeldFolders())
            if (nativePath.compare(0, slash, held.path) == 0 && held.path.size() == slash)
                return {held.fd, nativePath.substr(slash + 1)};
    return {AT_FDCWD, nativePath};
}

}  // namespace posixport

namespace fileops {

// The folder itself, never what a symbolic link there leads to; below a held
// folder it is reached through that one. Any failure but "not there" refuses
// it. A directory never becomes a link later: nothing to check again.
FolderHold HoldFolder(const std::wstring& path) {
    const std::string native = posixport::NativePath(path);
    const posixport::At at = posixport::Locate(native);
    const int fd = ::openat(at.folder, at.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        struct stat st;
        if (::fstatat(at.folder, at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
            errno = ELOOP;
            return FolderHold::Refused;
        }
        errno = error;
        return error == ENOENT || error == ENOTDIR ? FolderHold::NotThere : FolderHold::Refused;
    }
    posixport::HeldFolders().push_back({native, fd});
    return FolderHold::Held;
}

bool HeldFolderIsPlain(const std::wstring&) { return true; }

void ReleaseFolders() {
    for (const posixport::Held& held : posixport::HeldFolders()) ::close(held.fd);
    posixport::HeldFolders().clear();
}

}  // namespace fileops
