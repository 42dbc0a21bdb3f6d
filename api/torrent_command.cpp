#include "api/torrent_command.h"

#include "api/command_lines.h"
#include "log/log.h"
#include "log/messages.h"
#include "module/module_objects.h"
#include "settings/settings_names.h"

namespace dlmgr {

namespace {

constexpr DWORD kTorrentsDirLimit = 255;

}  // namespace

bool BuildTorrentCommand(const TaskRecord& record, const char* option, CommandBuffer& command) {
    // As wide as a command line: a value that cannot fit one is refused as
    // too long rather than taken for an unusable value and deleted.
    char installDir[CommandBuffer::kSize] = {};
    machineSettings.GetString(kInstallDirValue, installDir, sizeof(installDir) - 1);
    if (installDir[0] == '\0') {
        Log(4, messages::kNoClientName);
        return false;
    }
    char torrentsDir[kTorrentsDirLimit + 1] = {};
    userSettings.GetString(kTorrentsDirValue, torrentsDir, kTorrentsDirLimit);
    TorrentCommandLine(installDir, torrentsDir, record, option, command);
    return true;
}

}  // namespace dlmgr
