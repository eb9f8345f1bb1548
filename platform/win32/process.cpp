#include "platform/process.h"
#include "platform/text.h"

#include <windows.h>

#include "platform/win32/handles.h"
#include "platform/win32/security.h"

namespace process {

std::wstring ExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return L"";
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring CurrentDirectory() {
    const DWORD need = ::GetCurrentDirectoryW(0, nullptr);
    if (need == 0) return L"";
    std::wstring path(need, L'\0');
    const DWORD n = ::GetCurrentDirectoryW(need, &path[0]);
    path.resize(n < need ? n : 0);
    return path;
}

namespace {

// Every account may wait on the lock and let go of it once held: a lock that
// another user's run created must still be waited on, not refused.
const wchar_t kInstallationLockSecurity[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;AU)";
const wchar_t kInstallationLockName[] = L"Global\\Orvo_Tool Setup";

win32::UniqueHandle CreateInstallationLock() {
    const win32::UniqueSecurity security = win32::SecurityFromSddl(kInstallationLockSecurity);
    if (!security) return {};
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security.get(), FALSE};
    return win32::UniqueHandle(
        ::CreateMutexExW(&attributes, kInstallationLockName, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE));
}

win32::UniqueHandle g_installationLock;

// Never 0, which would read as held.
std::uint32_t Refused() {
    const DWORD error = ::GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
}

}  // namespace

// The thread owns the main window: messages other programs send it (a
// broadcast, say) are answered while it waits, so none of them hangs on it.
// A holder that died without letting go abandoned the mutex: this run owns it
// then, and the plan makes every file whole again.
std::uint32_t LockInstallation() {
    win32::UniqueHandle lock = CreateInstallationLock();
    if (!lock) return Refused();
    HANDLE handle = lock.get();
    for (;;) {
        const DWORD woken = ::MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_SENDMESSAGE);
        if (woken == WAIT_OBJECT_0 || woken == WAIT_ABANDONED_0) break;
        if (woken != WAIT_OBJECT_0 + 1) return Refused();
        MSG message;
        ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    g_installationLock = std::move(lock);
    return 0;
}

void UnlockInstallation() {
    if (!g_installationLock) return;
    ::ReleaseMutex(g_installationLock.get());
    g_installationLock.reset();
}

}  // namespace process

namespace text {

std::wstring LowerCase(std::wstring s) {
    if (!s.empty()) ::CharLowerBuffW(&s[0], static_cast<DWORD>(s.size()));
    return s;
}

}  // namespace text
