#include "platform/fileops.h"

#include "platform/win32/folders.h"
#include "platform/win32/handles.h"
#include "platform/win32/security.h"

#undef DeleteFile

namespace fileops {
namespace {

bool IsReparsePoint(DWORD attrs) { return (attrs & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
bool IsDirectory(DWORD attrs) { return (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// A name whose attributes cannot be read (held open by another process, say)
// may still be listed by its directory.
bool ListedAsFile(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    win32::UniqueFind find(::FindFirstFileW(path.c_str(), &data));
    return find && !IsDirectory(data.dwFileAttributes);
}

// A file link counts when its target can be opened, or is merely in use.
bool LinkTargetOpens(const std::wstring& path) {
    win32::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return true;
    return ::GetLastError() == ERROR_SHARING_VIOLATION;
}

// A name past MAX_PATH (a temporary name beside a long desktop path, say)
// in the form the calls take up to the system's limit: full, with the
// \\?\ prefix. A name past that limit (32,767 characters with the prefix
// the system puts before it) stays as it came, for the call to refuse: Wine
// wraps such a name's length around to a short name at the root of C:.
std::wstring LongForm(const std::wstring& path) {
    constexpr std::size_t kLongestName = 32767, kSystemPrefix = 4;
    const bool drivePath = path.size() > 2 && path[1] == L':' && path[2] == L'\\';
    if (path.size() < MAX_PATH || !drivePath) return path;
    std::wstring full(::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
    const DWORD n = full.empty() ? 0 : ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    if (n == 0 || n >= full.size() || n + kSystemPrefix > kLongestName) return path;
    full.resize(n);
    return L"\\\\?\\" + full;
}

bool Failed(DWORD error) {
    ::SetLastError(error);
    return false;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The name itself: a link, not what it leads to.
win32::UniqueFile OpenName(const std::wstring& path, DWORD access) {
    return win32::UniqueFile(::CreateFileW(LongForm(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Closes the handle first, so that the code outlives it.
bool Refused(win32::UniqueFile& file, DWORD error) {
    file.reset();
    return Failed(error);
}

// A name that leads elsewhere: a symbolic link, a junction or another name
// surrogate. Other reparse points (a cloud file's placeholder in a synced
// Downloads folder, say) are the file itself and are copied as files.
bool IsLink(const std::wstring& path) {
    const DWORD attrs = ::GetFileAttributesW(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || !IsReparsePoint(attrs)) return false;
    const win32::UniqueFile file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                               FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (!file || ::GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof tag) == FALSE)
        return true;  // unknown: refused, as a link would be
    return IsReparseTagNameSurrogate(tag.ReparseTag) != 0;
}

}  // namespace

bool FileExists(const std::wstring& path) {
    const DWORD attrs = ::GetFileAttributesW(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_INVALID_NAME)
            return false;
        return ListedAsFile(path);
    }
    if (!IsReparsePoint(attrs)) return !IsDirectory(attrs);
    if (IsDirectory(attrs)) return false;
    return LinkTargetOpens(path);
}

bool DirectoryExists(const std::wstring& path) {
    const DWORD attrs = ::GetFileAttributesW(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) {
        switch (::GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_NOT_READY:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
            return false;
        default:
            return true;
        }
    }
    if (!IsReparsePoint(attrs)) return IsDirectory(attrs);
    win32::UniqueFile link(::CreateFileW(path.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return link && IsDirectory(attrs);
}

bool CreateDir(const std::wstring& path) { return ::CreateDirectoryW(path.c_str(), nullptr) != FALSE; }

// Without its access list the folder is not made: the default one would let
// every account of the machine replace the program.
bool CreateProgramDir(const std::wstring& path) {
    const win32::UniqueSecurity security = win32::ProgramFolderSecurity();
    if (!security) return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security.get(), FALSE};
    return ::CreateDirectoryW(path.c_str(), &attributes) != FALSE;
}

// Deleted through the handle of the name itself, and only where the name
// says it is. A plain folder opened so is never removed.
bool DeleteFile(const std::wstring& path) {
    win32::UniqueFile file = OpenName(path, DELETE | FILE_READ_ATTRIBUTES);
    const DWORD attrs = file ? win32::AttributesOf(file.get()) : INVALID_FILE_ATTRIBUTES;
    if (attrs == INVALID_FILE_ATTRIBUTES) return file ? Refused(file, ::GetLastError()) : false;
    if (IsDirectory(attrs) && !IsReparsePoint(attrs)) return Refused(file, ERROR_ACCESS_DENIED);
    if (!win32::InPlace(file.get(), path)) return Refused(file, kErrorReparsePointEncountered);
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition) != FALSE)
        return true;
    return Refused(file, ::GetLastError());
}

// Microsoft documents COPY_FILE_COPY_SYMLINK with COPY_FILE_FAIL_IF_EXISTS
// to fail on any link at the target; the flag would copy a source that is a
// link as a link, so such a source is refused.
bool CopyFileW(const std::wstring& source, const std::wstring& target, bool failIfExists) {
    if (IsLink(source)) return Failed(kErrorReparsePointEncountered);
    const DWORD flags = COPY_FILE_COPY_SYMLINK | (failIfExists ? COPY_FILE_FAIL_IF_EXISTS : 0);
    return ::CopyFileExW(source.c_str(), LongForm(target).c_str(), nullptr, nullptr, nullptr, flags) != FALSE;
}

// A scanner or an indexer may open the fresh file meanwhile: all sharing.
// The last call before the file is published, so its handle is checked to
// be where the name says: a link planted on the way would have the rename
// replace a file elsewhere.
bool FlushFile(const std::wstring& path) {
    win32::UniqueFile file(::CreateFileW(LongForm(path).c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    if (!win32::InPlace(file.get(), path)) return Refused(file, kErrorReparsePointEncountered);
    if (::FlushFileBuffers(file.get()) != FALSE) return true;
    const DWORD error = ::GetLastError();
    file.reset();
    return Failed(error);
}

// NTFS refuses to replace a read-only file and replaces a hidden one; a copy
// refused both, and so does this. A replace is refused while any handle is
// open on the target, a scanner's or an indexer's for a moment too: tried
// again a few times before it counts. MOVEFILE_WRITE_THROUGH is documented
// only for a move done as a copy and a delete, which a rename within one
// folder never is: nothing documented makes the rename itself durable.
// FlushFile, the call before, has checked where the temporary file is.
bool Publish(const std::wstring& from, const std::wstring& to, bool replace) {
    const std::wstring source = LongForm(from), target = LongForm(to);
    const DWORD attrs = ::GetFileAttributesW(target.c_str());
    if (replace && attrs != INVALID_FILE_ATTRIBUTES && (attrs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)))
        return Failed(ERROR_ACCESS_DENIED);
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    for (int attempt = 1;; ++attempt) {
        if (::MoveFileExW(source.c_str(), target.c_str(), flags) != FALSE) return true;
        const DWORD error = ::GetLastError();
        if (attempt == 5 || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)) return Failed(error);
        ::Sleep(100);
    }
}

// Asked after a replace was refused with access denied. A read-only or
// hidden file was refused for its attribute, which an open would not tell.
// Otherwise a holder that denies write or delete sharing, or a running
// program (its image is mapped), makes this open fail with a sharing
// violation; where it opens, the file's own rights allow the replace, so an
// open handle refused it. A file the user may not change fails with access
// denied: not in use. Opens and closes, changing nothing: no check of where
// the file is.
bool InUse(const std::wstring& path) {
    const std::wstring name = LongForm(path);
    const DWORD attrs = ::GetFileAttributesW(name.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN))) return false;
    const win32::UniqueFile file(::CreateFileW(name.c_str(), GENERIC_WRITE | DELETE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file || ::GetLastError() == ERROR_SHARING_VIOLATION;
}

bool IsReadFault(std::uint32_t code) {
    switch (code) {
    case ERROR_LOCK_VIOLATION:
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_SECTOR_NOT_FOUND:
        return true;
    default:
        return false;
    }
}

// The sharing CopyFileW asks for its source: another writer stops it. A
// link is refused as the copy refuses it.
bool OpensForReading(const std::wstring& path) {
    return !IsLink(path) && static_cast<bool>(win32::UniqueFile(::CreateFileW(path.c_str(), GENERIC_READ,
                                                             FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
}

// Only when there is an attribute to change is the name opened itself (a
// link keeps what it leads to as it was) and checked to be where it must be.
// The change then goes by name: Wine refuses FILE_WRITE_ATTRIBUTES on a
// read-only file, which Windows documents to allow.
bool MakeWritable(const std::wstring& path) {
    const std::wstring name = LongForm(path);
    const DWORD attrs = ::GetFileAttributesW(name.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) return false;
    if (!(attrs & FILE_ATTRIBUTE_READONLY)) return true;
    win32::UniqueFile file = OpenName(path, FILE_READ_ATTRIBUTES);
    const DWORD own = file ? win32::AttributesOf(file.get()) : INVALID_FILE_ATTRIBUTES;
    if (own == INVALID_FILE_ATTRIBUTES) return file ? Refused(file, ::GetLastError()) : false;
    if (!(own & FILE_ATTRIBUTE_READONLY)) return true;
    if (!win32::InPlace(file.get(), path)) return Refused(file, kErrorReparsePointEncountered);
    file.reset();
    return ::SetFileAttributesW(name.c_str(), own & ~FILE_ATTRIBUTE_READONLY) != FALSE;
}

// A volume without streams has no mark to drop. Only ever the mark of the
// temporary name this run has just made in a folder checked plain: the most
// a link swapped in could cost is the mark of a file of that other account.
bool DropZoneMark(const std::wstring& path) {
    const std::wstring stream = LongForm(path + L":Zone.Identifier");
    if (::DeleteFileW(stream.c_str()) != FALSE) return true;
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_NOT_SUPPORTED:
    case ERROR_FILENAME_EXCED_RANGE:
        return true;
    default:
        return false;
    }
}

std::uint32_t LastError() { return ::GetLastError(); }

// A language the system has no texts in fails with
// ERROR_RESOURCE_LANG_NOT_FOUND; the next one is tried.
std::wstring ErrorText(std::uint32_t code, std::uint16_t languageId) {
    constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
    for (const DWORD language :
         {DWORD{languageId}, static_cast<DWORD>(::GetUserDefaultUILanguage()), DWORD{0}}) {
        wchar_t* buffer = nullptr;
        const DWORD n = ::FormatMessageW(kFlags, nullptr, code, language, reinterpret_cast<wchar_t*>(&buffer), 0,
                                         nullptr);
        const win32::UniqueLocalText owned(buffer);
        if (n == 0) continue;
        std::wstring text(buffer, n);
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
            text.pop_back();
        return text;
    }
    wchar_t digits[16];
    return std::wstring(L"Error ") + ::_ultow(code, digits, 10);
}

struct RecordFile::Impl {
    win32::UniqueFile file;
};

RecordFile::RecordFile() : impl_(std::make_unique<Impl>()) {}
RecordFile::~RecordFile() = default;

void RecordFile::Assign(const std::wstring& name) { name_ = name; }

bool RecordFile::IsOpen() const { return static_cast<bool>(impl_->file); }

std::uint32_t RecordFile::Reset() {
    // Reading only: a read-only language file (from a disc, say) must open.
    HANDLE h = ::CreateFileW(name_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
    impl_->file.reset(h);
    return 0;
}

std::uint32_t RecordFile::Read(std::int32_t& record) {
    unsigned char bytes[4];
    DWORD got = 0;
    if (::ReadFile(impl_->file.get(), bytes, sizeof bytes, &got, nullptr) == FALSE)
        return ::GetLastError();
    if (got < sizeof bytes) return kErrorReadBeyondEnd;
    const std::uint32_t u = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                            (static_cast<std::uint32_t>(bytes[3]) << 24);
    record = static_cast<std::int32_t>(u);
    return 0;
}

std::uint32_t RecordFile::Close() {
    HANDLE h = impl_->file.release();
    if (h == INVALID_HANDLE_VALUE) return 0;
    return ::CloseHandle(h) != FALSE ? 0 : ::GetLastError();
}

}  // namespace fileops
