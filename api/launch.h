// What an action starts once it has left the store: a command line (the
// download engine, the torrent client) or a file for the shell to open.
// Started outside storeLock, because the program started may itself be a
// host that needs the store before it is ready for input, and starting a
// program waits for exactly that.
#pragma once

#include "api/command_buffer.h"
#include "dlmgr.h"

namespace dlmgr {

class Launch {
public:
    Launch() noexcept : text_() {}
    Launch(const Launch&) = delete;
    Launch& operator=(const Launch&) = delete;

    void Command(const CommandBuffer& command) noexcept;
    void OpenFile(const char* path) noexcept;
    // WinExec with the window shown normally, or the shell's default verb;
    // nothing when neither was asked for. No result is examined.
    void Start() const noexcept;

private:
    enum class Kind { kNothing, kCommand, kOpenFile };
    Kind kind_ = Kind::kNothing;
    char text_[DLMGR_FILE_PATH_SIZE + 1];  // a file path or a command line of at most 511
};

}  // namespace dlmgr
