// What an action does once it has left the store: start a command line (the
// download engine, the torrent client), have the shell open a file, or delete
// a paused engine task's work files. Done outside storeLock, because the
// program started may itself be a host that needs the store before it is
// ready for input, and a file on an unreachable network path takes the
// network's time-out: neither may keep every other host waiting.
#pragma once

#include "api/command_buffer.h"
#include "dlmgr.h"

namespace dlmgr {

class Launch {
public:
    Launch() noexcept : text_() {}
    Launch(const Launch&) = delete;
    Launch& operator=(const Launch&) = delete;

    // False, and logged, when the command was cut to fit: it is then never
    // started. optional: a failure to start it does not fail the action.
    bool Command(const CommandBuffer& command, bool optional = false) noexcept;
    void OpenFile(const char* path) noexcept;
    void DeleteWorkFiles(const char (&filePath)[DLMGR_FILE_PATH_SIZE]) noexcept;
    // WinExec with the window shown normally, the shell's default verb, or
    // the deletions; nothing when none was asked for. False, and logged with
    // the system's error, when a program that was not optional could not be
    // started or the file could not be opened.
    bool Start() const noexcept;

private:
    bool StartCommand() const noexcept;
    bool StartOpenFile() const noexcept;
    void StartDeletingWorkFiles() const noexcept;

    enum class Kind { kNothing, kCommand, kOpenFile, kDeleteWorkFiles };
    Kind kind_ = Kind::kNothing;
    bool optional_ = false;
    char text_[DLMGR_FILE_PATH_SIZE + 1];  // a file path or a command line of at most 511
};

}  // namespace dlmgr
