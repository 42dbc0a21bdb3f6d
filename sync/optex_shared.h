// The part of an Optex that lives in shared memory: every process that opens a
// lock of the same name sees the same 16 bytes.
#pragma once

#include <windows.h>

#include <cstddef>

namespace dlmgr {

struct OptexShared {
    // Extra attempts TryEnter makes before giving up. Written only through an
    // interlocked exchange (SetSpinCount), read plainly: a stale read only
    // changes how long one caller spins.
    volatile LONG spinCount;
    // Outstanding Enter levels: the owner's recursion plus one per announced
    // waiter; 0 means free. Changed only by interlocked operations, so it is the
    // single point of truth for who may take the lock.
    volatile LONG lockCount;
    // Owner's thread id, 0 when free. This build claims it by compare-exchange
    // from 0 (or, taking over a dead owner, from that owner's id) and clears
    // it by exchange; an earlier build writes it by exchange. Read plainly. A
    // thread comparing it with its own id also checks its own record
    // (OptexSideBlock): a dead thread with the same id may have left it.
    volatile LONG ownerThreadId;
    // Levels held by the owner. Read and written only by the owner.
    volatile LONG recursionCount;
};

static_assert(sizeof(OptexShared) == 16, "OptexShared is a fixed 16-byte shared layout");
static_assert(offsetof(OptexShared, spinCount) == 0, "layout");
static_assert(offsetof(OptexShared, lockCount) == 4, "layout");
static_assert(offsetof(OptexShared, ownerThreadId) == 8, "layout");
static_assert(offsetof(OptexShared, recursionCount) == 12, "layout");

}  // namespace dlmgr
