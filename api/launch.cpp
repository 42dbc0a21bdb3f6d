#include "api/launch.h"

#include <windows.h>
#include <shellapi.h>

namespace dlmgr {

void Launch::Command(const CommandBuffer& command) noexcept {
    kind_ = Kind::kCommand;
    ::lstrcpynA(text_, command.c_str(), sizeof(text_));
}

void Launch::OpenFile(const char* path) noexcept {
    kind_ = Kind::kOpenFile;
    ::lstrcpynA(text_, path, sizeof(text_));
}

void Launch::Start() const noexcept {
    if (kind_ == Kind::kCommand) {
        ::WinExec(text_, SW_SHOWNORMAL);
    } else if (kind_ == Kind::kOpenFile) {
        SHELLEXECUTEINFOA request = {};
        request.cbSize = sizeof(request);
        request.lpFile = text_;
        request.nShow = SW_SHOWNORMAL;
        ::ShellExecuteExA(&request);
    }
}

}  // namespace dlmgr
