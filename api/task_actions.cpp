// Actions on a task by id. Lookup, decision and the command line are made
// under storeLock; the program is started once the store is left. None
// changes the record except deletion, which removes it.
#include <windows.h>

#include <cstring>

#include "api/command_buffer.h"
#include "api/command_line_text.h"
#include "api/command_lines.h"
#include "api/export_boundary.h"
#include "api/field_text.h"
#include "api/launch.h"
#include "api/store_access.h"
#include "api/task_rules.h"
#include "api/torrent_command.h"
#include "dlmgr.h"
#include "log/log.h"
#include "log/log_text.h"
#include "log/messages.h"
#include "settings/settings_names.h"

using namespace dlmgr;

namespace {

// Runs action(table, index, launch) for the task with this id under
// storeLock, then starts what it asked for; false when the id is in no record,
// or when what the action started could not be started.
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
        const bool started = launch.Start();
        return result && started ? 1 : 0;
    });
}

// DLEngine followed by before, a record field and after. False, and logged,
// when DLEngine is set nowhere or the line would be cut.
bool EngineCommand(const char* missingMessage, const char* before, const char* field, size_t width,
                   const char* after, Launch& launch) {
    // Read into a command line's room: the line is made from it.
    char engine[CommandBuffer::kSize] = {};
    userSettings.GetString(kEngineCommandValue, engine, sizeof(engine) - 1);
    if (engine[0] == '\0') {
        Log(4, missingMessage);
        return false;
    }
    CommandBuffer command;
    EngineCommandLine(engine, before, field, width, after, command);
    return launch.Command(command);
}

bool TorrentClientCommand(const TaskRecord& record, const char* option, Launch& launch,
                          bool optional = false) {
    CommandBuffer command;
    return BuildTorrentCommand(record, option, command) && launch.Command(command, optional);
}

// False, and logged, when the field's last character is only the lead byte of
// a double-byte one: the system's conversion to wide characters would pair it
// with the byte after the field.
template <size_t Width>
bool EndsWhole(const char (&field)[Width]) {
    if (!EndsInLeadByte(field, Width)) return true;
    Log(4, messages::kEndsInLeadByte, LogText<Width>(field).c_str());
    return false;
}

// False, and logged, when the field would bend the quoted argument it goes
// in: a quotation mark ends it early.
template <size_t Width>
bool QuotedFieldIsSafe(const char (&field)[Width], const char* quoteRefusal) {
    if (HoldsQuote(field, Width)) {
        Log(4, quoteRefusal, LogText<Width>(field).c_str());
        return false;
    }
    return EndsWhole(field);
}

bool SourceIsSafe(const TaskRecord& record) {
    if (!IsOneWord(record.source, sizeof(record.source))) {
        Log(4, messages::kUnsafeSource, LogText<DLMGR_SOURCE_SIZE>(record.source).c_str());
        return false;
    }
    return EndsWhole(record.source);
}

}  // namespace

extern "C" DlmgrBool DLMGR_CALL DM_OpenTaskFile(const TaskId* id) {
    return RunTaskAction(id, [](TaskTable& table, int index, Launch& launch) {
        const TaskRecord& record = table.Record(index);
        const LogText<DLMGR_FILE_PATH_SIZE> shown(record.filePath);
        Log(1, messages::kOpenFile, shown.c_str());
        if (!CanOpen(record)) {
            Log(2, messages::kFileNotCompleted, shown.c_str());
            return false;
        }
        launch.OpenFile(FieldText<DLMGR_FILE_PATH_SIZE>(record.filePath).text);
        return true;
    });
}

extern "C" DlmgrBool DLMGR_CALL DM_ResumeTask(const TaskId* id) {
    return RunTaskAction(id, [](TaskTable& table, int index, Launch& launch) {
        const TaskRecord& record = table.Record(index);
        const LogText<DLMGR_FILE_PATH_SIZE> shown(record.filePath);
        Log(1, messages::kResumeTask, shown.c_str());
        if (CanResume(record) && IsEngineTask(record)) {
            return QuotedFieldIsSafe(record.filePath, messages::kQuoteInFilePath) &&
                   EngineCommand(messages::kResumeNoEngine, " --restore \"", record.filePath,
                                 sizeof(record.filePath), ".$p4p$\"", launch);
        }
        if (CanResume(record) && IsTorrentTask(record)) {
            return QuotedFieldIsSafe(record.torrentName, messages::kQuoteInTorrentName) &&
                   TorrentClientCommand(record, " ", launch);
        }
        Log(4, messages::kCannotResume, shown.c_str());
        return false;
    });
}

extern "C" DlmgrBool DLMGR_CALL DM_DownloadAgain(const TaskId* id) {
    return RunTaskAction(id, [](TaskTable& table, int index, Launch& launch) {
        const TaskRecord& record = table.Record(index);
        const LogText<DLMGR_FILE_PATH_SIZE> shown(record.filePath);
        Log(1, messages::kDownloadAgain, shown.c_str());
        if (CanDownloadAgain(record) && IsEngineTask(record)) {
            return SourceIsSafe(record) &&
                   EngineCommand(messages::kAgainNoEngine, " 188 ", record.source,
                                 sizeof(record.source), " better", launch);
        }
        if (CanDownloadAgain(record) && IsTorrentTask(record)) {
            return QuotedFieldIsSafe(record.torrentName, messages::kQuoteInTorrentName) &&
                   TorrentClientCommand(record, " ", launch);
        }
        Log(4, messages::kCannotDownloadAgain, shown.c_str());
        return false;
    });
}

extern "C" DlmgrBool DLMGR_CALL DM_DeleteTask(const TaskId* id) {
    return RunTaskAction(id, [](TaskTable& table, int index, Launch& launch) {
        const TaskRecord& record = table.Record(index);
        // Taken before the removal moves later records over this slot.
        const LogText<DLMGR_FILE_PATH_SIZE> shown(record.filePath);
        Log(1, messages::kDeleteTask, shown.c_str());
        if (!CanDelete(record)) {
            Log(2, messages::kTaskRunning, shown.c_str());
            return false;
        }
        if (record.status == DLMGR_STATUS_PAUSED && IsEngineTask(record)) {
            launch.DeleteWorkFiles(record.filePath);
        } else if (record.status == DLMGR_STATUS_PAUSED && IsTorrentTask(record)) {
            // The user asked for the task to go: without a safe command line,
            // or without the client, the record is removed all the same.
            if (QuotedFieldIsSafe(record.torrentName, messages::kDeleteWithoutClient)) {
                TorrentClientCommand(record, " -delete ", launch, true);
            }
        }
        Assert(table.RemoveTask(index), messages::kDeleteFailed);
        Log(0, messages::kTaskDeleted, shown.c_str());
        return true;
    });
}

extern "C" DlmgrBool DLMGR_CALL DM_PauseTask(const TaskId*) { return 0; }
