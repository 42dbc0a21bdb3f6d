// A thread's life, as the kernel tells it: a named mutex that the thread
// creates owning it, once, and owns until it ends. Windows abandons a mutex
// whose owner ends, however it ends, and destroys it with the last handle,
// so whoever opens it by name learns for sure whether its thread is gone,
// whatever thread ids and creation times were reused since.
#pragma once

#include <windows.h>

#include "win/unique_resource.h"

namespace dlmgr {

// "Dlmgr_Optex4_Life_<lock name>_<life>": lives are numbered per lock, from 1.
constexpr char kLifePrefix[] = "Dlmgr_Optex4_Life_";
constexpr size_t kLifeNameSize = 140;

// "Dlmgr_Optex4_Life_<lock name>_": what every life of that lock's names
// start with. False when the lock's name leaves no room for a life's number.
bool LifeNamePrefix(char (&out)[kLifeNameSize], const char* lockName) noexcept;

// The calling thread's life mutex, owned by it; empty when it could not be
// made (the life is then unknown, and the record judged by ids).
UniqueMutex CreateOwnedLife(const char* lockName, LONG life) noexcept;

// The life's mutex, opened to be waited on; empty when it cannot be, with
// ended set when that is because no handle of it is left anywhere (its
// thread's process has ended, or the thread gave its record back).
UniqueMutex OpenLife(const char* lockName, LONG life, bool& ended) noexcept;

// A wait on a life's mutex returned it (abandoned or not): the life is over.
// The mutex, now the caller's, is let go at once, so that every other
// observer learns the same (while the caller holds it, it looks alive).
// True for those two results.
bool EndedByWait(HANDLE life, DWORD wait) noexcept;

enum class LifeState {
    kOver,  // its mutex is gone, abandoned or free: the thread has ended (or gave its record back)
    // Its mutex is held: by its thread, or by another program that waited on
    // it and got it when the thread ended. Only the thread's identity tells.
    kHeld,
    kUnknown,  // the mutex could not be opened or waited on
};

// The life as its mutex tells it; a mutex found free or abandoned is let go
// at once. Never call it for the calling thread's own life (it owns the
// mutex, so the wait would succeed).
LifeState LifeOf(const char* lockName, LONG life) noexcept;

}  // namespace dlmgr
