// What the store lock's shared blocks say, read without taking or changing
// the lock: who holds it, since when, who waits and how often it was taken
// over from a thread that died holding it.
#pragma once

#include <windows.h>

#include <string>

#include "store/task_store.h"

namespace dlmgrctl {

struct LockReport {
    bool inUse = false;  // some process has the lock's blocks mapped
    bool recorded = false;  // the thread records are there (a build that keeps them)
    long lockCount = 0;
    long spinCount = 0;
    long recursionCount = 0;
    long waiters = 0;  // announced threads besides the owner's levels
    long takeovers = 0;
    long possiblyLeft = 0;  // levels threads that died mid-step may have left counted
    DWORD ownerThreadId = 0;  // 0: free
    DWORD ownerProcessId = 0;  // 0: unknown
    std::string program;       // the owner's executable, when it can be asked
    bool ownerRuns = true;     // false: the owner thread is gone (the next waiter takes over)
    long heldForMs = -1;       // -1: unknown (no record names the owner)
    // Handles to the lock's block without one to its peers' event: users of
    // an earlier build or of another generation, which keep no thread records
    // of ours, or readers like this tool. While there are any, the
    // recoveries that need every user's records wait. -1: unknown.
    long usersWithoutRecords = -1;
    // Processes with live threads recorded by a released generation of the
    // lock's rules (1.0.0 to 1.3.0), which keep records of their own.
    long olderProcesses = 0;
};

// The report of the Optex of that name (the store's unless said).
LockReport ReadLockReport(const char* name);
inline LockReport ReadStoreLockReport() { return ReadLockReport(dlmgr::kStoreLockName); }

// The Optex's recovery mutex as the system has it, without taking it: "free",
// "held", "abandoned by a thread that ended" or "absent".
std::string DescribeRecoveryMutex(const char* lockName);

// Empty unless the recovery mutex was held at every look for a second, which
// a recovery never takes: then recovery from a holder that died goes on
// without it, a second later, and this says so, with the mutex's owner where
// the system tells it. Looks without taking it.
std::string RecoveryMutexKept(const char* lockName);

// True while a thread of that process waits for the store.
bool ProcessWaitsForStore(DWORD processId);

// "held by thread 56 of process 1234 C:\app.exe for 1.2 s", or "free".
std::string DescribeHolder(const LockReport& report);

}  // namespace dlmgrctl
