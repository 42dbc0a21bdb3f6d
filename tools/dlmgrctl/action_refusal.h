// Why the module refused an action on a task, or could not start what the
// action starts, in dlmgrctl's words: read from the live table and the
// settings after the refusal (the module itself only logs it). dlmgrctl and
// the viewer say the same.
#pragma once

#include <string>

#include "dlmgr.h"

namespace dlmgrctl {

// action: "open", "resume", "again" or "delete".
std::string WhyActionFailed(const std::string& action, const TaskId& id);

}  // namespace dlmgrctl
