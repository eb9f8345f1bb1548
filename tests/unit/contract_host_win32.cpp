// The contract suite's host on Windows (and under Wine).
#include "tests/unit/contract_host.h"

#include <aclapi.h>

#include <stdexcept>

#include "platform/process.h"
#include "platform/win32/handles.h"

namespace contract {
namespace {

// Deep test folders pass MAX_PATH: the host reaches them in the form that has no limit.
std::wstring Deep(const std::wstring& path) { return path.size() < 240 ? path : L"\\\\?\\" + path; }

std::runtime_error Failed(const char* what) {
    return std::runtime_error(std::string(what) + " failed with error " + std::to_string(::GetLastError()));
}

void RemoveTree(const std::wstring& path) {
    ::SetFileAttributesW(Deep(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    const DWORD attrs = ::GetFileAttributesW(Deep(path).c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) &&
        !(attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW data;
        win32::UniqueFind find(::FindFirstFileW(Deep(path + L"\\*").c_str(), &data));
        if (find) {
            do {
                const std::wstring name = data.cFileName;
                if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
            } while (::FindNextFileW(find.get(), &data));
        }
    }
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY))
        ::RemoveDirectoryW(Deep(path).c_str());
    else
        ::DeleteFileW(Deep(path).c_str());
}

// The folder's listing denied to everyone for as long as this lives, then its
// own access control list put back. Both go through one handle opened first:
// Wine maps a DACL to the file's mode, and a folder nobody may list cannot be
// opened again by name to take the deny back.
class ListingDenied {
public:
    explicit ListingDenied(const std::wstring& folder)
        : dir_(::CreateFileW(folder.c_str(), READ_CONTROL | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE |
                             FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {
        if (!dir_ || ::GetSecurityInfo(dir_.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                       &original_, nullptr, &sd_) != ERROR_SUCCESS)
            return;
        EXPLICIT_ACCESSW ea{};
        ea.grfAccessPermissions = FILE_LIST_DIRECTORY | FILE_TRAVERSE;
        ea.grfAccessMode = DENY_ACCESS;
        ea.grfInheritance = NO_INHERITANCE;
        ea.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
        ea.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        wchar_t everyone[] = L"EVERYONE";
        ea.Trustee.ptstrName = everyone;
        PACL deny = nullptr;
        if (::SetEntriesInAclW(1, &ea, nullptr, &deny) != ERROR_SUCCESS) return;
        denied_ = ::SetSecurityInfo(dir_.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, deny,
                                    nullptr) == ERROR_SUCCESS;
        ::LocalFree(deny);
    }
    ~ListingDenied() {
        if (denied_)
            ::SetSecurityInfo(dir_.get(), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              original_, nullptr);
        ::LocalFree(sd_);
    }
    ListingDenied(const ListingDenied&) = delete;
    ListingDenied& operator=(const ListingDenied&) = delete;
    bool denied() const { return denied_; }

private:
    win32::UniqueFile dir_;
    PACL original_ = nullptr;
    PSECURITY_DESCRIPTOR sd_ = nullptr;
    bool denied_ = false;
};

}  // namespace

Folder::Folder() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) throw Failed("GetTempPathW");
    static unsigned counter = 0;
    for (;;) {
        path_ = std::wstring(temp) + L"contract-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter);
        if (::CreateDirectoryW(path_.c_str(), nullptr)) return;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) throw Failed("CreateDirectoryW");
    }
}

Folder::~Folder() { RemoveTree(path_); }

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    std::wstring windowsName = name;
    for (wchar_t& c : windowsName)
        if (c == L'/') c = L'\\';
    return folder + L"\\" + windowsName;
}

void Write(const std::wstring& path, const std::string& bytes) {
    win32::UniqueFile f(::CreateFileW(Deep(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
    DWORD written = 0;
    if (!f || !::WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        throw Failed("writing a test file");
}

std::string Read(const std::wstring& path) {
    win32::UniqueFile f(::CreateFileW(Deep(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string out;
    char buf[65536];
    DWORD got = 0;
    while (f && ::ReadFile(f.get(), buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
    return out;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(Deep(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

void MakeDir(const std::wstring& path) {
    if (!::CreateDirectoryW(Deep(path).c_str(), nullptr)) throw Failed("CreateDirectoryW");
}

void MakeReadOnly(const std::wstring& path) {
    if (!::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY)) throw Failed("SetFileAttributesW");
}

std::string MakeLink(const std::wstring& target, const std::wstring& link, bool directory) {
    using CreateSymbolicLinkFn = BOOLEAN(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
    const auto create = reinterpret_cast<CreateSymbolicLinkFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "CreateSymbolicLinkW")));
    if (!create) return "this system has no CreateSymbolicLinkW";
    constexpr DWORD kDirectory = 0x1, kUnprivileged = 0x2;
    if (!create(link.c_str(), target.c_str(), kUnprivileged | (directory ? kDirectory : 0)))
        return "CreateSymbolicLinkW failed with error " + std::to_string(::GetLastError()) +
               " (symbolic links need developer mode or the privilege to create them)";
    // Checked, not trusted: Wine's CreateSymbolicLinkW reports success and makes nothing.
    const DWORD attrs = ::GetFileAttributesW(link.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_REPARSE_POINT))
        return "CreateSymbolicLinkW reported success but no link is there (as under Wine, whose "
               "CreateSymbolicLinkW makes none)";
    return "";
}

const std::uint32_t kAccessDeniedHere = ERROR_ACCESS_DENIED;

std::string MakeHidden(const std::wstring& path) {
    if (!::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN)) return "SetFileAttributesW failed";
    const DWORD attrs = ::GetFileAttributesW(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_HIDDEN))
        return "the hidden attribute does not stay (Wine keeps it in an extended attribute, which this file "
               "system may lack)";
    return "";
}

// The handle is taken here, so it is held before the constructor returns.
struct ExclusiveHold::Impl {
    static DWORD WINAPI LetGoLater(void* self) noexcept {
        auto* impl = static_cast<Impl*>(self);
        ::Sleep(impl->ms);
        impl->file.reset();
        return 0;
    }
    win32::UniqueFile file;
    unsigned ms;
    win32::UniqueHandle thread;
};

ExclusiveHold::ExclusiveHold(const std::wstring& path, unsigned ms)
    : impl_(new Impl{win32::UniqueFile(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                                     FILE_ATTRIBUTE_NORMAL, nullptr)),
                     ms, {}}) {
    if (ms && impl_->file) impl_->thread.reset(::CreateThread(nullptr, 0, &Impl::LetGoLater, impl_.get(), 0, nullptr));
}
ExclusiveHold::~ExclusiveHold() {
    if (impl_->thread) ::WaitForSingleObject(impl_->thread.get(), INFINITE);
}
bool ExclusiveHold::held() const { return static_cast<bool>(impl_->file) || impl_->thread; }

struct LockPlace::Impl {
    win32::UniqueHandle squatter;
};

LockPlace::LockPlace() : impl_(new Impl) {}
LockPlace::~LockPlace() = default;

namespace {
const wchar_t kLockName[] = L"Global\\Orvo_Tool Setup";

// A thread that exits owning a mutex abandons it.
DWORD WINAPI TakeAndDie(void*) noexcept { return process::LockInstallation(); }

DWORD WINAPI TryLock(void*) noexcept {
    const win32::UniqueHandle lock(::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kLockName));
    if (!lock) return 0;
    const DWORD woken = ::WaitForSingleObject(lock.get(), 0);
    if (woken != WAIT_OBJECT_0 && woken != WAIT_ABANDONED_0) return 1;
    ::ReleaseMutex(lock.get());
    return 0;
}

DWORD OnThread(LPTHREAD_START_ROUTINE routine) {
    const win32::UniqueHandle thread(::CreateThread(nullptr, 0, routine, nullptr, 0, nullptr));
    DWORD code = ~DWORD{0};
    if (thread && ::WaitForSingleObject(thread.get(), INFINITE) == WAIT_OBJECT_0) ::GetExitCodeThread(thread.get(), &code);
    return code;
}
}  // namespace

std::string LockPlace::HolderDies() {
    const DWORD code = OnThread(&TakeAndDie);
    return code == 0 ? "" : "the holder could not take the lock: error " + std::to_string(code);
}

bool LockPlace::FreeElsewhere() { return OnThread(&TryLock) == 0; }

std::uint32_t LockPlace::Block() {
    impl_->squatter.reset(::CreateEventW(nullptr, TRUE, FALSE, kLockName));
    return ERROR_INVALID_HANDLE;
}

void LockPlace::Unblock() { impl_->squatter.reset(); }

// An explicit deny for everyone, checked to bite before the probe runs: Wine
// stores access control lists but does not enforce them.
int WithListingDenied(const std::wstring& folder, int (*probe)(const std::wstring&), std::string& reason) {
    ListingDenied denied(folder);
    if (!denied.denied()) {
        reason = "the folder's access control list cannot be set";
        return -1;
    }
    WIN32_FIND_DATAW data;
    win32::UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
    const DWORD error = find ? ERROR_SUCCESS : ::GetLastError();
    find.reset();
    const int result = error == ERROR_ACCESS_DENIED ? probe(folder) : -1;
    if (result < 0)
        reason = "a deny entry for listing does not bite on this system (Wine keeps access control lists "
                 "without enforcing them)";
    return result;
}

}  // namespace contract
