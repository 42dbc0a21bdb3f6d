// The module's settings as the registry holds them now, read without
// changing anything: the module removes a value it cannot use when it next
// reads it, dlmgrctl only reports it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace dlmgrctl {

struct SettingSpec {
    const char* name;       // nullptr: the key's default (unnamed) value
    const char* shownName;  // "(default)" for the unnamed value
    bool number;            // a REG_DWORD, else a REG_SZ
    DWORD limit;            // bytes of text the module reads, a terminator included
    bool machineOnly;
    const char* whenUnset;  // what applies when it is set nowhere
    const char* use;
    const char* read;       // when hosts read it, so when a change applies
};

const std::vector<SettingSpec>& SettingSpecs();
// By name in any case; "(default)" or "default" for the unnamed value.
const SettingSpec* FindSetting(const std::string& name);

enum class SettingSource { kUser, kMachine, kNone };

struct SettingValue {
    SettingSource source = SettingSource::kNone;
    std::string text;  // as the module would use it; numbers in decimal
    // Values present but unusable, which the module will remove on reading.
    std::vector<std::string> unusable;
};

// The user key first, then the machine key (the machine key alone for the
// unnamed value), as the module looks.
SettingValue ReadSetting(const SettingSpec& spec);
// Both return the registry's status; value is checked against the setting's
// type and size first (UsageError).
LONG WriteSetting(const SettingSpec& spec, bool machine, const std::string& value);
LONG RemoveSetting(const SettingSpec& spec, bool machine);

const char* SourceName(SettingSource source);

}  // namespace dlmgrctl
