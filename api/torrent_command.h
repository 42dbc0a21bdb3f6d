// Command lines for the torrent client, BTClient.exe in the installation
// folder (the machine key's unnamed value).
#pragma once

#include "api/command_buffer.h"
#include "dlmgr.h"

namespace dlmgr {

// The client's path into text, quoted when it holds a space so that no
// "C:\Program.exe" can run in its place. False (and logged) without an
// installation folder.
bool BuildTorrentClientCommand(TextSpan& text);

// The task's .torrent file: TorrentsDir, or the installation folder's
// "Torrents", then "\<torrentName>.torrent". False (and logged) without an
// installation folder that fits.
bool BuildTorrentFilePath(const TaskRecord& record, TextSpan& text);

// client + option + quoted torrent file, e.g. option " " to open the torrent
// or " -delete " to delete it.
bool BuildTorrentCommand(const TaskRecord& record, const char* option, CommandBuffer& command);

}  // namespace dlmgr
