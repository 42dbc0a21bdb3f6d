#include "api/launch.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "log/log.h"
#include "log/log_text.h"
#include "log/messages.h"

namespace dlmgr {

bool Launch::Command(const CommandBuffer& command, bool optional) noexcept {
    if (command.text().cut()) {
        Log(4, messages::kCommandTooLong, LogText<CommandBuffer::kSize>(command.c_str()).c_str());
        return false;
    }
    kind_ = Kind::kCommand;
    optional_ = optional;
    ::lstrcpynA(text_, command.c_str(), sizeof(text_));
    return true;
}

void Launch::OpenFile(const char* path) noexcept {
    kind_ = Kind::kOpenFile;
    ::lstrcpynA(text_, path, sizeof(text_));
}

void Launch::DeleteWorkFiles(const char (&filePath)[DLMGR_FILE_PATH_SIZE]) noexcept {
    kind_ = Kind::kDeleteWorkFiles;
    std::memcpy(text_, filePath, sizeof(filePath));
    text_[sizeof(filePath)] = '\0';
}

bool Launch::Start() const noexcept {
    switch (kind_) {
        case Kind::kCommand:
            return StartCommand() || optional_;
        case Kind::kOpenFile:
            return StartOpenFile();
        case Kind::kDeleteWorkFiles:
            StartDeletingWorkFiles();
            return true;
        case Kind::kNothing:
        default:
            return true;
    }
}

bool Launch::StartCommand() const noexcept {
    const UINT result = ::WinExec(text_, SW_SHOWNORMAL);
    if (result > 31) return true;
    // WinExec's own result is the system's error, but for 0 (out of resources).
    const DWORD error = result != 0 ? result : ::GetLastError();
    Log(4, messages::kStartFailed, error, LogText<sizeof(text_)>(text_).c_str());
    return false;
}

bool Launch::StartOpenFile() const noexcept {
    SHELLEXECUTEINFOA request = {};
    request.cbSize = sizeof(request);
    request.lpFile = text_;
    request.nShow = SW_SHOWNORMAL;
    if (::ShellExecuteExA(&request)) {
        Log(0, messages::kFileOpened, LogText<sizeof(text_)>(text_).c_str());
        return true;
    }
    Log(4, messages::kOpenFailed, LogText<sizeof(text_)>(text_).c_str(), ::GetLastError());
    return false;
}

void Launch::StartDeletingWorkFiles() const noexcept {
    static constexpr const char* kSuffixes[] = {".$p4p$", ".$fmap$", ".$finfo$"};
    for (const char* suffix : kSuffixes) {
        // The whole path, as the engine names its work files: a path cut short
        // could name somebody else's file.
        char name[DLMGR_FILE_PATH_SIZE + 16] = {};
        TextSpan text(name, sizeof(name) - 1);
        text.Append(text_);
        text.Append(suffix);
        Log(1, messages::kDeleteFile, LogText<sizeof(name)>(text.c_str()).c_str());
        ::DeleteFileA(text.c_str());
    }
}

}  // namespace dlmgr
