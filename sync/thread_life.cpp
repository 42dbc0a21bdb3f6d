#include "sync/thread_life.h"

#include <cstring>

namespace dlmgr {

bool LifeNamePrefix(char (&out)[kLifeNameSize], const char* lockName) noexcept {
    // prefix, name, '_', room for eight hex digits and the terminator
    if (std::strlen(kLifePrefix) + std::strlen(lockName) + 10 > sizeof(out)) return false;
    ::wsprintfA(out, "%s%s_", kLifePrefix, lockName);
    return true;
}

namespace {

bool LifeName(char (&out)[kLifeNameSize], const char* lockName, LONG life) {
    if (!LifeNamePrefix(out, lockName)) return false;
    const size_t used = std::strlen(out);
    ::wsprintfA(out + used, "%08lX", static_cast<unsigned long>(life));
    return true;
}

}  // namespace

UniqueMutex CreateOwnedLife(const char* lockName, LONG life) noexcept {
    char name[kLifeNameSize];
    if (life == 0 || !LifeName(name, lockName, life)) return UniqueMutex();
    UniqueMutex mutex(::CreateMutexA(nullptr, TRUE, name));
    // A mutex of that name already there is not ours to stand for this life.
    if (mutex && ::GetLastError() == ERROR_ALREADY_EXISTS) mutex.reset();
    return mutex;
}

UniqueMutex OpenLife(const char* lockName, LONG life, bool& ended) noexcept {
    ended = false;
    char name[kLifeNameSize];
    if (life == 0 || !LifeName(name, lockName, life)) return UniqueMutex();
    UniqueMutex mutex(::OpenMutexA(SYNCHRONIZE, FALSE, name));
    // No handle left anywhere: the thread's process has ended (or the
    // thread gave its record back and closed it).
    if (!mutex) ended = ::GetLastError() == ERROR_FILE_NOT_FOUND;
    return mutex;
}

bool EndedByWait(HANDLE life, DWORD wait) noexcept {
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return false;
    // Owned by nobody: its thread ended, or let it go. Not ours to keep.
    ::ReleaseMutex(life);
    return true;
}

LifeState LifeOf(const char* lockName, LONG life) noexcept {
    bool ended = false;
    UniqueMutex mutex = OpenLife(lockName, life, ended);
    if (!mutex) return ended ? LifeState::kOver : LifeState::kUnknown;
    const DWORD wait = ::WaitForSingleObject(mutex.get(), 0);
    if (EndedByWait(mutex.get(), wait)) return LifeState::kOver;
    return wait == WAIT_TIMEOUT ? LifeState::kHeld : LifeState::kUnknown;
}

}  // namespace dlmgr
