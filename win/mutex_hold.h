// A named kernel mutex held by the calling thread from a successful wait to
// the end of the scope. A mutex abandoned by a thread that died holding it is
// held all the same: what it guards is left for the next holder to check.
#pragma once

#include <windows.h>

namespace dlmgr {

class MutexHold {
public:
    // Empty when the wait timed out or failed.
    MutexHold(HANDLE mutex, DWORD timeoutMs) noexcept {
        if (mutex == nullptr) return;
        const DWORD wait = ::WaitForSingleObject(mutex, timeoutMs);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) mutex_ = mutex;
    }
    MutexHold() noexcept = default;
    // Takes over a hold the thread already has (a wait on several objects took it).
    void Adopt(HANDLE mutex) noexcept {
        if (mutex_ != nullptr) ::ReleaseMutex(mutex_);
        mutex_ = mutex;
    }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;
    ~MutexHold() {
        if (mutex_ != nullptr) ::ReleaseMutex(mutex_);
    }
    explicit operator bool() const noexcept { return mutex_ != nullptr; }

private:
    HANDLE mutex_ = nullptr;
};

}  // namespace dlmgr
