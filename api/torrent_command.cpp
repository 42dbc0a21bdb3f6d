#include "api/torrent_command.h"

#include <cstring>

#include "log/log.h"
#include "log/messages.h"
#include "module/module_objects.h"
#include "settings/settings_names.h"

namespace dlmgr {

namespace {

constexpr DWORD kSettingTextLimit = 255;

}  // namespace

bool BuildTorrentClientCommand(TextSpan& text) {
    machineSettings.GetString(kInstallDirValue, text.data(), static_cast<DWORD>(text.limit()));
    text.Refresh();
    if (text.empty()) {
        Log(4, messages::kNoClientName);
        return false;
    }
    text.Append("\\BTClient.exe");
    if (std::strchr(text.c_str(), ' ') != nullptr) text.Quote();
    return true;
}

bool BuildTorrentFilePath(const TaskRecord& record, TextSpan& text) {
    // This read must never delete the installation folder just because it is
    // too long for the room left here; it then simply gives no value.
    machineSettings.ReadStringHere(kInstallDirValue, text.data(), static_cast<DWORD>(text.limit()));
    text.Refresh();
    if (text.empty()) {
        Log(4, messages::kNoTorrentFile);
        return false;
    }
    text.Append("\\Torrents");

    char torrentsDir[kSettingTextLimit + 1] = {};
    userSettings.GetString(kTorrentsDirValue, torrentsDir, kSettingTextLimit);
    if (torrentsDir[0] != '\0') text.Assign(torrentsDir);

    text.Append("\\");
    text.AppendAtMost(record.torrentName, sizeof(record.torrentName));
    text.Append(".torrent");
    return true;
}

bool BuildTorrentCommand(const TaskRecord& record, const char* option, CommandBuffer& command) {
    TextSpan& text = command.text();
    if (!BuildTorrentClientCommand(text)) return false;
    text.Append(option);
    text.Append("\"");
    TextSpan rest = text.Rest();
    if (!BuildTorrentFilePath(record, rest)) return false;
    text.Refresh();
    text.Append("\"");
    return true;
}

}  // namespace dlmgr
