// storeLock taken for the module's own work. A takeover from a thread that
// died holding the store is logged at level 8: the table may be half changed.
#pragma once

#include "sync/optex.h"

namespace dlmgr {

// Leaves the store when it goes out of scope; empty when storeLock is unusable.
OptexGuard LockStore() noexcept;

// Takes the store and keeps it (the listing protocol leaves it later); false
// when storeLock is unusable.
bool EnterStore() noexcept;

}  // namespace dlmgr
