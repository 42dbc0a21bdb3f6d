#include "api/command_lines.h"

#include <windows.h>

#include <cstring>

namespace dlmgr {

namespace {

// True when the whole text names an existing file (not a folder).
bool NamesFile(const char* text) {
    const DWORD attributes = ::GetFileAttributesA(text);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

void EngineCommandLine(const char* engine, const char* before, const char* field, size_t width,
                       const char* after, CommandBuffer& command) {
    TextSpan& text = command.text();
    text.Assign(engine);
    // Only a value that names a file as a whole is quoted: one already
    // quoted, or holding arguments, stays as it is.
    if (std::strchr(text.c_str(), ' ') != nullptr && NamesFile(text.c_str())) text.Quote();
    text.Append(before);
    text.AppendAtMost(field, width);
    text.Append(after);
}

void TorrentCommandLine(const char* installDir, const char* torrentsDir, const TaskRecord& record,
                        const char* option, CommandBuffer& command) {
    TextSpan& text = command.text();
    text.Assign(installDir);
    text.Append("\\BTClient.exe");
    if (std::strchr(text.c_str(), ' ') != nullptr) text.Quote();
    text.Append(option);
    text.Append("\"");
    if (torrentsDir[0] != '\0') {
        text.Append(torrentsDir);
    } else {
        text.Append(installDir);
        text.Append("\\Torrents");
    }
    text.Append("\\");
    text.AppendAtMost(record.torrentName, sizeof(record.torrentName));
    text.Append(".torrent\"");
}

}  // namespace dlmgr
