// The module's process-wide objects.
#pragma once

#include "settings/settings_key.h"
#include "store/store_intent.h"
#include "store/task_store.h"
#include "sync/optex.h"
#include "win/unique_resource.h"

namespace dlmgr {

// Made as static objects in this order, before the entry routine runs.
extern SettingsKey& machineSettings;
extern SettingsKey& userSettings;
extern Optex storeLock;  // destroyed by the static teardown, after detach

// What the attach routine opens. Detach closes the handles but keeps the view
// mapped: it holds the shared block for as long as this process runs, so a
// later load in any process does not purge a table this process still shows.
struct ModuleState {
    UniqueFile dataFile;
    UniqueMapping mapping;
    UniqueView storeView;
    // dlmgr.intent beside dlmgr.dat: the change of the table under way.
    UniqueFile intentFile;
    UniqueMapping intentMapping;
    UniqueView intentView;
    UniqueTlsSlot listingSlot;

    StoreBlock* store() const noexcept { return static_cast<StoreBlock*>(storeView.get()); }
    StoreIntent* intent() const noexcept { return static_cast<StoreIntent*>(intentView.get()); }
};

extern ModuleState moduleState;

}  // namespace dlmgr
