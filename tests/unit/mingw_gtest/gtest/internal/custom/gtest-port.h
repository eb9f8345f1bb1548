// GoogleTest's hook for ports, found before its own for the MinGW build: the
// win32 thread model has no std::mutex, which GoogleTest's Notification uses.
// Notification serves only threads GoogleTest starts for its own tests; the
// contract suite starts none.
#pragma once

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { notified_ = true; }
    void WaitForNotification() {
        while (!notified_) {
        }
    }

private:
    std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing
