#include "tools/dlmgrctl/task_listing.h"

namespace dlmgrctl {

std::vector<TaskRecord> CopyTasks(int category) {
    const unsigned count = DM_GetTaskCount(category);
    // One spare record so the buffer is never empty: the copy must always be
    // made, as it is what unlocks the store.
    std::vector<TaskRecord> records(count + 1);
    if (!DM_GetTaskInfo(records.data())) return {};
    records.resize(count);
    return records;
}

}  // namespace dlmgrctl
