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

bool LifeEnded(const char* lockName, LONG life) noexcept {
    char name[kLifeNameSize];
    if (life == 0 || !LifeName(name, lockName, life)) return false;
    UniqueMutex mutex(::OpenMutexA(SYNCHRONIZE, FALSE, name));
    // No handle left anywhere: the thread's process has ended (or the
    // thread gave its record back and closed it).
    if (!mutex) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    switch (::WaitForSingleObject(mutex.get(), 0)) {
        case WAIT_ABANDONED:
        case WAIT_OBJECT_0:
            // Owned by nobody: its thread ended, or let it go. Not ours to keep.
            ::ReleaseMutex(mutex.get());
            return true;
        default: return false;
    }
}

}  // namespace dlmgr
