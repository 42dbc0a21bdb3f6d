// Who a thread is, in a form that survives the reuse of thread ids: its
// process, its id and its creation time.
#pragma once

#include <windows.h>

#include <cstdint>

namespace dlmgr {

struct ThreadIdentity {
    DWORD processId = 0;          // 0: unknown
    DWORD threadId = 0;
    std::uint64_t creationTime = 0;  // FILETIME as one number; 0: unknown
};

// The calling thread's identity. Asks the kernel: callers keep the result.
ThreadIdentity CurrentThreadIdentity() noexcept;

// True only when the thread is proven gone: no thread has that id any more,
// or the thread with that id has ended, or it runs in another process or was
// created at another time than recorded (a later thread given the same id).
// A thread that cannot be inspected, such as another user's, is never proven
// dead; neither is thread id 0.
bool IsProvenDead(const ThreadIdentity& identity) noexcept;

}  // namespace dlmgr
