// Per-thread state that ties DM_GetTaskCount to the DM_GetTaskInfo after it.
#pragma once

#include <cstdint>

namespace dlmgr {

struct ThreadListingState {
    bool pending;            // between a count and its copy; storeLock is held meanwhile
    std::int32_t category;   // the category counted, 0 or 1
    std::uint32_t counted;   // what the count returned: the copy never writes more
};

// Heap state for the calling thread, made on first use for threads that
// existed before the load or whose attach could not allocate it. Null when
// there is no thread-local slot or no memory.
ThreadListingState* CurrentListingState() noexcept;

void AttachListingState() noexcept;
void DetachListingState() noexcept;

}  // namespace dlmgr
