#include "module/module_objects.h"

#include "log/log.h"
#include "log/messages.h"
#include "module/never_destroyed.h"
#include "settings/settings_names.h"

namespace dlmgr {

namespace {

NeverDestroyed<SettingsKey> machineKey(HKEY_LOCAL_MACHINE, kSettingsKeyPath, nullptr);
NeverDestroyed<SettingsKey> userKey(HKEY_CURRENT_USER, kSettingsKeyPath, &machineKey.get());

}  // namespace

SettingsKey& machineSettings = machineKey.get();
SettingsKey& userSettings = userKey.get();
Optex storeLock;
ModuleState moduleState;

namespace {

// Initialises storeLock right after it is constructed; its destructor is the
// Destroy that the static teardown runs. The attach routine checks the result.
void LogStoreWaitFailure(DWORD error) { Log(8, messages::kStoreWaitFailed, error); }

// Once per holder in this process: every waiter of a stuck holder would
// otherwise say the same.
void LogStoreHeldLong(const ThreadIdentity& holder, DWORD waitedMs) {
    static volatile LONG told = 0;
    const auto thread = static_cast<LONG>(holder.threadId);
    if (::InterlockedExchange(&told, thread) == thread) return;
    Log(8, messages::kStoreHeldLong, static_cast<unsigned long>(holder.processId),
        static_cast<unsigned long>(holder.threadId), static_cast<unsigned long>(waitedMs / 1000));
}

void LogStoreLockRepaired(LONG lockCount, LONG recursionCount) {
    Log(8, messages::kStoreLockRepaired, static_cast<long>(lockCount),
        static_cast<long>(recursionCount));
}

struct StoreLockInitialiser {
    StoreLockInitialiser() {
        storeLock.Init(kStoreLockName, false, kStoreLockSpinCount);
        storeLock.SetWaitFailureHandler(LogStoreWaitFailure);
        storeLock.SetLongWaitHandler(LogStoreHeldLong);
        storeLock.SetRepairHandler(LogStoreLockRepaired);
    }
} storeLockInitialiser;

}  // namespace

}  // namespace dlmgr
