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

template <size_t Width>
bool FieldChanged(const char (&before)[Width], const char (&after)[Width]) {
    return std::memcmp(before, after, Width) != 0;
}

// Each field that differs, by name, with the status and the file path's old
// and new values.
std::string ChangedFields(const TaskChange& change) {
    const TaskRecord& before = change.before;
    const TaskRecord& after = change.after;
    std::string text;
    const auto add = [&](const std::string& field) { text += (text.empty() ? "" : ", ") + field; };
    if (before.status != after.status) {
        add("status " + StatusText(before.status) + " -> " + StatusText(after.status));
    }
    if (before.kind != after.kind) add(std::string("kind ") + KindName(before.kind) + " -> " + KindName(after.kind));
    if (FieldChanged(before.filePath, after.filePath)) {
        add("filePath " + ShownField(before.filePath, sizeof(before.filePath)) + " -> " +
            ShownField(after.filePath, sizeof(after.filePath)));
    }
    if (FieldChanged(before.torrentName, after.torrentName)) add("torrentName");
    if (FieldChanged(before.source, after.source)) add("source");
    if (std::memcmp(before.reserved, after.reserved, sizeof(before.reserved)) != 0) add("reserved");
    return text.empty() ? "registered again unchanged" : text;
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
            return "changed " + FormatId(change.after.id) + " " + ChangedFields(change);
    }
}

}  // namespace dlmgrctl
