#include "tools/dlmgrctl/refusal_reason.h"

#include "api/command_line_text.h"
#include "api/task_rules.h"
#include "tools/dlmgrctl/task_text.h"

namespace dlmgrctl {

namespace {

std::string TaskIs(const TaskRecord& task) {
    return std::string("task is ") + StatusName(task.status) + " (status " +
           std::to_string(task.status) + "); ";
}

// Reasons an engine or torrent task's program cannot be started.
std::string WhyNoProgram(const std::string& action, const TaskRecord& task,
                         const ActionSettings& settings) {
    if (dlmgr::IsEngineTask(task)) {
        if (!settings.engineSet) {
            return "no DLEngine setting in either key (dlmgrctl config set DLEngine COMMAND)";
        }
        if (action == "resume" && dlmgr::HoldsQuote(task.filePath, sizeof(task.filePath))) {
            return "its file path holds a quotation mark, which would bend the engine's command line";
        }
        if (action == "again" && !dlmgr::IsOneWord(task.source, sizeof(task.source))) {
            return "its source holds a quotation mark, space, tab or control character, which "
                   "would add options to the engine's command line";
        }
    } else if (dlmgr::IsTorrentTask(task)) {
        if (!settings.installSet) {
            return "no installation folder: the machine key's default value is not set "
                   "(dlmgrctl config set default FOLDER)";
        }
        if (dlmgr::HoldsQuote(task.torrentName, sizeof(task.torrentName))) {
            return "its torrent name holds a quotation mark, which would bend the client's "
                   "command line";
        }
    } else {
        return "kind " + std::to_string(task.kind) +
               " has no program (engine tasks are kind 0, torrent tasks kind 1)";
    }
    return "";
}

}  // namespace

std::string WhyRefused(const std::string& action, const TaskRecord* task,
                       const ActionSettings& settings) {
    if (task == nullptr) return "no task has this id";
    std::string reason;
    if (action == "open" && !dlmgr::CanOpen(*task)) {
        reason = TaskIs(*task) + "only a completed task's file can be opened";
    } else if (action == "resume" && !dlmgr::CanResume(*task)) {
        reason = TaskIs(*task) + "only a paused task can be resumed";
    } else if (action == "again" && !dlmgr::CanDownloadAgain(*task)) {
        reason = TaskIs(*task) + "only a completed or stopped task can be downloaded again";
    } else if (action == "delete" && !dlmgr::CanDelete(*task)) {
        reason = TaskIs(*task) + "a running task cannot be deleted";
    } else if (action == "resume" || action == "again") {
        reason = WhyNoProgram(action, *task, settings);
    }
    return reason.empty() ? "the module refused; its log may say why (dlmgrctl log)" : reason;
}

}  // namespace dlmgrctl
