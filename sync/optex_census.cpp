#include "sync/optex_census.h"

#include "win/tick_count.h"

namespace dlmgr {

namespace {

struct SlotCopy {
    LONG threadId, processId, creationLow, creationHigh, state, tick, heldLevels;
};

SlotCopy Copy(const OptexThreadSlot& slot) {
    return {slot.threadId, slot.processId, slot.creationLow, slot.creationHigh,
            slot.state,    slot.tick,      slot.heldLevels};
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

bool InUse(const SlotCopy& slot) {
    return slot.threadId != 0 && slot.state != kSlotUnclaimed && slot.state != kSlotIdle;
}

LONG AtLeastOne(LONG levels) { return levels > 0 ? levels : 1; }

// Levels a dead thread that the owner field names surely holds, and may hold.
DeadRecord OwnerShare(int slot, LONG state, LONG recursionCount) {
    if (state == kSlotTrying || state == kSlotWaiting) return {slot, 1, 1};
    const LONG sure = AtLeastOne(recursionCount);
    const bool midStep = state == kSlotReentering || state == kSlotLeaving;
    return {slot, sure, midStep ? sure + 1 : sure};
}

// Levels a dead thread that the owner field does not name may hold.
DeadRecord OtherShare(int slot, const SlotCopy& record) {
    if (record.state == kSlotWaiting) return {slot, 1, 1};
    // An owner taken over by a recoverer that died before settling lockCount:
    // the note it left says how much that owner held.
    const bool formerOwner = record.state == kSlotOwning || record.state == kSlotReentering ||
                             record.state == kSlotLeaving;
    if (formerOwner && record.heldLevels > 0) return {slot, 0, record.heldLevels + 1};
    return {slot, 0, 1};  // between a write of its record and a locked step
}

template <typename Slots>
int FindRecord(const Slots& slots, int skip, LONG threadId, bool (*matches)(const SlotCopy&)) {
    for (int i = 0; i < kOptexSlotCount; ++i) {
        if (i != skip && slots[i].threadId == threadId && matches(slots[i])) return i;
    }
    return -1;
}

bool Owns(const SlotCopy& slot) { return slot.threadId != 0 && MayOwn(slot.state); }

}  // namespace

ThreadIdentity IdentityOf(const OptexThreadSlot& slot) { return IdentityOf(Copy(slot)); }

OwnerJudgement JudgeOwner(LONG owner, const OptexSideBlock& side, const CensusTaker& taker) {
    OwnerJudgement judgement;
    if (owner == 0) return judgement;
    SlotCopy slots[kOptexSlotCount];
    for (int i = 0; i < kOptexSlotCount; ++i) slots[i] = Copy(side.slots[i]);
    judgement.identity.threadId = static_cast<DWORD>(owner);
    judgement.state = OwnerState::kAlive;
    // The record of a thread that had the owner's id and may have owned.
    auto gone = [&]() {
        judgement.state = OwnerState::kGone;
        judgement.record = FindRecord(slots, taker.slot, owner, Owns);
        if (judgement.record >= 0) judgement.identity = IdentityOf(slots[judgement.record]);
        return judgement;
    };
    if (owner == taker.threadId) {
        // Our own id, while we wait: an earlier thread with our id left it.
        return taker.owns ? judgement : gone();
    }
    ThreadIdentity running;
    const ThreadLookup lookup = LookUpThread(static_cast<DWORD>(owner), running);
    if (lookup == ThreadLookup::kNone) return gone();
    if (lookup != ThreadLookup::kFound) return judgement;
    // A running thread has the id: only its own record can show that it is
    // not the owner. Without one (a thread of an earlier build) it may be.
    for (int i = 0; i < kOptexSlotCount; ++i) {
        const SlotCopy& slot = slots[i];
        if (slot.threadId != owner || slot.state == kSlotUnclaimed) continue;
        const ThreadIdentity identity = IdentityOf(slot);
        if (identity.processId != running.processId ||
            identity.creationTime != running.creationTime) {
            continue;
        }
        if (MayOwn(slot.state)) return judgement;
        // Not owning: the owner was an earlier thread with this id.
        judgement.state = OwnerState::kGone;
        for (int j = 0; j < kOptexSlotCount; ++j) {
            if (j != i && j != taker.slot && Owns(slots[j]) && slots[j].threadId == owner) {
                judgement.record = j;
                judgement.identity = IdentityOf(slots[j]);
                break;
            }
        }
        return judgement;
    }
    return judgement;
}

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

    census.owner = JudgeOwner(census.ownerThreadId, side, taker);
    if (census.owner.state == OwnerState::kGone) {
        const int record = census.owner.record;
        const DeadRecord share =
            record >= 0 ? OwnerShare(record, slots[record].state, census.recursionCount)
                        : DeadRecord{-1, AtLeastOne(census.recursionCount),
                                     census.recursionCount + 1};
        census.ownerLevels = share.sure;
        census.deadSure += share.sure;
        census.deadUncertain += share.atMost - share.sure;
        if (record >= 0) census.dead[census.deadCount++] = share;
    }

    const LONG owner = census.ownerThreadId;
    const DWORD now = TickCountNow();
    for (int i = 0; i < kOptexSlotCount; ++i) {
        const SlotCopy& slot = slots[i];
        if (i == taker.slot || i == census.owner.record || !InUse(slot)) continue;
        const bool freshWaiter =
            slot.state == kSlotWaiting && now - static_cast<DWORD>(slot.tick) < freshMs;
        if (freshWaiter || !IsProvenDead(IdentityOf(slot))) {
            if (slot.threadId == owner && MayOwn(slot.state)) continue;  // the owner itself
            if (slot.state == kSlotWaiting) {
                ++census.liveWaiters;
            } else {
                census.liveThreadMidStep = true;
            }
            continue;
        }
        const DeadRecord share = OtherShare(i, slot);
        census.dead[census.deadCount++] = share;
        census.deadSure += share.sure;
        census.deadUncertain += share.atMost - share.sure;
    }
    return true;
}

}  // namespace dlmgr
