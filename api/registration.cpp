// DM_SetTaskInfo: the one way a task enters the table or changes state.
#include "api/export_boundary.h"
#include "api/store_access.h"
#include "dlmgr.h"
#include "log/messages.h"

using namespace dlmgr;

extern "C" DlmgrBool DLMGR_CALL DM_SetTaskInfo(const TaskRecord* record) {
    if (record == nullptr) return 0;
    return ExportBoundary<DlmgrBool>(0, [&]() -> DlmgrBool {
        // Lookup and change under one hold: two hosts registering the same
        // new id at once make one record.
        OptexGuard guard = LockStore();
        if (!guard) return 0;
        TaskTable table = SharedTaskTable();
        const int index = table.FindTask(record->id);
        if (index == -1) {
            Assert(table.AddTask(*record), messages::kAddFailed);
        } else {
            Assert(table.UpdateTask(index, *record), messages::kUpdateFailed);
        }
        return 1;
    });
}
