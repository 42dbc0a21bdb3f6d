#include "tools/dlmgrctl/task_changes.h"

#include <cstring>

#include "store/task_id.h"
#include "tools/dlmgrctl/task_text.h"

namespace dlmgrctl {

namespace {

const TaskRecord* FindById(const std::vector<TaskRecord>& records, const TaskId& id) {
    for (const auto& record : records) {
        if (dlmgr::SameTaskId(record.id, id)) return &record;
    }
    return nullptr;
}

}  // namespace

std::vector<TaskChange> DiffTasks(const std::vector<TaskRecord>& before,
                                  const std::vector<TaskRecord>& after) {
    std::vector<TaskChange> changes;
    for (const auto& old : before) {
        const TaskRecord* now = FindById(after, old.id);
        if (now == nullptr) {
            changes.push_back({TaskChange::kRemoved, old, {}});
        } else if (std::memcmp(&old, now, sizeof(TaskRecord)) != 0) {
            changes.push_back({TaskChange::kChanged, old, *now});
        }
    }
    for (const auto& now : after) {
        if (FindById(before, now.id) == nullptr) changes.push_back({TaskChange::kAdded, {}, now});
    }
    return changes;
}

std::string DescribeChange(const TaskChange& change) {
    switch (change.kind) {
        case TaskChange::kAdded:
            return "added   " + FormatId(change.after.id) + " " + StatusText(change.after.status) +
                   " " + ShownField(change.after.filePath, sizeof(change.after.filePath));
        case TaskChange::kRemoved:
            return "removed " + FormatId(change.before.id) + " " +
                   StatusText(change.before.status) + " " +
                   ShownField(change.before.filePath, sizeof(change.before.filePath));
        case TaskChange::kChanged:
        default:
            return "changed " + FormatId(change.after.id) + " " + StatusText(change.before.status) +
                   " -> " + StatusText(change.after.status);
    }
}

}  // namespace dlmgrctl
