#include "module/thread_listing_state.h"

#include <windows.h>

#include "module/module_objects.h"

namespace dlmgr {

namespace {

ThreadListingState* AllocateState() noexcept {
    auto* state = static_cast<ThreadListingState*>(
        ::HeapAlloc(::GetProcessHeap(), 0, sizeof(ThreadListingState)));
    if (state != nullptr) {
        state->pending = false;
        state->category = 0;
        state->counted = 0;
    }
    return state;
}

}  // namespace

ThreadListingState* CurrentListingState() noexcept {
    if (!moduleState.listingSlot) return nullptr;
    const DWORD slot = moduleState.listingSlot.get();
    auto* state = static_cast<ThreadListingState*>(::TlsGetValue(slot));
    if (state == nullptr) {
        state = AllocateState();
        if (state != nullptr && !::TlsSetValue(slot, state)) {
            ::HeapFree(::GetProcessHeap(), 0, state);
            state = nullptr;
        }
    }
    return state;
}

// Without memory now, the listing functions try again on first use.
void AttachListingState() noexcept { CurrentListingState(); }

void DetachListingState() noexcept {
    if (!moduleState.listingSlot) return;
    auto* state = static_cast<ThreadListingState*>(::TlsGetValue(moduleState.listingSlot.get()));
    if (state != nullptr) {
        // A thread that ends between a count and its copy would otherwise
        // keep storeLock, and every process on the machine would wait forever.
        if (state->pending) storeLock.Leave();
        ::HeapFree(::GetProcessHeap(), 0, state);
        ::TlsSetValue(moduleState.listingSlot.get(), nullptr);
    }
}

}  // namespace dlmgr
