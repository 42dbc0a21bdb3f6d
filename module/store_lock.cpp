#include "module/store_lock.h"

#include "log/log.h"
#include "log/messages.h"
#include "module/module_objects.h"

namespace dlmgr {

namespace {

void ReportTakeover() {
    const ThreadIdentity& holder = storeLock.AbandonedBy();
    Log(8, messages::kStoreLockTakenOver, static_cast<unsigned long>(holder.processId),
        static_cast<unsigned long>(holder.threadId));
}

}  // namespace

OptexGuard LockStore() noexcept {
    OptexGuard guard = storeLock.Acquire();
    if (guard.abandoned()) ReportTakeover();
    return guard;
}

bool EnterStore() noexcept {
    const LockResult result = storeLock.Enter();
    if (result == LockResult::kAbandoned) ReportTakeover();
    return result != LockResult::kUnusable;
}

}  // namespace dlmgr
