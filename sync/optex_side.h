// What the robust Optex keeps beside the 16-byte block that every build
// shares: one record per thread that uses the lock, saying who the thread is
// and how many levels of lockCount it may hold. With it a level can be traced
// to a thread, and a dead thread's levels withdrawn, without trusting a thread
// id that Windows may have given to another thread since: each record names
// its thread's life mutex (sync/thread_life.h). A build that does not know
// this block ignores it; the 16 bytes keep their meaning.
//
// The protocol is model-checked: sync/optex.pml mirrors it step for step,
// with these state names.
//
// Every object of the robust lock (this block, the recovery mutex, the
// peers' event, the lives, the per-process blocks) carries the generation of
// the rules in its name, and this block in its magic: any change of the rules
// is a new generation, so that a build never takes a thread of another one
// for a thread that follows its own rules. To this build, a thread of another
// generation keeps no record (sync/older_generations.h says what more it
// knows of the released ones).
//
// Fixed-width fields only: 32- and 64-bit processes map the same bytes.
#pragma once

#include <windows.h>

#include <cstddef>

namespace dlmgr {

// The generation of the lock's rules; tests/check_optex_generation.cmake
// keeps it honest against the model and the rules it names.
constexpr LONG kOptexGeneration = 4;
constexpr LONG kOptexSideMagic = 0x344F4D44;  // "DMO4": this layout, this generation
constexpr int kOptexSlotCount = 127;          // with the header, one 4 KiB page

// What a thread is doing with the lock, as far as lockCount is concerned.
// Written only by the thread itself, plainly (x86 keeps stores in order, and
// every step that changes lockCount is a locked instruction), except that a
// recoverer frees the record of a thread proven dead. Each locked step is
// bracketed by two states, so a thread that dies leaves its share known to
// within the one level that step may or may not have made.
enum OptexSlotState : LONG {
    kSlotUnclaimed = 0,   // free, or being claimed: the identity fields mean nothing yet
    kSlotIdle = 1,        // no level, nothing under way
    kSlotSpinning = 2,    // taking a free lock: no level, or 1 if its compare-exchange just succeeded
    // Counted: 1 level; claiming the owner field (also a waiter that has taken
    // a wake-up, from then until its one compare-exchange of the field).
    kSlotClaiming = 3,
    kSlotOwning = 4,      // named owner: recursionCount levels
    kSlotReentering = 5,  // owner adding a level: recursionCount, or one more
    kSlotLeaving = 6,     // owner giving one of several levels back: recursionCount, or one more
    // Giving its last level back: 1 level while the owner field names it,
    // then 1 or none until lockCount is decremented.
    kSlotReleasing = 7,
    kSlotSignalling = 8,  // released, no level; its wake-up not sent yet
    kSlotAnnouncing = 9,  // about to announce itself: no level, or 1
    // Announced: exactly 1 level; waiting for a wake-up (or for the end of
    // the owner's life), with no step under way.
    kSlotWaiting = 10,
    // Taking a dead owner's hold over: 1 level (its announcement) and, once
    // the owner field names it, the heldLevels it noted of the dead owner's.
    // Only the thread itself writes its record until it has won the field.
    kSlotTakingOver = 11,
};

// The threadId of a dead owner's record once a takeover noted its levels: it
// no longer stands for the owner field. Odd, so no thread has it (Windows
// gives threads multiples of 4).
constexpr LONG kTakenOverThreadId = -1;

struct OptexThreadSlot {
    // 0 when free; kTakenOverThreadId once taken over. Claimed and freed only
    // under the lock's recovery mutex.
    volatile LONG threadId;
    volatile LONG processId;
    // The thread's creation time: tells it from a later thread given the same id.
    volatile LONG creationLow;
    volatile LONG creationHigh;
    volatile LONG state;  // OptexSlotState
    // GetTickCount when the thread last went Active (for the owner: since when
    // it holds the lock) or last began a wait (a live waiter renews it every slice).
    volatile LONG tick;
    // In a record TakingOver: the dead owner's levels it takes over, in case
    // it dies before lockCount is settled. In a live owner's record: the
    // levels below its own on a hold of its id that a copy keeping no record
    // took (0: none). In a dead owner's record that was taken over: what
    // its note still owes (0 once the taker has withdrawn the hold).
    volatile LONG heldLevels;
    // The thread's life mutex (sync/thread_life.h); 0 when it has none (a
    // record of an earlier build): such a record is judged by its ids.
    volatile LONG life;
};

struct OptexSideBlock {
    volatile LONG magic;      // kOptexSideMagic once set; any other non-zero value: not ours, unused
    volatile LONG slotCount;  // kOptexSlotCount, for readers
    volatile LONG takeovers;  // locks taken over from dead holders, for diagnostics
    // Levels that threads which died between two steps may have left in
    // lockCount, once their records are gone, at most. Raised under the
    // recovery mutex before a dead record is freed, so the census never
    // loses count; an owner that can see every live thread's share settles
    // them exactly and clears it. While a thread keeps levels unrecorded (one
    // of an earlier build, or one with no record) they stay: withdrawing a
    // level such a waiter holds would leave it waiting for good.
    volatile LONG possiblePhantoms;
    volatile LONG lastLife;  // the last life given to a record: each claim takes the next
    // Moved (interlocked) by every claim of a lock nobody owns and every
    // takeover before it looks at the records: a waiter that took a wake-up
    // acts on it only if the epoch it read before its wait still stands, after
    // saying Claiming (see Optex::ActOnWakeUp).
    volatile LONG epoch;
    volatile LONG reserved[2];
    OptexThreadSlot slots[kOptexSlotCount];
};

static_assert(sizeof(OptexThreadSlot) == 32, "slot layout");
static_assert(offsetof(OptexThreadSlot, threadId) == 0, "slot layout");
static_assert(offsetof(OptexThreadSlot, processId) == 4, "slot layout");
static_assert(offsetof(OptexThreadSlot, creationLow) == 8, "slot layout");
static_assert(offsetof(OptexThreadSlot, creationHigh) == 12, "slot layout");
static_assert(offsetof(OptexThreadSlot, state) == 16, "slot layout");
static_assert(offsetof(OptexThreadSlot, tick) == 20, "slot layout");
static_assert(offsetof(OptexThreadSlot, heldLevels) == 24, "slot layout");
static_assert(offsetof(OptexThreadSlot, life) == 28, "slot layout");
static_assert(offsetof(OptexSideBlock, magic) == 0, "side layout");
static_assert(offsetof(OptexSideBlock, slotCount) == 4, "side layout");
static_assert(offsetof(OptexSideBlock, takeovers) == 8, "side layout");
static_assert(offsetof(OptexSideBlock, possiblePhantoms) == 12, "side layout");
static_assert(offsetof(OptexSideBlock, lastLife) == 16, "side layout");
static_assert(offsetof(OptexSideBlock, epoch) == 20, "side layout");
static_assert(offsetof(OptexSideBlock, slots) == 32, "side layout");
static_assert(sizeof(OptexSideBlock) == 4096, "side block is one page");

// States in which a thread owns the lock when the owner field names it.
inline bool MayOwn(LONG state) {
    return state == kSlotClaiming || state == kSlotOwning || state == kSlotReentering ||
           state == kSlotLeaving || state == kSlotReleasing || state == kSlotWaiting ||
           state == kSlotTakingOver;
}

// States in which a thread surely owned the lock: one that died in them took
// the lock with it, and the owner field cannot have moved on without a
// recoverer freeing the record.
inline bool SurelyOwned(LONG state) {
    return state == kSlotOwning || state == kSlotReentering || state == kSlotLeaving;
}

// States in which a live thread has a step to make that changes lockCount,
// the owner field or the event: its share of lockCount is not settled yet.
// (A thread TakingOver changes the field only from a dead owner's id: while
// the field does not name it, it is one waiting level.)
inline bool MidStep(LONG state) {
    return state != kSlotUnclaimed && state != kSlotIdle && state != kSlotWaiting &&
           state != kSlotTakingOver;
}

// States in which a dead thread surely held no level beyond the one step it
// was making: its record can be reused once what it may hold is counted. (A
// releaser that died before clearing the owner field is then judged by the
// field alone, with no record: its one level is withdrawn as surely held.)
inline bool ReusableWhenDead(LONG state) {
    return state == kSlotIdle || state == kSlotUnclaimed || state == kSlotSpinning ||
           state == kSlotAnnouncing || state == kSlotReleasing || state == kSlotSignalling;
}

}  // namespace dlmgr
