// Who a thread is, in a form that survives the reuse of thread ids: its
// process, its id and its creation time.
#pragma once

#include <windows.h>

#include <cstdint>

namespace dlmgr {

struct ThreadIdentity {
    DWORD processId = 0;             // 0: unknown
    DWORD threadId = 0;
    std::uint64_t creationTime = 0;  // FILETIME as one number; 0: unknown
};

// The calling thread's identity. Asks the kernel: callers keep the result.
ThreadIdentity CurrentThreadIdentity() noexcept;

enum class ThreadLookup {
    kNone,       // no running thread has this id
    kFound,      // identity holds the running thread's process and creation time
    kFoundProcessOnly,  // not ours to inspect: identity holds its process only
    kUnknown,    // cannot be told
};

// The running thread that has this id now, if any.
ThreadLookup LookUpThread(DWORD threadId, ThreadIdentity& identity) noexcept;

// True only when the thread is proven gone: no running thread has that id, or
// the one that has it runs in another process or was created at another time
// than recorded (a later thread given the same id). Thread id 0 is never
// proven dead.
bool IsProvenDead(const ThreadIdentity& identity) noexcept;

}  // namespace dlmgr
