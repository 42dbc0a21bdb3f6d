// The operations that change the shared task table. They work on the block
// they are given and take no lock: every caller holds storeLock across a
// lookup and the change that depends on it.
//
// A change that moves or overwrites records is first written down in the
// StoreIntent, when there is one, so that a death in the middle of it can be
// completed later (CompleteInterruptedChange). taskCount is never trusted
// beyond 512: another process may have written anything into the block.
#pragma once

#include "settings/settings_key.h"
#include "store/store_intent.h"
#include "store/task_store.h"

namespace dlmgr {

class TaskTable {
public:
    // settings supplies MaxTaskCount, read anew at each addition. Without an
    // intent, changes are made directly.
    TaskTable(StoreBlock& block, const SettingsKey& settings, StoreIntent* intent = nullptr) noexcept
        : block_(block), settings_(settings), intent_(intent) {}

    // Index of the first record with this id, or -1.
    int FindTask(const TaskId& id) const;
    // Removes the oldest completed tasks until, with one more, at most
    // MaxTaskCount remain (as far as completed tasks allow).
    void TrimCompleted();
    // Trims, then appends; false when 512 records are still in use.
    bool AddTask(const TaskRecord& record);
    // Replaces slot index; false when it is not in use or holds another id.
    bool UpdateTask(int index, const TaskRecord& record);
    // Removes slot index, closing the gap; false when it is not in use.
    bool RemoveTask(int index);

    // Records in use: taskCount, never more than the table holds.
    std::uint32_t TaskCount() const noexcept;
    const TaskRecord& Record(int index) const noexcept { return block_.records[index]; }

private:
    bool InUse(int index) const noexcept {
        return index >= 0 && static_cast<std::uint32_t>(index) < TaskCount();
    }
    // After the change is written: see StoreHeader::timeStamp.
    void CountChange(int status) noexcept {
        AnnounceChange(block_.header, CategoryOfStatus(status));
    }

    StoreBlock& block_;
    const SettingsKey& settings_;
    StoreIntent* intent_;
};

enum class IntentOutcome {
    kNone,       // no change was under way
    kCompleted,  // the change was finished
    kDropped,    // the table does not hold the records the change began on: left as it is
};

// Finishes the change the intent describes, if one was under way and the
// table still holds the exact records it began on, and clears it.
IntentOutcome CompleteInterruptedChange(StoreBlock& block, StoreIntent& intent);

// The compiler keeps stores to the shared block in program order across this
// point; x86 keeps them in that order for other processors, so a process that
// dies between two such stores never leaves the second one done alone.
void KeepStoreOrder() noexcept;

}  // namespace dlmgr
