// Actions on a task by id. Lookup, decision and the command line are made
// under storeLock; the program is started once the store is left. None
// changes the record except deletion, which removes it.
#include <windows.h>

#include <cstring>

#include "api/command_buffer.h"
#include "api/launch.h"
#include "api/export_boundary.h"
#include "api/field_text.h"
#include "api/store_access.h"
#include "api/torrent_command.h"
#include "dlmgr.h"
#include "log/log.h"
#include "log/messages.h"
#include "settings/settings_names.h"

using namespace dlmgr;

namespace {

// Runs action(table, index, launch) for the task with this id under
// storeLock, then starts what it asked for; false when the id is in no record.
template <typename Action>
DlmgrBool RunTaskAction(const TaskId* id, Action&& action) {
    if (id == nullptr) return 0;
    // Copied before the store is taken: a bad pointer then faults in this
    // host alone, not while it holds every host's store.
    TaskId key;
    std::memcpy(&key, id, sizeof(key));
    return ExportBoundary<DlmgrBool>(0, [&]() -> DlmgrBool {
        Launch launch;
        bool result = false;
        {
            OptexGuard guard = LockStore();
            if (!guard) return 0;
            TaskTable table = SharedTaskTable();
            const int index = table.FindTask(key);
            if (index == -1) return 0;
            result = action(table, index, launch);
        }
        launch.Start();
        return result ? 1 : 0;
    });
}

// DLEngine followed by before, a record field and after. False, and logged,
// when DLEngine is set nowhere.
bool EngineCommand(const char* missingMessage, const char* before, const char* field, size_t width,
                   const char* after, Launch& launch) {
    CommandBuffer command;
    TextSpan& text = command.text();
    // The setting is read straight into the command buffer.
    userSettings.GetString(kEngineCommandValue, text.data(), static_cast<DWORD>(text.limit()));
    text.Refresh();
    if (text.empty()) {
        Log(4, missingMessage);
        return false;
    }
    text.Append(before);
    text.AppendAtMost(field, width);
    text.Append(after);
    launch.Command(command);
    return true;
}

bool TorrentClientCommand(const TaskRecord& record, const char* option, Launch& launch) {
    CommandBuffer command;
    if (!BuildTorrentCommand(record, option, command)) return false;
    launch.Command(command);
    return true;
}

bool IsEngineTask(const TaskRecord& record) { return record.kind == DLMGR_KIND_ENGINE; }
bool IsTorrentTask(const TaskRecord& record) { return record.kind == DLMGR_KIND_TORRENT; }
bool CanDownloadAgain(const TaskRecord& record) {
    return record.status == DLMGR_STATUS_COMPLETED || record.status == DLMGR_STATUS_STOPPED;
}

void DeleteEngineWorkFiles(const TaskRecord& record) {
    static constexpr const char* kSuffixes[] = {".$p4p$", ".$fmap$", ".$finfo$"};
    for (const char* suffix : kSuffixes) {
        // The whole path, as the engine names its work files: a path cut short
        // could name somebody else's file.
        char name[DLMGR_FILE_PATH_SIZE + 16] = {};
        TextSpan text(name, sizeof(name) - 1);
        text.AppendAtMost(record.filePath, sizeof(record.filePath));
        text.Append(suffix);
        Log(1, messages::kDeleteFile, text.c_str());
        ::DeleteFileA(text.c_str());
    }
}

}  // namespace

extern "C" DlmgrBool DLMGR_CALL DM_OpenTaskFile(const TaskId* id) {
    return RunTaskAction(id, [](TaskTable& table, int index, Launch& launch) {
        const TaskRecord& record = table.Record(index);
        const FieldText<DLMGR_FILE_PATH_SIZE> path(record.filePath);
        Log(1, messages::kOpenFile, path.text);
        if (record.status != DLMGR_STATUS_COMPLETED) {
            Log(2, messages::kFileNotCompleted, path.text);
            return false;
        }
        Log(0, messages::kFileOpened, path.text);
        launch.OpenFile(path.text);
        return true;
    });
}

extern "C" DlmgrBool DLMGR_CALL DM_ResumeTask(const TaskId* id) {
    return RunTaskAction(id, [](TaskTable& table, int index, Launch& launch) {
        const TaskRecord& record = table.Record(index);
        const FieldText<DLMGR_FILE_PATH_SIZE> path(record.filePath);
        Log(1, messages::kResumeTask, path.text);
        if (record.status == DLMGR_STATUS_PAUSED && IsEngineTask(record)) {
            return EngineCommand(messages::kResumeNoEngine, " --restore \"", record.filePath,
                                 sizeof(record.filePath), ".$p4p$\"", launch);
        }
        if (record.status == DLMGR_STATUS_PAUSED && IsTorrentTask(record)) {
            return TorrentClientCommand(record, " ", launch);
        }
        Log(4, messages::kCannotResume, path.text);
        return false;
    });
}

extern "C" DlmgrBool DLMGR_CALL DM_DownloadAgain(const TaskId* id) {
    return RunTaskAction(id, [](TaskTable& table, int index, Launch& launch) {
        const TaskRecord& record = table.Record(index);
        const FieldText<DLMGR_FILE_PATH_SIZE> path(record.filePath);
        Log(1, messages::kDownloadAgain, path.text);
        if (CanDownloadAgain(record) && IsEngineTask(record)) {
            return EngineCommand(messages::kAgainNoEngine, " 188 ", record.source,
                                 sizeof(record.source), " better", launch);
        }
        if (CanDownloadAgain(record) && IsTorrentTask(record)) {
            return TorrentClientCommand(record, " ", launch);
        }
        Log(4, messages::kCannotDownloadAgain, path.text);
        return false;
    });
}

extern "C" DlmgrBool DLMGR_CALL DM_DeleteTask(const TaskId* id) {
    return RunTaskAction(id, [](TaskTable& table, int index, Launch& launch) {
        const TaskRecord& record = table.Record(index);
        // Taken before the removal moves later records over this slot.
        const FieldText<DLMGR_FILE_PATH_SIZE> path(record.filePath);
        Log(1, messages::kDeleteTask, path.text);
        if (CategoryOfStatus(record.status) == kCategoryRunning) {
            Log(2, messages::kTaskRunning, path.text);
            return false;
        }
        if (record.status == DLMGR_STATUS_PAUSED && IsEngineTask(record)) {
            DeleteEngineWorkFiles(record);
        } else if (record.status == DLMGR_STATUS_PAUSED && IsTorrentTask(record)) {
            // Without the client the record is removed all the same.
            TorrentClientCommand(record, " -delete ", launch);
        }
        Assert(table.RemoveTask(index), messages::kDeleteFailed);
        Log(0, messages::kTaskDeleted, path.text);
        return true;
    });
}

extern "C" DlmgrBool DLMGR_CALL DM_PauseTask(const TaskId*) { return 0; }
