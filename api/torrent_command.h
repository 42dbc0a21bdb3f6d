// Command lines for the torrent client, BTClient.exe in the installation
// folder (the machine key's unnamed value).
#pragma once

#include "api/command_buffer.h"
#include "dlmgr.h"

namespace dlmgr {

// client + option + quoted torrent file (see TorrentCommandLine), from the
// settings. False (and logged) without an installation folder.
bool BuildTorrentCommand(const TaskRecord& record, const char* option, CommandBuffer& command);

}  // namespace dlmgr
