// Why the module refused an action, said in dlmgrctl's own words from the
// task's record and the settings: the module itself only logs it.
#pragma once

#include <string>

#include "dlmgr.h"

namespace dlmgrctl {

// What the settings allow, as dlmgrctl reads them.
struct ActionSettings {
    bool engineSet = false;   // DLEngine, in either key
    bool installSet = false;  // the machine key's default value
    std::string engine;       // DLEngine as the module reads it
    std::string installDir;   // the machine key's default value
    std::string torrentsDir;  // TorrentsDir, or empty
};

// Whether the program a command line starts can be found, as CreateProcess
// looks for it (an unquoted path may hold spaces).
bool ProgramFound(const std::string& commandLine);

// Why the shell would not open the file: it does not exist, or its type has
// no program. Empty when it would.
std::string WhyFileCannotBeOpened(const std::string& path);

// action: "open", "resume", "again" or "delete"; task: the record with the
// id, or null when there is none.
std::string WhyRefused(const std::string& action, const TaskRecord* task,
                       const ActionSettings& settings);

}  // namespace dlmgrctl
