#include "tools/dlmgrctl/refusal_reason.h"

#include <windows.h>
#include <shlwapi.h>

#include "api/command_line_text.h"
#include "api/command_lines.h"
#include "api/task_rules.h"
#include "tools/dlmgrctl/system_error.h"
#include "tools/dlmgrctl/task_text.h"

namespace dlmgrctl {

namespace {

constexpr char kHalfCharacter[] =
    " ends in half a double-byte character of this system's code page, which would swallow "
    "the next character of the ";

// Why a command line the module would make could not have been started: cut
// to fit, or a program that cannot be found, named by the setting that
// holds it and its whole value. Empty when neither.
std::string WhyNotStarted(const std::string& program, const dlmgr::CommandBuffer& command,
                          const std::string& setting) {
    if (command.text().cut()) {
        return "the command line of " + program + " would be longer than 511 characters";
    }
    if (ProgramFound(command.c_str())) return "";
    return program + " could not be started: " + setting + " names no program that exists";
}

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
        const bool resume = action == "resume";
        const char* field = resume ? task.filePath : task.source;
        const size_t width = resume ? sizeof(task.filePath) : sizeof(task.source);
        if (dlmgr::EndsInLeadByte(field, width)) {
            return std::string("its ") + (resume ? "file path" : "source") + kHalfCharacter +
                   "engine's command line";
        }
        dlmgr::CommandBuffer command;
        if (resume) {
            dlmgr::EngineCommandLine(settings.engine.c_str(), " --restore \"", field, width,
                                     ".$p4p$\"", command);
        } else {
            dlmgr::EngineCommandLine(settings.engine.c_str(), " 188 ", field, width, " better",
                                     command);
        }
        return WhyNotStarted("the engine", command, "the DLEngine setting (" + settings.engine + ")");
    } else if (dlmgr::IsTorrentTask(task)) {
        if (!settings.installSet) {
            return "no installation folder: the machine key's default value is not set "
                   "(dlmgrctl config set default FOLDER)";
        }
        if (dlmgr::HoldsQuote(task.torrentName, sizeof(task.torrentName))) {
            return "its torrent name holds a quotation mark, which would bend the client's "
                   "command line";
        }
        if (dlmgr::EndsInLeadByte(task.torrentName, sizeof(task.torrentName))) {
            return std::string("its torrent name") + kHalfCharacter + "client's command line";
        }
        dlmgr::CommandBuffer command;
        dlmgr::TorrentCommandLine(settings.installDir.c_str(), settings.torrentsDir.c_str(), task,
                                  " ", command);
        return WhyNotStarted("the torrent client", command,
                             "the installation folder (" + settings.installDir + ")");
    } else {
        return "kind " + std::to_string(task.kind) +
               " has no program (engine tasks are kind 0, torrent tasks kind 1)";
    }
    return "";
}

}  // namespace

// The first quoted text, or else the shortest run of words up to a space
// that names a program.
bool ProgramFound(const std::string& line) {
    char found[MAX_PATH];
    if (!line.empty() && line[0] == '"') {
        const std::string path = line.substr(1, line.find('"', 1) - 1);
        return ::SearchPathA(nullptr, path.c_str(), ".exe", sizeof(found), found, nullptr) != 0;
    }
    for (size_t end = line.find(' '); ; end = line.find(' ', end + 1)) {
        const std::string path = line.substr(0, end);
        if (::SearchPathA(nullptr, path.c_str(), ".exe", sizeof(found), found, nullptr) != 0) return true;
        if (end == std::string::npos) return false;
    }
}

std::string WhyFileCannotBeOpened(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return "the file " + path + " could not be opened: " + SystemErrorText(::GetLastError());
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "";  // the shell shows a folder
    // The command of the type's default verb, as the shell looks it up.
    const char* extension = ::PathFindExtensionA(path.c_str());
    char command[MAX_PATH * 2];
    DWORD size = sizeof(command);
    if (*extension == '\0' ||
        FAILED(::AssocQueryStringA(ASSOCF_INIT_IGNOREUNKNOWN, ASSOCSTR_COMMAND, extension, nullptr,
                                   command, &size))) {
        return "no program opens " + (*extension == '\0' ? std::string("files without an extension")
                                                          : std::string(extension) + " files") +
               ", so the shell would ask which one: open " + path + " yourself";
    }
    return "";
}

std::string WhyRefused(const std::string& action, const TaskRecord* task,
                       const ActionSettings& settings) {
    if (task == nullptr) return "no task has this id";
    std::string reason;
    if (action == "open" && !dlmgr::CanOpen(*task)) {
        reason = TaskIs(*task) + "only a completed task's file can be opened";
    } else if (action == "open") {
        reason = WhyFileCannotBeOpened(FieldString(task->filePath, sizeof(task->filePath)));
    } else if (action == "resume" && !dlmgr::CanResume(*task)) {
        reason = TaskIs(*task) + "only a paused task can be resumed";
    } else if (action == "again" && !dlmgr::CanDownloadAgain(*task)) {
        reason = TaskIs(*task) + "only a completed or stopped task can be downloaded again";
    } else if (action == "delete" && !dlmgr::CanDelete(*task)) {
        reason = TaskIs(*task) + "a running task cannot be deleted";
    } else if (action == "resume" || action == "again") {
        reason = WhyNoProgram(action, *task, settings);
    }
    return reason.empty() ? "the library refused; its log may say why (dlmgrctl log)" : reason;
}

}  // namespace dlmgrctl
