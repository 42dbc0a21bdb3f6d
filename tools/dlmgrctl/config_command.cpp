#include <cstdio>
#include <cstring>
#include <string>

#include "settings/settings_names.h"
#include "tools/dlmgrctl/commands.h"
#include "tools/dlmgrctl/options.h"
#include "tools/dlmgrctl/refusal_reason.h"
#include "tools/dlmgrctl/settings_view.h"
#include "tools/dlmgrctl/task_text.h"

namespace dlmgrctl {

namespace {

const SettingSpec& SettingNamed(const std::string& name) {
    const SettingSpec* spec = FindSetting(name);
    if (spec == nullptr) throw UsageError("no setting is called " + name + " (dlmgrctl config lists them)");
    return *spec;
}

// Where the settings are read from; the machine key in the registry's 32-bit
// view, which both builds of the module read.
std::string KeyPaths() {
    return std::string("HKEY_CURRENT_USER\\") + dlmgr::kSettingsKeyPath +
           " (user), then HKEY_LOCAL_MACHINE\\" + dlmgr::kSettingsKeyPath +
           " (machine, 32-bit view)";
}

void Show(const SettingSpec& spec) {
    const SettingValue value = ReadSetting(spec);
    std::printf("%-16s %-8s %s\n", spec.shownName, SourceName(value.source),
                value.source == SettingSource::kNone ? "" : value.text.c_str());
    std::printf("  %s; when unset: %s\n", spec.use, spec.whenUnset);
    for (const auto& note : value.unusable) {
        std::printf("  ignored, %s (the library removes it when it next reads it)\n", note.c_str());
    }
}

void List(bool json) {
    std::string out = json ? "{\"keys\":" + JsonString(KeyPaths()) + ",\"settings\":[" : "";
    if (!json) std::printf("settings from %s\n", KeyPaths().c_str());
    bool first = true;
    for (const SettingSpec& spec : SettingSpecs()) {
        const SettingValue value = ReadSetting(spec);
        if (json) {
            out += std::string(first ? "" : ",") + "{\"name\":" + JsonString(spec.shownName) +
                   ",\"from\":\"" + SourceName(value.source) + "\",\"value\":" +
                   (value.source == SettingSource::kNone ? "null" : JsonString(value.text)) +
                   ",\"whenUnset\":" + JsonString(spec.whenUnset) + ",\"unusable\":[";
            for (size_t i = 0; i < value.unusable.size(); ++i) {
                out += (i ? "," : "") + JsonString(value.unusable[i]);
            }
            out += "]}";
            first = false;
            continue;
        }
        Show(spec);
    }
    if (json) std::printf("%s]}\n", out.c_str());
}

}  // namespace

int RunConfig(const Words& words) {
    const Options options(words, {}, {"json", "machine"});
    const auto& words_ = options.positionals();
    if (words_.empty() || words_[0] == "list") {
        options.AtMostPositionals(1);
        List(options.Has("json"));
        return kExitDone;
    }
    const bool machine = options.Has("machine");
    if (words_[0] == "get") {
        if (words_.size() != 2) throw UsageError("config get takes a setting's name");
        Show(SettingNamed(words_[1]));
        return kExitDone;
    }
    if (words_[0] == "set") {
        if (words_.size() != 3) throw UsageError("config set takes a setting's name and its value");
        const SettingSpec& spec = SettingNamed(words_[1]);
        const LONG status = WriteSetting(spec, machine, words_[2]);
        if (status != ERROR_SUCCESS) {
            std::fprintf(stderr, "dlmgrctl: cannot write %s (error %ld)\n", spec.shownName, status);
            return kExitRefused;
        }
        std::printf("%s set in the %s key; hosts read it %s\n", spec.shownName,
                    machine || spec.machineOnly ? "machine" : "user", spec.read);
        if (spec.name != nullptr && std::strcmp(spec.name, dlmgr::kEngineCommandValue) == 0 &&
            !ProgramFound(words_[2])) {
            std::printf("warning: %s names no program that exists: resume and download again "
                        "are refused until it does\n", words_[2].c_str());
        }
        return kExitDone;
    }
    if (words_[0] == "remove") {
        if (words_.size() != 2) throw UsageError("config remove takes a setting's name");
        const SettingSpec& spec = SettingNamed(words_[1]);
        const LONG status = RemoveSetting(spec, machine);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            std::fprintf(stderr, "dlmgrctl: cannot remove %s (error %ld)\n", spec.shownName, status);
            return kExitRefused;
        }
        std::printf("%s removed from the %s key; hosts read it %s\n", spec.shownName,
                    machine || spec.machineOnly ? "machine" : "user", spec.read);
        return kExitDone;
    }
    throw UsageError("config takes list, get, set or remove, not " + words_[0] +
                     DidYouMean(words_[0], {"list", "get", "set", "remove"}));
}

}  // namespace dlmgrctl
