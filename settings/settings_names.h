// The registry key and the values the module reads from it.
#pragma once

#include <windows.h>

namespace dlmgr {

constexpr char kSettingsKeyPath[] = "Software\\Velquor R&D\\Download";

constexpr char kLogFileNameValue[] = "DlmgrLogFileName";
constexpr char kLogLevelValue[] = "DlmgrLogLevel";
constexpr char kMaxTaskCountValue[] = "MaxTaskCount";
constexpr char kEngineCommandValue[] = "DLEngine";
constexpr char kTorrentsDirValue[] = "TorrentsDir";
// The key's unnamed value: the installation folder, read from the machine key only.
constexpr const char* kInstallDirValue = nullptr;

constexpr DWORD kDefaultLogLevel = 8;
constexpr DWORD kDefaultMaxTaskCount = 30;

}  // namespace dlmgr
