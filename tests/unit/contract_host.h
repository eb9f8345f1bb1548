// What the file-operation contract suite needs from the system it runs on, so
// the same test sources run against the POSIX and the Win32 backend. Paths are
// the product's own (wide, Windows-style on Windows, host paths elsewhere).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace contract {

// `name` inside `folder`, with this system's separator.
std::wstring Join(const std::wstring& folder, const std::wstring& name);

// A fresh folder, removed with everything in it (read-only files too).
class Folder {
public:
    Folder();
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    std::wstring operator/(const std::wstring& name) const { return Join(path_, name); }

private:
    std::wstring path_;
};

void Write(const std::wstring& path, const std::string& bytes);
std::string Read(const std::wstring& path);
bool Exists(const std::wstring& path);  // anything at all, links not followed
void MakeDir(const std::wstring& path);
// The read-only attribute (on POSIX: no write permission for anyone).
void MakeReadOnly(const std::wstring& path);

// Each returns "" when done, or why this system cannot do it: the case that
// needs it is then skipped with that reason.
std::string MakeLink(const std::wstring& target, const std::wstring& link, bool directory);

// This system's code for access denied, as fileops::LastError gives it.
extern const std::uint32_t kAccessDeniedHere;

// The hidden attribute; "" when set, else why this system has none.
std::string MakeHidden(const std::wstring& path);

// Holds a file open without sharing for as long as it lives, or for `ms`
// milliseconds from its making, let go on a thread of its own.
class ExclusiveHold {
public:
    explicit ExclusiveHold(const std::wstring& path, unsigned ms = 0);
    ~ExclusiveHold();
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;
    bool held() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The machine's installation lock where a test may take it, for as long as
// this lives (on POSIX: a drive C: of its own).
class LockPlace {
public:
    LockPlace();
    ~LockPlace();
    LockPlace(const LockPlace&) = delete;
    LockPlace& operator=(const LockPlace&) = delete;
    // A holder takes the lock and dies without letting go: "" when done.
    std::string HolderDies();
    // True when another thread or process could take the lock at once.
    bool FreeElsewhere();
    // Makes the lock impossible to have until Unblock (another kind of
    // object takes its name; drive C: goes): the code taking it must give.
    std::uint32_t Block();
    void Unblock();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Runs `probe` where `folder` cannot be listed: its result (0..127), or -1
// with `reason` set when this system cannot deny the listing.
int WithListingDenied(const std::wstring& folder, int (*probe)(const std::wstring& folder), std::string& reason);

}  // namespace contract
