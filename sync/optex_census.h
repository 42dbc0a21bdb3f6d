// Who holds the levels counted in lockCount, as the thread records beside the
// shared block tell it. Taken under the lock's recovery mutex: by a waiter
// deciding whether the lock was abandoned, and by the owner settling what
// dead threads left behind.
//
// A thread that died between writing its record and the locked step that
// changes lockCount leaves its share known only within one level, and a
// thread of an earlier build keeps no record at all. What dead threads
// surely hold can always be withdrawn; the rest only when every live
// thread's share is known (OptexCensus::snapshot, liveThreadMidStep), and
// then exactly: lockCount less what live threads hold.
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
    const char* lockName;  // names its peers' life mutexes
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

// Judges the thread the owner field names, from the records as read: alive
// while a live thread's record of that id says it may own (or the taker
// owns); otherwise gone, with namesakeRuns when a thread of that id runs
// (the taker, when it is its own id), which could own only by keeping no
// record.
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
    // A gone owner's levels, surely and at most (also counted in deadSure
    // and deadAtMost when it kept a record).
    DeadRecord ownerShare = {-1, 0, 0};
    // What the gone owner's id's dead records that may own (its own among
    // them) surely count once the owner field no longer names it: levels of
    // the hold itself (a first level by the fast path, a guest's note), or
    // of a waiter of that id.
    LONG ownerKinSure = 0;

    // The taker's levels and those of recorded running waiters, one each.
    LONG liveLevels = 0;
    // A running thread other than the owner is between two steps: its share
    // is not known yet.
    bool liveThreadMidStep = false;
    // Every record read the same before and after lockCount was read: with
    // no live thread between two steps, lockCount less liveLevels is exactly
    // what dead threads left.
    bool snapshot = false;

    DeadRecord dead[kOptexSlotCount] = {};
    int deadCount = 0;
    LONG deadSure = 0;    // what dead threads' records surely hold
    LONG deadAtMost = 0;  // what they may hold
};

// Reads each record and asks the kernel whether its thread has ended, then
// reads the shared block, then the records again: a thread found dead before
// the block was read left in it all it will ever leave. A waiter whose
// record was renewed less than freshMs ago is taken to be alive without
// asking (it renews it every wait slice); the owner settling passes 0, so
// that a waiter that died lately is found at once. False when the owner
// changed meanwhile.
bool TakeCensus(const OptexShared& shared, const OptexSideBlock& side, const CensusTaker& taker,
                DWORD freshMs, OptexCensus& census);

// Levels a dead thread whose record is in that state holds, the owner field
// not naming it (heldLevels: a taken-over owner's note).
DeadRecord OtherShare(int slot, LONG state, LONG heldLevels);

// Whether the thread of a record is proven gone: by its life mutex when it
// has one, otherwise by its ids.
bool RecordDead(const OptexThreadSlot& slot, const char* lockName);

ThreadIdentity IdentityOf(const OptexThreadSlot& slot);

}  // namespace dlmgr
