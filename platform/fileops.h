// File-system operations the installation relies on. Each has one exact
// meaning on every backend; the Windows error codes are the contract, so the
// POSIX backend reports errno as the nearest Windows code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace fileops {

constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorLockViolation = 33;
constexpr std::uint32_t kErrorReadBeyondEnd = 100;  // short record, not an OS code
constexpr std::uint32_t kErrorReparsePointEncountered = 4395;

// A folder of the two trees, as HoldFolder found it.
enum class FolderHold {
    Held,      // a plain folder, held
    Refused,   // a link, or there but not to be held; LastError() says which
    NotThere,  // missing, or no folder; LastError() is what a copy into it would get
};

// True for an existing object that is not a directory; follows links.
bool FileExists(const std::wstring& path);
// True for an existing directory; follows links. An error other than "not
// there" (access denied, say) counts as existing, so callers never try to
// create a folder they merely cannot see.
bool DirectoryExists(const std::wstring& path);
// Creates the last level only.
bool CreateDir(const std::wstring& path);
// As CreateDir, for a folder of programs: whatever the folder above allows,
// only SYSTEM, administrators and the installing user may change what it
// holds; every other account may read and run it (on POSIX: mode 0755).
// Without the user's SID the folder is not made, and the last error is why.
bool CreateProgramDir(const std::wstring& path);
// Deletes a file or a directory link (the name itself, never what a link
// leads to), never a plain directory; a read-only file stays. In a held
// folder only where that folder was held: else kErrorReparsePointEncountered.
bool DeleteFile(const std::wstring& path);
// Replaces an existing target unless failIfExists (a link there counts as
// existing); attributes and streams travel with the file; a read-only
// target makes the copy fail, and so does a source that is a link.
bool CopyFileW(const std::wstring& source, const std::wstring& target, bool failIfExists);
// True when the file opens for reading as a copy opens its source (a link
// does not).
bool OpensForReading(const std::wstring& path);
// Forces the file's data onto the disk (FlushFileBuffers; fsync), so that a
// power cut after it returns keeps what was written under the file's name.
// In a held folder, only a file that is where that folder was held: it is
// published next.
bool FlushFile(const std::wstring& path);
// Gives `from` the name `to` in one atomic step, a rename within one folder:
// `to` then names the old file or the new one, never a part of either. A
// power cut may undo the rename on Windows, where nothing documented makes
// it durable (MOVEFILE_WRITE_THROUGH is documented for moves done as a copy
// and a delete only); on POSIX the folder is flushed after it. With replace,
// a file at `to` gives way unless it is read-only or hidden (refused with
// access denied, as a copy refuses it); without, an existing `to` stays and
// the call fails.
bool Publish(const std::wstring& from, const std::wstring& to, bool replace);
// After a replace of `path` was refused with access denied: true when another
// process holds it (a running program, a file open in a viewer), false when
// the file's own attribute (read-only, hidden) or rights refused it.
bool InUse(const std::wstring& path);
// True for a failed copy's code that only reading its source can give: a
// byte-range lock, a read error, a source that shrank while it was copied.
bool IsReadFault(std::uint32_t code);
// Clears the read-only attribute of the name itself (on POSIX: gives the
// owner write permission), in a held folder only where it was held.
bool MakeWritable(const std::wstring& path);
// Removes the download's zone mark (the Zone.Identifier stream). True when no
// mark is left, or the volume keeps no streams. The read-only attribute
// covers every stream of a file, so a read-only file keeps its mark.
bool DropZoneMark(const std::wstring& path);

// Opens a folder of the trees and holds it until ReleaseFolders, sharing
// reads and writes but not delete, so that nobody renames or removes it
// meanwhile. A folder that is a link (junction, symbolic link) is refused:
// what it leads to is no folder of the trees. The names inside a held folder
// are then reached only where it was held.
FolderHold HoldFolder(const std::wstring& path);
// Through the held handle: false, with kErrorReparsePointEncountered, when
// the folder has become a link since it was held, as an empty folder can.
bool HeldFolderIsPlain(const std::wstring& path);
void ReleaseFolders();

// The system's own code for this thread's last failed operation (GetLastError
// on Windows, errno elsewhere); read it right after the call that failed.
std::uint32_t LastError();
// That code as the system words it, without a final line break: in the
// language `languageId` (a Windows LANGID) where the system has the text in
// it, else in the user's interface language.
std::wstring ErrorText(std::uint32_t code, std::uint16_t languageId);

// A file of 4-byte records, opened for reading only and sharing reads and
// writes. Every step returns 0 or the error code of its failure.
class RecordFile {
public:
    RecordFile();
    ~RecordFile();
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    void Assign(const std::wstring& name);
    std::uint32_t Reset();
    std::uint32_t Read(std::int32_t& record);
    std::uint32_t Close();
    bool IsOpen() const;

private:
    struct Impl;
    std::wstring name_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace fileops
