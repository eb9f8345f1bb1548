#include "platform/fileops.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/posix/copy_bytes.h"
#include "platform/posix/folders.h"
#include "platform/posix/paths.h"

namespace fileops {
namespace {

using posixport::At;
using posixport::Locate;
using posixport::NativePath;
using posixport::WinError;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

// A name that cannot be stat'ed may still be listed by its directory.
bool ListedAsFile(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// The read-only attribute of Windows maps to a missing owner write bit; it is
// tested explicitly so that it holds even for a privileged user.
bool IsReadOnly(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool Fail(int err) {
    errno = err;
    return false;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A rename is on the disk once its folder is.
bool FlushFolderOf(const At& at) {
    if (at.folder != AT_FDCWD) return ::fsync(at.folder) == 0;
    Fd folder(::open(FolderOf(at.name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder && ::fsync(folder.get()) == 0;
}

// rename that never replaces: renameat2 where the file system has it, else a
// hard link, which fails on an existing name, and the old name's removal.
bool RenameNoReplace(const At& from, const At& to) {
    if (::renameat2(from.folder, from.name.c_str(), to.folder, to.name.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (::linkat(from.folder, from.name.c_str(), to.folder, to.name.c_str(), 0) != 0) return false;
    ::unlinkat(from.folder, from.name.c_str(), 0);
    return true;
}

}  // namespace
}  // namespace fileops

namespace posixport {

// The source's size when the copy began, no more and no less: a source that
// ends early lost its tail.
bool CopyBytes(int from, int to, off_t size) {
    off_t done = 0;
    while (done < size) {
        const ssize_t n = ::copy_file_range(from, nullptr, to, nullptr, size - done, 0);
        if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL))
            break;
        if (n < 0) return false;
        if (n == 0) {
            errno = ENODATA;
            return false;
        }
        done += n;
    }
    char buf[1 << 16];
    while (done < size) {
        const ssize_t n = ::read(from, buf, static_cast<std::size_t>(std::min<off_t>(size - done, sizeof buf)));
        if (n < 0) return false;
        if (n == 0) {
            errno = ENODATA;
            return false;
        }
        for (ssize_t off = 0; off < n;) {
            const ssize_t w = ::write(to, buf + off, n - off);
            if (w < 0) return false;
            off += w;
        }
        done += n;
    }
    return true;
}

}  // namespace posixport

namespace fileops {

bool FileExists(const std::wstring& path) {
    const std::string p = NativePath(path);
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) {
        const std::uint32_t error = WinError(errno);
        if (error == kErrorFileNotFound || error == kErrorPathNotFound) return false;
        return ListedAsFile(p);
    }
    return !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::wstring& path) {
    struct stat st;
    if (::stat(NativePath(path).c_str(), &st) != 0) {
        const std::uint32_t error = WinError(errno);
        return !(error == kErrorFileNotFound || error == kErrorPathNotFound);
    }
    return S_ISDIR(st.st_mode);
}

bool CreateDir(const std::wstring& path) {
    const At at = Locate(NativePath(path));
    return ::mkdirat(at.folder, at.name.c_str(), 0777) == 0;
}

// mkdir's mode passes through the umask; chmod's does not.
bool CreateProgramDir(const std::wstring& path) {
    const At at = Locate(NativePath(path));
    return ::mkdirat(at.folder, at.name.c_str(), 0755) == 0 && ::fchmodat(at.folder, at.name.c_str(), 0755, 0) == 0;
}

// unlink removes files and links to directories alike and refuses a
// directory; a read-only file is refused as Windows refuses it.
bool DeleteFile(const std::wstring& path) {
    const At at = Locate(NativePath(path));
    struct stat st;
    if (::fstatat(at.folder, at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && IsReadOnly(st))
        return Fail(EACCES);
    return ::unlinkat(at.folder, at.name.c_str(), 0) == 0;
}

// A source that is a link is refused, as on Windows.
bool CopyFileW(const std::wstring& source, const std::wstring& target, bool failIfExists) {
    const std::string from = NativePath(source);
    const At to = Locate(NativePath(target));
    Fd in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat src;
    if (!in || ::fstat(in.get(), &src) != 0) return false;
    if (!S_ISREG(src.st_mode)) return Fail(EACCES);
    struct stat dst;
    if (::fstatat(to.folder, to.name.c_str(), &dst, 0) == 0) {
        if (failIfExists) return Fail(EEXIST);
        if (S_ISDIR(dst.st_mode) || IsReadOnly(dst)) return Fail(EACCES);
        if (SameFile(src, dst)) return Fail(EBUSY);  // truncating would lose the source
    }
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (failIfExists ? O_EXCL : 0);
    Fd out(::openat(to.folder, to.name.c_str(), flags, 0600));
    if (!out) return false;
    if (!posixport::CopyBytes(in.get(), out.get(), src.st_size)) return false;
    const struct timespec times[2] = {src.st_atim, src.st_mtim};
    ::futimens(out.get(), times);
    if (::fchmod(out.get(), src.st_mode & 07777) != 0) return false;
    return ::close(out.release()) == 0;
}

bool FlushFile(const std::wstring& path) {
    const At at = Locate(NativePath(path));
    Fd file(::openat(at.folder, at.name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    return file && ::fsync(file.get()) == 0;
}

// rename would replace a file without write permission and a folder's empty
// name; Windows refuses both, and so does this.
bool Publish(const std::wstring& from, const std::wstring& to, bool replace) {
    const At source = Locate(NativePath(from)), target = Locate(NativePath(to));
    struct stat st;
    if (replace && ::fstatat(target.folder, target.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && IsReadOnly(st))))
        return Fail(EACCES);
    const bool renamed = replace ? ::renameat(source.folder, source.name.c_str(), target.folder, target.name.c_str()) == 0
                                 : RenameNoReplace(source, target);
    return renamed && FlushFolderOf(target);
}

// Nothing here holds a file against being replaced.
bool InUse(const std::wstring&) { return false; }

bool IsReadFault(std::uint32_t code) { return code == ENODATA; }

// A link is refused as the copy refuses it.
bool OpensForReading(const std::wstring& path) {
    return Fd(::open(NativePath(path).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)).get() >= 0;
}

// A link has no write bit of its own, and what it leads to stays as it was.
bool MakeWritable(const std::wstring& path) {
    const At at = Locate(NativePath(path));
    struct stat st;
    if (::fstatat(at.folder, at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (S_ISLNK(st.st_mode) || !IsReadOnly(st)) return true;
    return ::fchmodat(at.folder, at.name.c_str(), (st.st_mode & 07777) | S_IWUSR, 0) == 0;
}

// POSIX file systems keep no zone streams.
bool DropZoneMark(const std::wstring&) { return true; }

std::uint32_t LastError() { return static_cast<std::uint32_t>(errno); }

// strerror speaks the C locale's language; the installation's is not asked.
std::wstring ErrorText(std::uint32_t code, std::uint16_t) { return posixport::Wide(std::strerror(static_cast<int>(code))); }

struct RecordFile::Impl {
    Fd fd;
};

RecordFile::RecordFile() : impl_(std::make_unique<Impl>()) {}
RecordFile::~RecordFile() = default;

void RecordFile::Assign(const std::wstring& name) { name_ = name; }

bool RecordFile::IsOpen() const { return static_cast<bool>(impl_->fd); }

std::uint32_t RecordFile::Reset() {
    const std::string path = NativePath(name_);
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return posixport::WinErrorForPath(errno, path);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return WinError(errno);
    if (S_ISDIR(st.st_mode)) return kErrorAccessDenied;  // as Windows refuses to open a folder
    impl_->fd.reset(fd.release());
    return 0;
}

std::uint32_t RecordFile::Read(std::int32_t& record) {
    unsigned char bytes[4];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::read(impl_->fd.get(), bytes + got, sizeof bytes - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return WinError(errno);
        if (n == 0) return kErrorReadBeyondEnd;
        got += static_cast<std::size_t>(n);
    }
    const std::uint32_t u = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                            (static_cast<std::uint32_t>(bytes[3]) << 24);
    record = static_cast<std::int32_t>(u);
    return 0;
}

std::uint32_t RecordFile::Close() {
    const int fd = impl_->fd.release();
    if (fd < 0) return 0;
    return ::close(fd) == 0 ? 0 : WinError(errno);
}

}  // namespace fileops
