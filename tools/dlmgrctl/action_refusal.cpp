#include "tools/dlmgrctl/action_refusal.h"

#include <cstring>
#include <optional>

#include "tools/dlmgrctl/refusal_reason.h"
#include "tools/dlmgrctl/settings_view.h"
#include "tools/dlmgrctl/task_listing.h"

namespace dlmgrctl {

std::string WhyActionFailed(const std::string& action, const TaskId& id) {
    std::optional<TaskRecord> task;
    for (int category : {DLMGR_CATEGORY_RUNNING, DLMGR_CATEGORY_STOPPED}) {
        for (const TaskRecord& record : CopyTasks(category)) {
            if (std::memcmp(&record.id, &id, sizeof(id)) == 0) task = record;
        }
    }
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

}  // namespace dlmgrctl
