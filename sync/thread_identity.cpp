#include "sync/thread_identity.h"

#include "win/unique_resource.h"

namespace dlmgr {

namespace {

bool CreationTimeOf(HANDLE thread, std::uint64_t& creationTime) {
    FILETIME creation, exit, kernel, user;
    if (!::GetThreadTimes(thread, &creation, &exit, &kernel, &user)) return false;
    creationTime = (static_cast<std::uint64_t>(creation.dwHighDateTime) << 32) |
                   creation.dwLowDateTime;
    return true;
}

}  // namespace

ThreadIdentity CurrentThreadIdentity() noexcept {
    ThreadIdentity identity;
    identity.processId = ::GetCurrentProcessId();
    identity.threadId = ::GetCurrentThreadId();
    CreationTimeOf(::GetCurrentThread(), identity.creationTime);
    return identity;
}

bool IsProvenDead(const ThreadIdentity& identity) noexcept {
    if (identity.threadId == 0) return false;
    UniqueThread thread(::OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE,
                                     identity.threadId));
    // No thread has this id. Access denied means it exists and is not ours to see.
    if (!thread) return ::GetLastError() == ERROR_INVALID_PARAMETER;
    // Ended, its object kept by some handle.
    if (::WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0) return true;
    if (identity.processId != 0) {
        const DWORD processId = ::GetProcessIdOfThread(thread.get());
        if (processId != 0 && processId != identity.processId) return true;
    }
    std::uint64_t creationTime = 0;
    return identity.creationTime != 0 && CreationTimeOf(thread.get(), creationTime) &&
           creationTime != identity.creationTime;
}

}  // namespace dlmgr
