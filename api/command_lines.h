// The command lines the module starts, made from the settings' text and a
// task's fields. The module passes the settings it read; dlmgrctl the ones it
// reads, to tell why an action started nothing. A line whose text() is cut()
// must never be started: a cut changes what the program is told.
#pragma once

#include <cstddef>

#include "api/command_buffer.h"
#include "dlmgr.h"

namespace dlmgr {

// engine (quoted when the whole value names a file and holds a space, so that
// no "C:\Program.exe" can run in its place), then before, at most width bytes
// of field, then after.
void EngineCommandLine(const char* engine, const char* before, const char* field, size_t width,
                       const char* after, CommandBuffer& command);

// BTClient.exe of the installation folder (quoted when it holds a space),
// option (" " to open the torrent, " -delete " to delete it), then the task's
// .torrent file in quotation marks: in torrentsDir when it is set, else in the
// installation folder's "Torrents".
void TorrentCommandLine(const char* installDir, const char* torrentsDir, const TaskRecord& record,
                        const char* option, CommandBuffer& command);

}  // namespace dlmgr
