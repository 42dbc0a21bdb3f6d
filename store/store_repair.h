// Brings a table that a death, or stray writes by another process, may have
// left damaged back to a valid one. Run by whoever holds storeLock.
#pragma once

#include "settings/settings_key.h"
#include "store/store_intent.h"
#include "store/task_store.h"

namespace dlmgr {

// Cheap enough for every hold: an interrupted change to complete, a header
// that is not a table's, or a count beyond the table.
bool StoreNeedsRepair(const StoreBlock& block, const StoreIntent* intent) noexcept;

// Completes an interrupted change, initialises a header whose magic is not 2
// or whose count is beyond the table, and, when thorough (after a takeover or
// on the first mapping), removes the later of two records with one id. Each
// repair is logged at level 8. True when anything was repaired.
bool RepairStore(StoreBlock& block, StoreIntent* intent, const SettingsKey& settings,
                 bool thorough);

// Makes every host list again.
void RaiseChangeCounters(StoreHeader& header) noexcept;

}  // namespace dlmgr
