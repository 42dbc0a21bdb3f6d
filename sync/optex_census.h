// Who holds the levels counted in lockCount, as the thread records beside the
// shared block tell it. Taken under the lock's recovery mutex: by a waiter
// deciding whether the lock was abandoned, and by the owner deciding whether
// dead waiters left their announcements behind.
//
// A dead thread's share can only be bounded (it may have died between writing
// its record and the locked step that changes lockCount), so recovery never
// subtracts a dead thread's levels: it sets lockCount to what the running
// threads hold, which is exact once none of them is between two steps.
#pragma once

#include <windows.h>

#include "sync/optex_shared.h"
#include "sync/optex_side.h"
#include "sync/thread_identity.h"

namespace dlmgr {

// The thread taking the census, which knows its own share.
struct CensusTaker {
    LONG threadId;
    int slot;     // its record, or -1 when it has none
    LONG levels;  // 1 for a waiter (its announcement), recursionCount for the owner
    bool owns;
};

struct OptexCensus {
    LONG lockCount = 0;
    LONG ownerThreadId = 0;
    LONG recursionCount = 0;

    // Levels of running threads, the taker's own included.
    LONG liveLevels = 0;
    // The most that threads proven dead may still hold.
    LONG deadLevelsAtMost = 0;
    // A running thread other than the owner is between two steps (spinning,
    // announcing): its share is not known yet.
    bool liveThreadMidStep = false;

    // The owner field names a running thread, or one that cannot be inspected.
    bool ownerAlive = false;
    // The owner field names a thread proven dead (or an earlier thread with
    // the taker's own id): who it was, the levels it surely holds, its record.
    bool ownerDead = false;
    ThreadIdentity deadOwner;
    LONG deadOwnerLevels = 0;
    int deadOwnerSlot = -1;

    int deadSlots[kOptexSlotCount] = {};
    int deadSlotCount = 0;

    // Every level belongs to a running thread or may belong to a dead one, so
    // lockCount can be set to liveLevels without withdrawing the announcement
    // of a thread that keeps no record (one of an earlier build).
    bool Explained() const { return lockCount - liveLevels <= deadLevelsAtMost; }
};

// Reads both blocks, then asks the kernel about each thread whose share
// matters. A waiter whose record was renewed less than freshMs ago is taken to
// be alive without asking (it renews it every wait slice). False when
// lockCount or the owner changed while the records were read.
bool TakeCensus(const OptexShared& shared, const OptexSideBlock& side, const CensusTaker& taker,
                DWORD freshMs, OptexCensus& census);

ThreadIdentity IdentityOf(const OptexThreadSlot& slot);

}  // namespace dlmgr
