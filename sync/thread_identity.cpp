#include "sync/thread_identity.h"

#include <tlhelp32.h>

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

// For a thread we may not open (another user's): the system's list of
// threads still tells whether it exists and in which process. Listing every
// thread is costly, so a process does it at most twice a second.
ThreadLookup LookUpInSnapshot(DWORD threadId, ThreadIdentity& identity) {
    static volatile LONG lastSnapshot = 0;
    const auto now = static_cast<LONG>(::GetTickCount());
    const LONG last = lastSnapshot;
    if (now - last < 500 && last != 0) return ThreadLookup::kUnknown;
    ::InterlockedExchange(&lastSnapshot, now);
    UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return ThreadLookup::kUnknown;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more;
         more = ::Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32ThreadID == threadId) {
            identity.processId = entry.th32OwnerProcessID;
            return ThreadLookup::kFoundProcessOnly;
        }
    }
    return ThreadLookup::kNone;
}

}  // namespace

ThreadIdentity CurrentThreadIdentity() noexcept {
    ThreadIdentity identity;
    identity.processId = ::GetCurrentProcessId();
    identity.threadId = ::GetCurrentThreadId();
    CreationTimeOf(::GetCurrentThread(), identity.creationTime);
    return identity;
}

ThreadLookup LookUpThread(DWORD threadId, ThreadIdentity& identity) noexcept {
    identity = ThreadIdentity();
    identity.threadId = threadId;
    if (threadId == 0) return ThreadLookup::kUnknown;
    UniqueThread thread(::OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE,
                                     threadId));
    if (!thread) {
        return ::GetLastError() == ERROR_INVALID_PARAMETER ? ThreadLookup::kNone
                                                           : LookUpInSnapshot(threadId, identity);
    }
    // Ended, its object kept by some handle.
    if (::WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0) return ThreadLookup::kNone;
    identity.processId = ::GetProcessIdOfThread(thread.get());
    if (identity.processId == 0) return ThreadLookup::kUnknown;
    return CreationTimeOf(thread.get(), identity.creationTime) ? ThreadLookup::kFound
                                                               : ThreadLookup::kFoundProcessOnly;
}

bool IsProvenDead(const ThreadIdentity& identity) noexcept {
    ThreadIdentity running;
    switch (LookUpThread(identity.threadId, running)) {
        case ThreadLookup::kNone: return identity.threadId != 0;
        case ThreadLookup::kFound:
            return (identity.processId != 0 && running.processId != identity.processId) ||
                   (identity.creationTime != 0 && running.creationTime != identity.creationTime);
        case ThreadLookup::kFoundProcessOnly:
            return identity.processId != 0 && running.processId != identity.processId;
        case ThreadLookup::kUnknown: return false;
    }
    return false;
}

}  // namespace dlmgr
