// Acting on a task through the library, and why the library refused an
// action or could not start what it starts, in the tools' words: read from
// the live table and the settings after the refusal (the library itself only
// logs it). dlmgrctl and the viewer act and say the same.
#pragma once

#include <string>

#include "dlmgr.h"

namespace dlmgrctl {

// action: "open", "resume", "again" or "delete"; the library loaded first
// (LoadModuleForAChange). Empty when done; otherwise why not.
std::string PerformAction(const std::string& action, const TaskId& id);

// Why the library refused the task: the table is full, or its log may say.
std::string WhyRegistrationFailed();

}  // namespace dlmgrctl
