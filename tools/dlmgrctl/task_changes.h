// What changed between two snapshots of the task list, by id.
#pragma once

#include <string>
#include <vector>

#include "dlmgr.h"

namespace dlmgrctl {

struct TaskChange {
    enum Kind { kAdded, kRemoved, kChanged } kind;
    TaskRecord before;  // valid unless added
    TaskRecord after;   // valid unless removed
};

std::vector<TaskChange> DiffTasks(const std::vector<TaskRecord>& before,
                                  const std::vector<TaskRecord>& after);

// "added <id> paused C:\x", "removed <id> ...", "changed <id> running -> completed".
std::string DescribeChange(const TaskChange& change);

}  // namespace dlmgrctl
