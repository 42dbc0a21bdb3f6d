#include "tools/dlmgrctl/settings_view.h"

#include <cstdlib>

#include "settings/settings_names.h"
#include "settings/settings_registry.h"
#include "tools/dlmgrctl/options.h"

namespace dlmgrctl {

namespace {

const char* RootName(HKEY root) { return root == HKEY_CURRENT_USER ? "user key" : "machine key"; }

// Reads one key; true with the text when the value is usable as the module
// reads it, else a note on why (none when it is simply absent).
bool ReadOne(HKEY root, const SettingSpec& spec, std::string& text, std::vector<std::string>& notes) {
    char data[4096];
    DWORD type = 0;
    DWORD bytes = sizeof(data);
    const LONG status = dlmgr::QuerySettingsValue(root, dlmgr::kSettingsKeyPath, spec.name, &type, data, &bytes);
    if (status == ERROR_FILE_NOT_FOUND) return false;
    const std::string where = RootName(root);
    if (status != ERROR_SUCCESS) {
        notes.push_back(where + ": cannot be read (error " + std::to_string(status) + ")");
        return false;
    }
    if (spec.number) {
        if (type != REG_DWORD || bytes != sizeof(DWORD)) {
            notes.push_back(where + ": not a 32-bit number (REG_DWORD)");
            return false;
        }
        text = std::to_string(static_cast<long>(*reinterpret_cast<const LONG*>(data)));
        return true;
    }
    if (type != REG_SZ) {
        notes.push_back(where + ": not a string (REG_SZ)");
        return false;
    }
    if (bytes > spec.limit) {
        notes.push_back(where + ": " + std::to_string(bytes) + " bytes, more than the " +
                        std::to_string(spec.limit) + " the library reads");
        return false;
    }
    text.assign(data, ::strnlen(data, bytes));
    return true;
}

}  // namespace

const std::vector<SettingSpec>& SettingSpecs() {
    static const std::vector<SettingSpec> specs = {
        {dlmgr::kEngineCommandValue, "DLEngine", false, 511, false,
         "none: engine tasks cannot be resumed or downloaded again",
         "the download engine's command", "at every engine action"},
        {nullptr, "(default)", false, 511, true,
         "none: torrent tasks cannot be resumed or downloaded again",
         "the installation folder, holding BTClient.exe", "at every torrent action"},
        {dlmgr::kTorrentsDirValue, "TorrentsDir", false, 255, false,
         "<installation folder>\\Torrents", "the folder of the .torrent files",
         "at every torrent action"},
        {dlmgr::kMaxTaskCountValue, "MaxTaskCount", true, 4, false, "30",
         "tasks kept before the oldest completed ones are removed", "at every new task"},
        {dlmgr::kLogLevelValue, "DlmgrLogLevel", true, 4, false,
         "8 (failed assertions, takeovers and repairs only)",
         "the lowest level logged: 0 everything, 8 only failures",
         "when they load the library: hosts running now keep what they read"},
        {dlmgr::kLogFileNameValue, "DlmgrLogFileName", false, 255, false,
         "<data folder>\\dlmgr.log", "the log file",
         "when they load the library: hosts running now keep what they read"},
    };
    return specs;
}

const SettingSpec* FindSetting(const std::string& name) {
    for (const SettingSpec& spec : SettingSpecs()) {
        if (::lstrcmpiA(name.c_str(), spec.shownName) == 0 ||
            (spec.name == nullptr && ::lstrcmpiA(name.c_str(), "default") == 0)) {
            return &spec;
        }
    }
    return nullptr;
}

SettingValue ReadSetting(const SettingSpec& spec) {
    SettingValue value;
    if (!spec.machineOnly && ReadOne(HKEY_CURRENT_USER, spec, value.text, value.unusable)) {
        value.source = SettingSource::kUser;
        return value;
    }
    if (ReadOne(HKEY_LOCAL_MACHINE, spec, value.text, value.unusable)) {
        value.source = SettingSource::kMachine;
    }
    return value;
}

LONG WriteSetting(const SettingSpec& spec, bool machine, const std::string& value) {
    const HKEY root = machine || spec.machineOnly ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    if (spec.number) {
        char* end = nullptr;
        const long long number = std::strtoll(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || number < -2147483648LL || number > 4294967295LL) {
            throw UsageError(std::string(spec.shownName) + " takes a 32-bit whole number, not " + value);
        }
        const DWORD bits = static_cast<DWORD>(number);
        return dlmgr::SetSettingsValue(root, dlmgr::kSettingsKeyPath, spec.name, REG_DWORD, &bits,
                                       sizeof(bits));
    }
    if (value.size() + 1 > spec.limit) {
        throw UsageError(std::string(spec.shownName) + " takes at most " +
                         std::to_string(spec.limit - 1) + " characters");
    }
    return dlmgr::SetSettingsValue(root, dlmgr::kSettingsKeyPath, spec.name, REG_SZ, value.c_str(),
                                   static_cast<DWORD>(value.size() + 1));
}

LONG RemoveSetting(const SettingSpec& spec, bool machine) {
    const HKEY root = machine || spec.machineOnly ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    return dlmgr::DeleteSettingsValue(root, dlmgr::kSettingsKeyPath, spec.name);
}

const char* SourceName(SettingSource source) {
    switch (source) {
        case SettingSource::kUser: return "user";
        case SettingSource::kMachine: return "machine";
        case SettingSource::kNone: break;
    }
    return "not set";
}

}  // namespace dlmgrctl
