// The exports' view of the process-wide store.
#pragma once

#include "module/module_objects.h"
#include "module/store_lock.h"
#include "store/task_table.h"

namespace dlmgr {

// Valid whenever an export runs: the loader refuses the module when attach
// could not map the store.
inline StoreBlock& SharedStore() noexcept { return *moduleState.store(); }

inline TaskTable SharedTaskTable() noexcept {
    return TaskTable(SharedStore(), userSettings, moduleState.intent());
}

}  // namespace dlmgr
