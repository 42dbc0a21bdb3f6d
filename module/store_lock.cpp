#include "module/store_lock.h"

#include "log/log.h"
#include "log/messages.h"
#include "module/module_objects.h"
#include "store/store_repair.h"

namespace dlmgr {

namespace {

void ReportTakeover() {
    const ThreadIdentity& holder = storeLock.AbandonedBy();
    Log(8, messages::kStoreLockTakenOver, static_cast<unsigned long>(holder.processId),
        static_cast<unsigned long>(holder.threadId));
}

void AfterEntering(LockResult result) {
    if (result != LockResult::kAbandoned) {
        CheckStore(false);
        return;
    }
    ReportTakeover();
    CheckStore(true);
}

}  // namespace

void CheckStore(bool thorough) noexcept {
    StoreBlock* block = moduleState.store();
    if (block == nullptr) return;
    StoreIntent* intent = moduleState.intent();
    if (!thorough && !StoreNeedsRepair(*block, intent)) return;
    // A takeover always makes hosts list again: one of them may have seen a
    // change that the dead holder never finished.
    if (RepairStore(*block, intent, userSettings, thorough) || thorough) {
        RaiseChangeCounters(block->header);
    }
}

OptexGuard LockStore() noexcept {
    const LockResult result = storeLock.Enter();
    OptexGuard guard(&storeLock, result);
    if (guard) AfterEntering(result);
    return guard;
}

OptexGuard LockStoreWithin(DWORD timeoutMs) noexcept {
    OptexGuard guard = storeLock.AcquireWithin(timeoutMs);
    if (guard) AfterEntering(guard.abandoned() ? LockResult::kAbandoned : LockResult::kAcquired);
    return guard;
}

bool EnterStore() noexcept {
    const LockResult result = storeLock.Enter();
    if (result == LockResult::kUnusable) return false;
    AfterEntering(result);
    return true;
}

}  // namespace dlmgr
