#include "sync/optex_census.h"

#include "sync/thread_life.h"
#include "win/tick_count.h"

namespace dlmgr {

namespace {

// Each field is one aligned word: a copy reads every field whole, though the
// record may change between two fields.
struct SlotCopy {
    LONG threadId, processId, creationLow, creationHigh, state, tick, heldLevels, life;
};

SlotCopy Copy(const OptexThreadSlot& slot) {
    return {slot.threadId, slot.processId, slot.creationLow, slot.creationHigh,
            slot.state,    slot.tick,      slot.heldLevels,  slot.life};
}

using Slots = SlotCopy[kOptexSlotCount];

void CopyAll(const OptexSideBlock& side, Slots& slots) {
    for (int i = 0; i < kOptexSlotCount; ++i) slots[i] = Copy(side.slots[i]);
}

ThreadIdentity IdentityOf(const SlotCopy& slot) {
    ThreadIdentity identity;
    identity.processId = static_cast<DWORD>(slot.processId);
    identity.threadId = static_cast<DWORD>(slot.threadId);
    identity.creationTime =
        (static_cast<std::uint64_t>(static_cast<DWORD>(slot.creationHigh)) << 32) |
        static_cast<DWORD>(slot.creationLow);
    return identity;
}

bool Dead(const SlotCopy& slot, const char* lockName) {
    // A life's mutex that is held proves nothing: another program may have
    // waited on it and kept it when the thread ended. The thread's identity,
    // which nobody else can hold, decides then.
    if (slot.life != 0 && LifeOf(lockName, slot.life) == LifeState::kOver) return true;
    return IsProvenDead(IdentityOf(slot));
}

bool InUse(const SlotCopy& slot) {
    return slot.threadId != 0 && slot.state != kSlotUnclaimed && slot.state != kSlotIdle;
}

LONG AtLeastOne(LONG levels) { return levels > 0 ? levels : 1; }

// Levels a dead thread that the owner field names surely holds, and may hold.
DeadRecord OwnerShare(int slot, LONG state, LONG recursionCount, LONG heldLevels) {
    // Its announcement, and the dead owner's levels it noted.
    if (state == kSlotTakingOver) return {slot, heldLevels + 1, heldLevels + 1};
    if (state == kSlotReentering || state == kSlotLeaving) {
        return {slot, AtLeastOne(recursionCount), AtLeastOne(recursionCount) + 1};
    }
    if (state == kSlotOwning) return {slot, AtLeastOne(recursionCount), AtLeastOne(recursionCount)};
    return {slot, 1, 1};  // claiming, woken, or releasing before the owner field was cleared
}

// isDead(i): whether the thread of record i has ended, as far as the caller
// has asked the kernel.
template <typename IsDead>
OwnerJudgement Judge(LONG owner, const Slots& slots, const CensusTaker& taker, IsDead isDead) {
    OwnerJudgement judgement;
    if (owner == 0) return judgement;
    judgement.identity.threadId = static_cast<DWORD>(owner);
    judgement.state = OwnerState::kAlive;
    if (owner == taker.threadId && taker.owns) return judgement;
    // The records that say a thread with this id may own: a live one is the
    // owner; a dead one, preferably one that surely owned, stands for it.
    int deadRecord = -1;
    for (int i = 0; i < kOptexSlotCount; ++i) {
        const SlotCopy& slot = slots[i];
        if (i == taker.slot || slot.threadId != owner || !MayOwn(slot.state)) continue;
        if (!isDead(i)) {
            if (owner != taker.threadId) return judgement;
            continue;  // our own id on a live record: not ours, so not the owner's
        }
        if (deadRecord < 0 || (SurelyOwned(slot.state) && !SurelyOwned(slots[deadRecord].state))) {
            deadRecord = i;
        }
    }
    // No live record of that id may own: a thread with that id owns only if
    // it keeps no record (one of an earlier build, one that found none, or
    // the taker itself through a copy that keeps none), so while one runs,
    // and the taker does when it is its own id, the judgement holds only if
    // every peer keeps records (ActsOn).
    judgement.state = OwnerState::kGone;
    judgement.record = deadRecord;
    if (deadRecord >= 0) judgement.identity = IdentityOf(slots[deadRecord]);
    ThreadIdentity running;
    judgement.namesakeRuns = owner == taker.threadId ||
                             LookUpThread(static_cast<DWORD>(owner), running) != ThreadLookup::kNone;
    return judgement;
}

}  // namespace

DeadRecord OtherShare(int slot, LONG state, LONG heldLevels) {
    switch (state) {
        case kSlotWaiting:
        case kSlotClaiming:
        case kSlotTakingOver: return {slot, 1, 1};  // its announcement: the field does not name it
        case kSlotOwning:
        case kSlotReentering:
        case kSlotLeaving:
            // A taken-over owner whose recoverer noted its levels: records
            // are freed before their levels are withdrawn, so the note is owed.
            return {slot, heldLevels, heldLevels};
        case kSlotSpinning:
        case kSlotAnnouncing:
        case kSlotReleasing: return {slot, 0, 1};  // one step away from a level
        default: return {slot, 0, 0};              // idle, signalling
    }
}

bool RecordDead(const OptexThreadSlot& slot, const char* lockName) {
    return Dead(Copy(slot), lockName);
}

ThreadIdentity IdentityOf(const OptexThreadSlot& slot) { return IdentityOf(Copy(slot)); }

OwnerJudgement JudgeOwner(LONG owner, const OptexSideBlock& side, const CensusTaker& taker) {
    Slots slots;
    CopyAll(side, slots);
    return Judge(owner, slots, taker, [&](int i) { return Dead(slots[i], taker.lockName); });
}

bool TakeCensus(const OptexShared& shared, const OptexSideBlock& side, const CensusTaker& taker,
                DWORD freshMs, OptexCensus& census) {
    census = OptexCensus();
    // The first look: each record, and whether its thread has ended. A thread
    // proven dead here makes no step after the block is read below, so what
    // it left is in the count read; one that ends later is taken for alive.
    // A waiter that renewed its record lately is taken for alive without
    // asking (it renews it every wait slice): that only leaves its level to
    // a later census.
    Slots slots;
    bool dead[kOptexSlotCount] = {};
    const DWORD now = TickCountNow();
    for (int i = 0; i < kOptexSlotCount; ++i) {
        slots[i] = Copy(side.slots[i]);
        const SlotCopy& slot = slots[i];
        if (i == taker.slot || !InUse(slot)) continue;
        const bool freshWaiter =
            slot.state == kSlotWaiting && now - static_cast<DWORD>(slot.tick) < freshMs;
        dead[i] = !freshWaiter && Dead(slot, taker.lockName);
        // Read again: it may have moved on between the first read and its end.
        if (dead[i]) slots[i] = Copy(side.slots[i]);
    }
    census.lockCount = shared.lockCount;
    census.ownerThreadId = shared.ownerThreadId;
    census.recursionCount = shared.recursionCount;
    // The second look: every record as it was.
    census.snapshot = true;
    for (int i = 0; i < kOptexSlotCount; ++i) {
        if (side.slots[i].threadId != slots[i].threadId || side.slots[i].state != slots[i].state) {
            census.snapshot = false;
        }
    }
    if (shared.ownerThreadId != census.ownerThreadId) return false;

    census.owner = Judge(census.ownerThreadId, slots, taker, [&](int i) { return dead[i]; });
    if (census.owner.state == OwnerState::kGone) {
        const int record = census.owner.record;
        census.ownerShare = record >= 0
                                ? OwnerShare(record, slots[record].state, census.recursionCount,
                                             slots[record].heldLevels)
                                : DeadRecord{-1, AtLeastOne(census.recursionCount),
                                             census.recursionCount + 1};
        if (record >= 0) {
            census.dead[census.deadCount++] = census.ownerShare;
            census.deadSure += census.ownerShare.sure;
            census.deadAtMost += census.ownerShare.atMost;
            census.ownerKinSure += OtherShare(record, slots[record].state, slots[record].heldLevels).sure;
        }
    }

    const LONG owner = census.ownerThreadId;
    census.liveLevels = taker.owns ? census.recursionCount : 1;
    for (int i = 0; i < kOptexSlotCount; ++i) {
        const SlotCopy& slot = slots[i];
        if (i == taker.slot || i == census.owner.record || !InUse(slot)) continue;
        if (!dead[i]) {
            if (slot.threadId == owner && MayOwn(slot.state)) continue;  // the owner itself
            if (MidStep(slot.state)) {
                census.liveThreadMidStep = true;
            } else {
                ++census.liveLevels;
            }
            continue;
        }
        const DeadRecord share = OtherShare(i, slot.state, slot.heldLevels);
        census.dead[census.deadCount++] = share;
        census.deadSure += share.sure;
        census.deadAtMost += share.atMost;
        // Dead records of a gone owner's id may count levels of its hold.
        if (census.owner.state == OwnerState::kGone && slot.threadId == owner && MayOwn(slot.state)) {
            census.ownerKinSure += share.sure;
        }
    }
    return true;
}

}  // namespace dlmgr
