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

bool InUse(const SlotCopy& slot) {
    return slot.threadId != 0 && slot.state != kSlotUnclaimed && slot.state != kSlotIdle;
}

LONG AtLeastOne(LONG levels) { return levels > 0 ? levels : 1; }

// Levels a dead thread that the owner field names surely holds, and may hold.
DeadRecord OwnerShare(int slot, LONG state, LONG recursionCount) {
    if (state == kSlotReentering || state == kSlotLeaving) {
        return {slot, AtLeastOne(recursionCount), AtLeastOne(recursionCount) + 1};
    }
    if (state == kSlotOwning) return {slot, AtLeastOne(recursionCount), AtLeastOne(recursionCount)};
    return {slot, 1, 1};  // claiming, woken, or releasing before the owner field was cleared
}

// Levels a dead thread that the owner field does not name holds, and may hold.
DeadRecord OtherShare(int slot, const SlotCopy& record) {
    switch (record.state) {
        case kSlotWaiting:
        case kSlotClaiming: return {slot, 1, 1};
        case kSlotSignalling: return {slot, 0, 0};
        case kSlotOwning:
        case kSlotReentering:
        case kSlotLeaving:
            // An owner taken over by a recoverer that died before settling
            // lockCount: records are freed before their levels are withdrawn,
            // so the note it left is still owed.
            return {slot, record.heldLevels, record.heldLevels};
        default: return {slot, 0, 1};  // spinning, announcing, releasing: one step away
    }
}

bool Owns(const SlotCopy& slot) { return slot.threadId != 0 && MayOwn(slot.state); }

int FindOwning(const Slots& slots, int skip, LONG threadId) {
    for (int i = 0; i < kOptexSlotCount; ++i) {
        if (i != skip && slots[i].threadId == threadId && Owns(slots[i])) return i;
    }
    return -1;
}

OwnerJudgement Judge(LONG owner, const Slots& slots, const CensusTaker& taker) {
    OwnerJudgement judgement;
    if (owner == 0) return judgement;
    judgement.identity.threadId = static_cast<DWORD>(owner);
    judgement.state = OwnerState::kAlive;
    auto gone = [&](int record) {
        judgement.state = OwnerState::kGone;
        judgement.record = record;
        if (record >= 0) judgement.identity = IdentityOf(slots[record]);
        return judgement;
    };
    if (owner == taker.threadId) {
        // Our own id while we wait: an earlier thread with our id left it.
        return taker.owns ? judgement : gone(FindOwning(slots, taker.slot, owner));
    }
    ThreadIdentity running;
    const ThreadLookup lookup = LookUpThread(static_cast<DWORD>(owner), running);
    if (lookup == ThreadLookup::kNone) return gone(FindOwning(slots, taker.slot, owner));
    if (lookup == ThreadLookup::kUnknown) return judgement;
    int deadNamesake = -1;
    for (int i = 0; i < kOptexSlotCount; ++i) {
        const SlotCopy& slot = slots[i];
        if (slot.threadId != owner || !Owns(slot)) continue;
        const ThreadIdentity identity = IdentityOf(slot);
        const bool sameProcess = identity.processId == running.processId;
        const bool sameThread = sameProcess && (lookup == ThreadLookup::kFoundProcessOnly ||
                                                identity.creationTime == running.creationTime);
        // The running thread's own record says it may own, wherever it stands.
        if (sameThread) return judgement;
        // A thread with this id died owning; the one running now came later.
        if (deadNamesake < 0 && SurelyOwned(slot.state) &&
            (!sameProcess || lookup == ThreadLookup::kFound)) {
            deadNamesake = i;
        }
    }
    if (deadNamesake < 0) return judgement;
    judgement.namesakeRuns = true;
    return gone(deadNamesake);
}

}  // namespace

ThreadIdentity IdentityOf(const OptexThreadSlot& slot) { return IdentityOf(Copy(slot)); }

OwnerJudgement JudgeOwner(LONG owner, const OptexSideBlock& side, const CensusTaker& taker) {
    Slots slots;
    CopyAll(side, slots);
    return Judge(owner, slots, taker);
}

bool TakeCensus(const OptexShared& shared, const OptexSideBlock& side, const CensusTaker& taker,
                DWORD freshMs, OptexCensus& census) {
    census = OptexCensus();
    census.lockCount = shared.lockCount;
    census.ownerThreadId = shared.ownerThreadId;
    census.recursionCount = shared.recursionCount;
    Slots slots;
    CopyAll(side, slots);
    if (shared.lockCount != census.lockCount || shared.ownerThreadId != census.ownerThreadId) {
        return false;
    }

    census.owner = Judge(census.ownerThreadId, slots, taker);
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
    census.liveLevels = taker.owns ? census.recursionCount : 1;
    for (int i = 0; i < kOptexSlotCount; ++i) {
        const SlotCopy& slot = slots[i];
        if (i == taker.slot || i == census.owner.record || !InUse(slot)) continue;
        const bool freshWaiter =
            slot.state == kSlotWaiting && now - static_cast<DWORD>(slot.tick) < freshMs;
        if (freshWaiter || !IsProvenDead(IdentityOf(slot))) {
            if (slot.threadId == owner && MayOwn(slot.state)) continue;  // the owner itself
            if (slot.state == kSlotWaiting) {
                ++census.liveWaiters;
                ++census.liveLevels;
            } else {
                census.liveThreadMidStep = true;
            }
            continue;
        }
        const DeadRecord share = OtherShare(i, slot);
        census.dead[census.deadCount++] = share;
        census.deadSure += share.sure;
        census.deadUncertain += share.atMost - share.sure;
        census.deadInHandover = census.deadInHandover ||
                                slot.state == kSlotSpinning || slot.state == kSlotClaiming ||
                                slot.state == kSlotWaiting || slot.state == kSlotReleasing ||
                                slot.state == kSlotSignalling || slot.state == kSlotAnnouncing;
    }
    return true;
}

}  // namespace dlmgr
