// Which action a task's status and kind allow: the module acts on them, and
// dlmgrctl explains its refusals by them.
#pragma once

#include "dlmgr.h"
#include "store/task_store.h"

namespace dlmgr {

inline bool IsEngineTask(const TaskRecord& record) { return record.kind == DLMGR_KIND_ENGINE; }
inline bool IsTorrentTask(const TaskRecord& record) { return record.kind == DLMGR_KIND_TORRENT; }

inline bool CanOpen(const TaskRecord& record) { return record.status == DLMGR_STATUS_COMPLETED; }
inline bool CanResume(const TaskRecord& record) { return record.status == DLMGR_STATUS_PAUSED; }
inline bool CanDownloadAgain(const TaskRecord& record) {
    return record.status == DLMGR_STATUS_COMPLETED || record.status == DLMGR_STATUS_STOPPED;
}
// Running tasks stay; every other status may be deleted.
inline bool CanDelete(const TaskRecord& record) {
    return CategoryOfStatus(record.status) != kCategoryRunning;
}

}  // namespace dlmgr
