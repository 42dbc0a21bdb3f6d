// An Optex's two shared blocks opened by name for writing, so that a test can
// leave the lock as a thread leaves it when it dies at a given step.
#pragma once

#include <string>

#include "sync/optex_shared.h"
#include "sync/optex_side.h"
#include "sync/thread_identity.h"
#include "win/unique_resource.h"

namespace dlmgr {
class Optex;
}

namespace dlmgr::test {

// A lock of that name as the tests use it: spin count 4000, on a machine of
// that many processors.
bool InitLock(Optex& lock, const std::string& name, DWORD processors = 2);
LONG LockCount(const Optex& lock);

class LockBlocks {
public:
    // Record index used for planted records: thread records fill from 0.
    static constexpr int kPlantedSlot = kOptexSlotCount - 1;

    // The lock must already exist (an Optex of that name is initialised).
    // Its peers' event is held open too, as a process of this build holds it
    // beside the shared block.
    explicit LockBlocks(const std::string& lockName);

    OptexShared& shared() { return *static_cast<OptexShared*>(sharedView_.get()); }
    OptexSideBlock& side() { return *static_cast<OptexSideBlock*>(sideView_.get()); }

    void SetShared(LONG lockCount, LONG ownerThreadId, LONG recursionCount);
    // A record for identity in state, last renewed ageMs ago; with life 0 it
    // is judged by its ids, as a record of an earlier build.
    void PlantRecord(const ThreadIdentity& identity, LONG state, DWORD ageMs = 60000,
                     int index = kPlantedSlot, LONG life = 0);
    // Every free record taken by identity, idle: as when every record is a
    // thread's that has not ended (identity of a running thread) or that
    // ended without giving it back.
    void FillFreeRecords(const ThreadIdentity& identity);
    // The index of the first record of a thread of process processId in state, or -1.
    int FindRecord(DWORD processId, LONG state);
    // The index of the record that names that thread, or -1.
    int FindRecordOf(DWORD threadId);

private:
    UniqueMapping sharedMapping_, sideMapping_;
    UniqueEvent peers_;
    UniqueView sharedView_, sideView_;
};

// The identity a thread had; the thread has ended and no handle keeps it.
ThreadIdentity EndedThreadIdentity();

}  // namespace dlmgr::test
