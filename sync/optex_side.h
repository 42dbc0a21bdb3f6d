// What the robust Optex keeps beside the 16-byte block that every build
// shares: one record per thread that uses the lock, saying who the thread is
// and how many levels of lockCount it may hold. With it a level can be traced
// to a thread, and a dead thread's levels withdrawn, without trusting a thread
// id that Windows may have given to another thread since. A build that does
// not know this block ignores it; the 16 bytes keep their meaning.
//
// Fixed-width fields only: 32- and 64-bit processes map the same bytes.
#pragma once

#include <windows.h>

#include <cstddef>

namespace dlmgr {

constexpr LONG kOptexSideMagic = 0x314F4D44;  // "DMO1": this layout
constexpr int kOptexSlotCount = 127;          // with the header, one 4 KiB page

// What a thread is doing with the lock, as far as lockCount is concerned.
// Written only by the thread itself, plainly (x86 keeps stores in order, and
// every step that changes lockCount is a locked instruction), except that a
// recoverer rewrites the record of a thread proven dead.
enum OptexSlotState : LONG {
    kSlotUnclaimed = 0,  // free: the identity fields mean nothing
    kSlotIdle = 1,       // no level
    // Set before the compare-exchange of the free lock and kept while owning:
    // 0 or 1 level until the owner field names the thread, then recursionCount
    // (at least 1).
    kSlotActive = 2,
    kSlotReentering = 3,  // owner adding a level: recursionCount, or one more
    kSlotLeaving = 4,     // owner giving one of several levels back: recursionCount, or one more
    kSlotAnnouncing = 5,  // about to announce itself: 0 or 1 level
    kSlotWaiting = 6,     // announced, exactly 1 level (also just after a wake, until it owns)
};

struct OptexThreadSlot {
    // 0 when free. Claimed and freed only under the lock's recovery mutex.
    volatile LONG threadId;
    volatile LONG processId;
    // The thread's creation time: tells it from a later thread given the same id.
    volatile LONG creationLow;
    volatile LONG creationHigh;
    volatile LONG state;  // OptexSlotState
    // GetTickCount when the thread last went Active (for the owner: since when
    // it holds the lock) or last began a wait (a live waiter renews it every slice).
    volatile LONG tick;
    volatile LONG reserved[2];
};

struct OptexSideBlock {
    volatile LONG magic;      // kOptexSideMagic once set; any other non-zero value: not ours, unused
    volatile LONG slotCount;  // kOptexSlotCount, for readers
    volatile LONG takeovers;  // abandoned locks taken over, for diagnostics
    // Set when a takeover could not account for every level (a thread of an
    // earlier build was involved): the next owner recounts.
    volatile LONG recount;
    volatile LONG reserved[4];
    OptexThreadSlot slots[kOptexSlotCount];
};

static_assert(sizeof(OptexThreadSlot) == 32, "slot layout");
static_assert(offsetof(OptexThreadSlot, threadId) == 0, "slot layout");
static_assert(offsetof(OptexThreadSlot, processId) == 4, "slot layout");
static_assert(offsetof(OptexThreadSlot, creationLow) == 8, "slot layout");
static_assert(offsetof(OptexThreadSlot, creationHigh) == 12, "slot layout");
static_assert(offsetof(OptexThreadSlot, state) == 16, "slot layout");
static_assert(offsetof(OptexThreadSlot, tick) == 20, "slot layout");
static_assert(offsetof(OptexSideBlock, magic) == 0, "side layout");
static_assert(offsetof(OptexSideBlock, slotCount) == 4, "side layout");
static_assert(offsetof(OptexSideBlock, takeovers) == 8, "side layout");
static_assert(offsetof(OptexSideBlock, recount) == 12, "side layout");
static_assert(offsetof(OptexSideBlock, slots) == 32, "side layout");
static_assert(sizeof(OptexSideBlock) == 4096, "side block is one page");

// States in which a thread may own the lock once the owner field names it.
inline bool MayOwn(LONG state) {
    return state == kSlotActive || state == kSlotReentering || state == kSlotLeaving ||
           state == kSlotWaiting;
}

}  // namespace dlmgr
