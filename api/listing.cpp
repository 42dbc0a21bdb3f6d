// Change counters and the two-call listing protocol: DM_GetTaskCount takes
// storeLock and DM_GetTaskInfo on the same thread leaves it, so the count a
// host sized its buffer by cannot change before the copy.
#include <cstring>

#include "api/export_boundary.h"
#include "api/store_access.h"
#include "dlmgr.h"
#include "module/thread_listing_state.h"

using namespace dlmgr;

namespace {

std::uint32_t CountCategory(const StoreBlock& store, int category) {
    std::uint32_t count = 0;
    const std::uint32_t inUse = TasksInUse(store.header);
    for (std::uint32_t i = 0; i < inUse; ++i) {
        if (CategoryOfStatus(store.records[i].status) == category) ++count;
    }
    return count;
}

}  // namespace

extern "C" unsigned int DLMGR_CALL DM_GetTimeStamp(int category) {
    // Without the store, so that a poll never waits for a host that holds
    // it: the counter is read as one word (see StoreHeader::timeStamp).
    return ExportBoundary(0u, [&]() -> unsigned int {
        const StoreBlock* store = moduleState.store();
        return store != nullptr ? ReadChangeCounter(store->header, ReduceCategory(category)) : 0u;
    });
}

extern "C" unsigned int DLMGR_CALL DM_GetTaskCount(int category) {
    return ExportBoundary(0u, [&]() -> unsigned int {
        ThreadListingState* state = CurrentListingState();
        if (state == nullptr) return 0u;
        // A second count before the copy keeps the one level it already
        // holds: the single DM_GetTaskInfo that follows must free the store.
        if (!state->pending) {
            if (!EnterStore()) return 0u;
            state->pending = true;
        }
        state->category = ReduceCategory(category);
        state->counted = CountCategory(SharedStore(), state->category);
        return state->counted;
    });
}

extern "C" DlmgrBool DLMGR_CALL DM_GetTaskInfo(TaskRecord* records) {
    return ExportBoundary<DlmgrBool>(0, [&]() -> DlmgrBool {
        ThreadListingState* state = CurrentListingState();
        if (state == nullptr || !state->pending) return 0;
        if (records != nullptr) {
            // Never more than was counted, even if this thread added tasks of
            // the category in between.
            // Each run of consecutive records of the category in one copy:
            // every other host waits for this copy to end.
            const StoreBlock& store = SharedStore();
            const std::uint32_t inUse = TasksInUse(store.header);
            std::uint32_t copied = 0;
            std::uint32_t i = 0;
            while (i < inUse && copied < state->counted) {
                if (CategoryOfStatus(store.records[i].status) != state->category) {
                    ++i;
                    continue;
                }
                const std::uint32_t first = i;
                while (i < inUse && copied + (i - first) < state->counted &&
                       CategoryOfStatus(store.records[i].status) == state->category) {
                    ++i;
                }
                std::memcpy(&records[copied], &store.records[first], (i - first) * sizeof(TaskRecord));
                copied += i - first;
            }
        }
        // A null buffer still ends the listing, so a host bug cannot keep
        // every process waiting on the store.
        state->pending = false;
        storeLock.Leave();
        return records != nullptr ? 1 : 0;
    });
}

extern "C" int DLMGR_CALL DM_GetLastError(void) { return 0; }
