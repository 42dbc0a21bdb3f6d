// The operations that change the shared task table. They work on the block
// they are given and take no lock: every caller holds storeLock across a
// lookup and the change that depends on it.
#pragma once

#include "settings/settings_key.h"
#include "store/task_store.h"

namespace dlmgr {

class TaskTable {
public:
    // settings supplies MaxTaskCount, read anew at each addition.
    TaskTable(StoreBlock& block, const SettingsKey& settings) noexcept
        : block_(block), settings_(settings) {}

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

    std::uint32_t TaskCount() const noexcept { return block_.header.taskCount; }
    const TaskRecord& Record(int index) const noexcept { return block_.records[index]; }

private:
    bool InUse(int index) const noexcept {
        return index >= 0 && static_cast<std::uint32_t>(index) < block_.header.taskCount;
    }
    void CountChange(int status) noexcept { ++block_.header.timeStamp[CategoryOfStatus(status)]; }

    StoreBlock& block_;
    const SettingsKey& settings_;
};

}  // namespace dlmgr
