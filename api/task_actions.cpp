// Actions on a task by id. Lookup, decision and the command line are made
// under storeLock; the program is started once the store is left. None
// changes the record except deletion, which removes it.
#include <windows.h>

#include <cstring>

#include "api/command_buffer.h"
#include "api/command_line_text.h"
#include "api/launch.h"
#include "api/export_boundary.h"
#include "api/field_text.h"
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

// True when the whole text names an existing file (not a folder).
bool NamesFile(const char* text) {
    const DWORD attributes = ::GetFileAttributesA(text);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

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
    // Unquoted, a program path with a space lets "C:\Program.exe" run in its
    // place. Only a value that names a file as a whole is quoted: one already
    // quoted, or holding arguments, stays as it is.
    if (std::strchr(text.c_str(), ' ') != nullptr && NamesFile(text.c_str())) text.Quote();
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

// False, and logged, when the field would bend the command line it goes on.
bool QuotedFieldIsSafe(const char* field, size_t width, const char* refusal) {
    if (!HoldsQuote(field, width)) return true;
    Log(4, refusal, LogText<DLMGR_FILE_PATH_SIZE>(field).c_str());
    return false;
}

bool SourceIsSafe(const TaskRecord& record) {
    if (IsOneWord(record.source, sizeof(record.source))) return true;
    Log(4, messages::kUnsafeSource, LogText<DLMGR_SOURCE_SIZE>(record.source).c_str());
    return false;
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
        Log(1, messages::kDeleteFile, LogText<sizeof(name)>(text.c_str()).c_str());
        ::DeleteFileA(text.c_str());
    }
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
        Log(0, messages::kFileOpened, shown.c_str());
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
            return QuotedFieldIsSafe(record.filePath, sizeof(record.filePath),
                                     messages::kQuoteInFilePath) &&
                   EngineCommand(messages::kResumeNoEngine, " --restore \"", record.filePath,
                                 sizeof(record.filePath), ".$p4p$\"", launch);
        }
        if (CanResume(record) && IsTorrentTask(record)) {
            return QuotedFieldIsSafe(record.torrentName, sizeof(record.torrentName),
                                     messages::kQuoteInTorrentName) &&
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
            return QuotedFieldIsSafe(record.torrentName, sizeof(record.torrentName),
                                     messages::kQuoteInTorrentName) &&
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
            DeleteEngineWorkFiles(record);
        } else if (record.status == DLMGR_STATUS_PAUSED && IsTorrentTask(record)) {
            // The user asked for the task to go: without a safe command line,
            // or without the client, the record is removed all the same.
            if (QuotedFieldIsSafe(record.torrentName, sizeof(record.torrentName),
                                  messages::kDeleteWithoutClient)) {
                TorrentClientCommand(record, " -delete ", launch);
            }
        }
        Assert(table.RemoveTask(index), messages::kDeleteFailed);
        Log(0, messages::kTaskDeleted, shown.c_str());
        return true;
    });
}

extern "C" DlmgrBool DLMGR_CALL DM_PauseTask(const TaskId*) { return 0; }
