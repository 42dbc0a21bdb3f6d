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
// otherwise say the same. The holder's own record says since when it holds;
// without one, or with nobody holding, the waiter's wait is what is known.
void LogStoreHeldLong(const OptexLongWait& wait) {
    static volatile LONG told = -1;
    const auto thread = static_cast<LONG>(wait.holder.threadId);
    if (::InterlockedExchange(&told, thread) == thread) return;
    const auto waited = static_cast<unsigned long>(wait.waitedMs / 1000);
    if (wait.holder.threadId == 0) {
        char processes[96] = {};
        DWORD ids[8];
        const int count = storeLock.UnrecordedProcesses(ids, 8);
        for (int i = 0; i < count; ++i) {
            const size_t used = ::lstrlenA(processes);
            ::wsprintfA(processes + used, i == 0 ? "%lu" : ", %lu", static_cast<unsigned long>(ids[i]));
        }
        Log(8, messages::kStoreUnowned, static_cast<long>(wait.levels), waited,
            count == 0 ? "-" : processes);
    } else if (!wait.holderRecorded) {
        Log(8, messages::kStoreHeldWithoutRecord, static_cast<unsigned long>(wait.holder.threadId), waited);
    } else {
        const DWORD heldMs = wait.heldMs != 0 ? wait.heldMs : wait.waitedMs;
        Log(8, messages::kStoreHeldLong, static_cast<unsigned long>(wait.holder.processId),
            static_cast<unsigned long>(wait.holder.threadId), static_cast<unsigned long>(heldMs / 1000));
    }
}

void LogStoreLockFinding(OptexFinding finding) {
    switch (finding) {
        case OptexFinding::kEventNotAutoReset: Log(8, messages::kWakeUpEventNotAutoReset); break;
        case OptexFinding::kStrayWakeUps: Log(8, messages::kStrayWakeUps); break;
        case OptexFinding::kRecoveryMutexKept: Log(8, messages::kRecoveryMutexKept); break;
    }
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
        storeLock.SetFindingHandler(LogStoreLockFinding);
    }
} storeLockInitialiser;

}  // namespace

}  // namespace dlmgr
