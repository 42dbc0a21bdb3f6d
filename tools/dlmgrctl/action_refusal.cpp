#include "tools/dlmgrctl/action_refusal.h"

#include <cstring>
#include <optional>

#include "api/task_rules.h"
#include "tools/dlmgrctl/refusal_reason.h"
#include "tools/dlmgrctl/settings_view.h"
#include "tools/dlmgrctl/store_inspection.h"
#include "tools/dlmgrctl/task_listing.h"
#include "tools/dlmgrctl/task_text.h"

namespace dlmgrctl {

namespace {

std::optional<TaskRecord> FindTask(const TaskId& id) {
    std::optional<TaskRecord> task;
    for (int category : {DLMGR_CATEGORY_RUNNING, DLMGR_CATEGORY_STOPPED}) {
        for (const TaskRecord& record : CopyTasks(category)) {
            if (std::memcmp(&record.id, &id, sizeof(id)) == 0) task = record;
        }
    }
    return task;
}

// Why the library refused the action on the task.
std::string WhyActionFailed(const std::string& action, const TaskId& id) {
    const std::optional<TaskRecord> task = FindTask(id);
    ActionSettings settings;
    const SettingValue engine = ReadSetting(*FindSetting("DLEngine"));
    const SettingValue install = ReadSetting(*FindSetting("default"));
    settings.engineSet = engine.source != SettingSource::kNone;
    settings.installSet = install.source != SettingSource::kNone;
    settings.engine = engine.text;
    settings.installDir = install.text;
    settings.torrentsDir = ReadSetting(*FindSetting("TorrentsDir")).text;
    return WhyRefused(action, task ? &*task : nullptr, settings);
}

}  // namespace

std::string PerformAction(const std::string& action, const TaskId& id) {
    DlmgrBool done = 0;
    if (action == "open") {
        // The library asks the shell with no options, and the shell answers a
        // missing file, or one no program opens, with a modal message box on
        // the calling thread: a console or a script would wait until someone
        // clicks. Such a file is refused here first.
        const std::optional<TaskRecord> task = FindTask(id);
        if (task && dlmgr::CanOpen(*task)) {
            const std::string why = WhyFileCannotBeOpened(FieldString(task->filePath, sizeof(task->filePath)));
            if (!why.empty()) return why;
        }
        done = DM_OpenTaskFile(&id);
    } else if (action == "resume") {
        done = DM_ResumeTask(&id);
    } else if (action == "again") {
        done = DM_DownloadAgain(&id);
    } else {
        done = DM_DeleteTask(&id);
    }
    return done ? "" : WhyActionFailed(action, id);
}

std::string WhyRegistrationFailed() {
    if (TableIsFull(CopyTasks(DLMGR_CATEGORY_RUNNING).size() + CopyTasks(DLMGR_CATEGORY_STOPPED).size())) {
        return "the table is full: 512 tasks, none of them completed (which the library would "
               "trim to make room); delete a task first";
    }
    return "the library refused the task; its log may say why (dlmgrctl log)";
}

}  // namespace dlmgrctl
