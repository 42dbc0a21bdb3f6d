// storeLock taken for the module's own work. The holder checks the table
// first: a change cut short by a death is completed and a damaged header
// repaired; after a takeover from a thread that died holding the store (logged
// at level 8), the whole table is checked and every host made to list again.
#pragma once

#include "sync/optex.h"

namespace dlmgr {

// Leaves the store when it goes out of scope; empty when storeLock is unusable.
OptexGuard LockStore() noexcept;

// LockStore for start-up, under the loader's lock: gives up (an empty guard)
// after timeoutMs rather than wait on a live holder for good.
OptexGuard LockStoreWithin(DWORD timeoutMs) noexcept;

// Takes the store and keeps it (the listing protocol leaves it later); false
// when storeLock is unusable.
bool EnterStore() noexcept;

// Checks the table held by the calling thread; thorough after a takeover or
// on the first mapping. Does nothing before the table is mapped.
void CheckStore(bool thorough) noexcept;

}  // namespace dlmgr
