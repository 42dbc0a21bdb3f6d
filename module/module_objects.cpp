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

struct StoreLockInitialiser {
    StoreLockInitialiser() {
        storeLock.Init(kStoreLockName, false, kStoreLockSpinCount);
        storeLock.SetWaitFailureHandler(LogStoreWaitFailure);
    }
} storeLockInitialiser;

}  // namespace

}  // namespace dlmgr
