// Who holds the levels counted in lockCount, as the thread records beside the
// shared block tell it. Taken under the lock's recovery mutex: by a waiter
// deciding whether the lock was abandoned, and by the owner deciding whether
// dead waiters left their announcements behind.
//
// A thread that died between writing its record and the locked step that
// changes lockCount leaves its share known only within one level, and a
// thread of an earlier build keeps no record at all. Recovery therefore only
// ever withdraws what dead threads surely hold; what they may hold besides
// stays counted (the lock stays correct, only slower).
#pragma once

#include <windows.h>

#include "sync/optex_shared.h"
#include "sync/optex_side.h"
#include "sync/thread_identity.h"

namespace dlmgr {

// The thread taking the census.
struct CensusTaker {
    LONG threadId;
    int slot;   // its record, or -1 when it has none
    bool owns;  // it holds the lock (recursionCount levels); otherwise it waits (1 level)
};

enum class OwnerState {
    kNone,   // the owner field is 0
    kAlive,  // names a running thread that may own the lock, or one that cannot be told
    kGone,   // names a thread proven gone, or one proven not to own the lock
};

struct OwnerJudgement {
    OwnerState state = OwnerState::kNone;
    int record = -1;          // the gone owner's record, when it kept one
    ThreadIdentity identity;  // who the gone owner was, as far as known
    // Gone, though a thread with its id runs: sure only when no thread
    // keeps levels without a record.
    bool namesakeRuns = false;
};

// Judges the thread the owner field names, from the records as read. Gone
// when no thread runs with its id, when it is our own id while we wait, or
// when a dead thread with its id died surely owning (and the running one has
// no record saying it owns); a running thread with its id is otherwise taken
// for the owner.
OwnerJudgement JudgeOwner(LONG owner, const OptexSideBlock& side, const CensusTaker& taker);

struct DeadRecord {
    int slot;
    LONG sure;    // levels it surely holds
    LONG atMost;  // levels it may hold
};

struct OptexCensus {
    LONG lockCount = 0;
    LONG ownerThreadId = 0;
    LONG recursionCount = 0;
    OwnerJudgement owner;
    LONG ownerLevels = 0;  // a gone owner's sure levels (also counted in deadSure)

    LONG liveWaiters = 0;  // recorded running waiters besides the taker, one level each
    // A running thread other than the owner is between two steps: its share
    // is not known yet, so nothing can be settled now.
    bool liveThreadMidStep = false;

    DeadRecord dead[kOptexSlotCount] = {};
    int deadCount = 0;
    LONG deadSure = 0;       // what dead threads surely hold, the gone owner included
    LONG deadUncertain = 0;  // what they may hold besides
    // A thread died between handing the lock over and its wake-up being
    // used (announcing, waiting, claiming, releasing or signalling): the sign
    // that a lock nobody owns was abandoned rather than held up.
    bool deadInHandover = false;

    // Levels neither a running thread's record nor a dead one's accounts
    // for: a thread of an earlier build may hold them.
    LONG Unexplained() const { return lockCount - liveLevels - deadSure - deadUncertain; }
    LONG liveLevels = 0;  // the taker's and the recorded running waiters'
};

// Reads both blocks, then asks the kernel about each thread whose share
// matters. A waiter whose record was renewed less than freshMs ago is taken
// to be alive without asking (it renews it every wait slice). False when
// lockCount or the owner changed while the records were read.
bool TakeCensus(const OptexShared& shared, const OptexSideBlock& side, const CensusTaker& taker,
                DWORD freshMs, OptexCensus& census);

ThreadIdentity IdentityOf(const OptexThreadSlot& slot);

}  // namespace dlmgr
