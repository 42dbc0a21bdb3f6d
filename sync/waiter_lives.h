// The life mutexes of the threads that wait for a lock, kept open by whoever
// owns it: at a release with waiters, one kernel call tells whether any of
// them has died, so that its level is withdrawn at once rather than once its
// record has gone stale.
#pragma once

#include <windows.h>

#include "sync/optex_side.h"
#include "win/unique_resource.h"

namespace dlmgr {

class WaiterLives {
public:
    // True when the thread of a record that says it waits (Waiting, or
    // Claiming while it may take a wake-up alone) has ended; self is the
    // caller's record. Only the lock's owner calls it, so calls never overlap.
    bool AnyEnded(const OptexSideBlock& side, const OptexThreadSlot* self,
                  const char* lockName) noexcept;
    void Close() noexcept;

private:
    // Per record: the life opened for it, while the record names that life.
    UniqueMutex handles_[kOptexSlotCount];
    LONG lives_[kOptexSlotCount] = {};
};

}  // namespace dlmgr
