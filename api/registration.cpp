// DM_SetTaskInfo: the one way a task enters the table or changes state.
#include <cstring>

#include "api/export_boundary.h"
#include "api/store_access.h"
#include "dlmgr.h"
#include "log/log.h"
#include "log/messages.h"

using namespace dlmgr;

extern "C" DlmgrBool DLMGR_CALL DM_SetTaskInfo(const TaskRecord* record) {
    if (record == nullptr) return 0;
    // Copied before the store is taken: a bad pointer then faults in this
    // host alone, not while it holds every host's store.
    TaskRecord copy;
    std::memcpy(&copy, record, sizeof(copy));
    return ExportBoundary<DlmgrBool>(0, [&]() -> DlmgrBool {
        // Lookup and change under one hold: two hosts registering the same
        // new id at once make one record.
        OptexGuard guard = LockStore();
        if (!guard) return 0;
        TaskTable table = SharedTaskTable();
        const int index = table.FindTask(copy.id);
        if (index == -1) {
            const bool added = table.AddTask(copy);
            // A full table gets the line log watchers know a failed add by,
            // then the reason as a line of its own.
            if (!added && table.TaskCount() >= kMaxTasks) Log(8, messages::kAddFailed);
            Assert(added || table.TaskCount() < kMaxTasks, messages::kTableFull);
            Assert(added, messages::kAddFailed);
        } else {
            Assert(table.UpdateTask(index, copy), messages::kUpdateFailed);
        }
        return 1;
    });
}
