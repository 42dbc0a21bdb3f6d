#include "sync/optex_census.h"

#include "win/tick_count.h"

namespace dlmgr {

namespace {

struct SlotCopy {
    LONG threadId, processId, creationLow, creationHigh, state, tick;
};

SlotCopy Copy(const OptexThreadSlot& slot) {
    return {slot.threadId, slot.processId, slot.creationLow, slot.creationHigh, slot.state,
            slot.tick};
}

ThreadIdentity IdentityOf(const SlotCopy& slot) {
    ThreadIdentity identity;
    identity.processId = static_cast<DWORD>(slot.processId);
    identity.threadId = static_cast<DWORD>(slot.threadId);
    identity.creationTime = (static_cast<std::uint64_t>(static_cast<DWORD>(slot.creationHigh)) << 32) |
                            static_cast<DWORD>(slot.creationLow);
    return identity;
}

LONG AtLeastOne(LONG levels) { return levels > 0 ? levels : 1; }

// The most levels a dead thread may still hold, by the step its record shows.
LONG DeadShareAtMost(LONG state, bool namedOwner, LONG recursionCount) {
    if (!namedOwner) return 1;  // spinning, announcing, waiting, or between release steps
    switch (state) {
        case kSlotActive: return AtLeastOne(recursionCount);
        case kSlotReentering:
        case kSlotLeaving: return recursionCount + 1;
        default: return 1;
    }
}

// The levels a dead owner holds for sure.
LONG DeadOwnerShare(LONG state, LONG recursionCount) {
    return state == kSlotWaiting ? 1 : AtLeastOne(recursionCount);
}

}  // namespace

ThreadIdentity IdentityOf(const OptexThreadSlot& slot) { return IdentityOf(Copy(slot)); }

bool TakeCensus(const OptexShared& shared, const OptexSideBlock& side, const CensusTaker& taker,
                DWORD freshMs, OptexCensus& census) {
    census = OptexCensus();
    census.lockCount = shared.lockCount;
    census.ownerThreadId = shared.ownerThreadId;
    census.recursionCount = shared.recursionCount;
    SlotCopy slots[kOptexSlotCount];
    for (int i = 0; i < kOptexSlotCount; ++i) slots[i] = Copy(side.slots[i]);
    if (shared.lockCount != census.lockCount || shared.ownerThreadId != census.ownerThreadId) {
        return false;
    }

    const LONG owner = census.ownerThreadId;
    // Records with the owner's id describe the owner, unless the owner is the
    // taker: then they are earlier threads that had its id.
    const bool takerIsOwner = taker.owns && owner == taker.threadId;
    const DWORD now = TickCountNow();
    census.liveLevels = taker.levels;
    bool ownerHasRecord = false;
    for (int i = 0; i < kOptexSlotCount; ++i) {
        const SlotCopy& slot = slots[i];
        if (i == taker.slot || slot.threadId == 0 || slot.state == kSlotUnclaimed ||
            slot.state == kSlotIdle) {
            continue;
        }
        const bool namedOwner = owner != 0 && !takerIsOwner && slot.threadId == owner &&
                                MayOwn(slot.state);
        const bool freshWaiter = slot.state == kSlotWaiting && !namedOwner &&
                                 now - static_cast<DWORD>(slot.tick) < freshMs;
        ownerHasRecord = ownerHasRecord || namedOwner;
        if (freshWaiter || !IsProvenDead(IdentityOf(slot))) {
            if (namedOwner) {
                census.ownerAlive = true;
            } else if (slot.state == kSlotWaiting) {
                ++census.liveLevels;
            } else {
                census.liveThreadMidStep = true;
            }
            continue;
        }
        census.deadSlots[census.deadSlotCount++] = i;
        census.deadLevelsAtMost += DeadShareAtMost(slot.state, namedOwner, census.recursionCount);
        if (namedOwner && census.deadOwnerSlot < 0) {
            census.deadOwnerSlot = i;
            census.deadOwner = IdentityOf(slot);
            census.deadOwnerLevels = DeadOwnerShare(slot.state, census.recursionCount);
        }
    }

    if (owner == 0 || takerIsOwner || census.ownerAlive) {
        census.ownerAlive = census.ownerAlive || takerIsOwner;
        return true;
    }
    if (ownerHasRecord) {
        census.ownerDead = true;
        return true;
    }
    // No record names the owner: a thread of an earlier build, or one that had
    // no room for a record. Only its id is known. The taker's own id there,
    // while the taker waits, was left by an earlier thread with that id.
    census.deadOwner.threadId = static_cast<DWORD>(owner);
    if (owner != taker.threadId && !IsProvenDead(census.deadOwner)) {
        census.ownerAlive = true;
        return true;
    }
    census.ownerDead = true;
    census.deadOwnerLevels = AtLeastOne(census.recursionCount);
    census.deadLevelsAtMost += census.recursionCount + 1;
    return true;
}

}  // namespace dlmgr
