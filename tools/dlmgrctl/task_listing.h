// Copies a category out of the shared table with the two-call protocol.
#pragma once

#include <vector>

#include "dlmgr.h"

namespace dlmgrctl {

std::vector<TaskRecord> CopyTasks(int category);

}  // namespace dlmgrctl
