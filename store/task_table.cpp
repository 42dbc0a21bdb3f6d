#include "store/task_table.h"

#include <cstring>

#include "log/log.h"
#include "log/messages.h"
#include "settings/settings_names.h"
#include "store/task_id.h"

namespace dlmgr {

int TaskTable::FindTask(const TaskId& id) const {
    if (LogEnabled(0)) {
        char text[kTaskIdTextSize];
        FormatTaskId(id, text);
        Log(0, messages::kLookupId, text);
    }
    int found = -1;
    const auto count = static_cast<int>(block_.header.taskCount);
    for (int i = 0; i < count; ++i) {
        if (SameTaskId(block_.records[i].id, id)) {
            found = i;
            break;
        }
    }
    Log(0, messages::kLookupResult, found);
    return found;
}

void TaskTable::TrimCompleted() {
    const auto maxTaskCount = settings_.GetDword(kMaxTaskCountValue, kDefaultMaxTaskCount);
    // Signed 32-bit arithmetic that wraps, as the setting is a signed number:
    // a negative maximum asks for more trimming, never less.
    auto excess = static_cast<std::int32_t>(block_.header.taskCount - maxTaskCount + 1u);
    int index = 0;
    while (excess > 0 && InUse(index)) {
        if (block_.records[index].status == DLMGR_STATUS_COMPLETED) {
            RemoveTask(index);
            --excess;
        } else {
            ++index;
        }
    }
}

bool TaskTable::AddTask(const TaskRecord& record) {
    TrimCompleted();
    if (block_.header.taskCount >= kMaxTasks) return false;
    CountChange(record.status);
    std::memcpy(&block_.records[block_.header.taskCount], &record, sizeof(TaskRecord));
    ++block_.header.taskCount;
    return true;
}

bool TaskTable::UpdateTask(int index, const TaskRecord& record) {
    if (!InUse(index) || !SameTaskId(block_.records[index].id, record.id)) return false;
    CountChange(block_.records[index].status);
    CountChange(record.status);
    std::memcpy(&block_.records[index], &record, sizeof(TaskRecord));
    return true;
}

bool TaskTable::RemoveTask(int index) {
    if (!InUse(index)) return false;
    CountChange(block_.records[index].status);
    const auto last = static_cast<int>(block_.header.taskCount) - 1;
    for (int i = index; i < last; ++i) {
        std::memcpy(&block_.records[i], &block_.records[i + 1], sizeof(TaskRecord));
    }
    --block_.header.taskCount;
    return true;
}

}  // namespace dlmgr
