#include "settings/settings_key.h"

#include <shlwapi.h>

#include <cstring>
#include <memory>

namespace dlmgr {

SettingsKey::SettingsKey(HKEY root, const char* subkey, const SettingsKey* fallback) noexcept
    : root_(root), subkey_(), fallback_(fallback) {
    ::lstrcpynA(subkey_, subkey, sizeof(subkey_));
}

void SettingsKey::DeleteValue(const char* name) const noexcept {
    // A user without rights to the machine key fails here; the fallback is
    // asked all the same.
    ::SHDeleteValueA(root_, subkey_, name);
}

DWORD SettingsKey::GetDword(const char* name, DWORD defaultValue) const {
    DWORD type = 0;
    DWORD value = 0;
    DWORD bytes = sizeof(value);
    if (::SHGetValueA(root_, subkey_, name, &type, &value, &bytes) == ERROR_SUCCESS &&
        type == REG_DWORD && bytes == sizeof(value)) {
        return value;
    }
    DeleteValue(name);
    return fallback_ ? fallback_->GetDword(name, defaultValue) : defaultValue;
}

bool SettingsKey::ReadStringHere(const char* name, char* buffer, DWORD size) const {
    // One spare byte so that text stored without its terminator can be ended
    // right after the bytes read.
    std::unique_ptr<char[]> scratch(new char[size + 1]());
    DWORD type = 0;
    DWORD bytes = size;
    if (::SHGetValueA(root_, subkey_, name, &type, scratch.get(), &bytes) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return false;
    }
    scratch[bytes < size ? bytes : size] = '\0';
    std::strncpy(buffer, scratch.get(), size);
    return true;
}

void SettingsKey::GetString(const char* name, char* buffer, DWORD size) const {
    if (ReadStringHere(name, buffer, size)) return;
    DeleteValue(name);
    if (fallback_) fallback_->GetString(name, buffer, size);
}

LONG SettingsKey::SetDword(const char* name, const DWORD* value) const {
    return static_cast<LONG>(
        ::SHSetValueA(root_, subkey_, name, REG_DWORD, value, sizeof(*value)));
}

LONG SettingsKey::SetString(const char* name, const char* text) const {
    return static_cast<LONG>(::SHSetValueA(root_, subkey_, name, REG_SZ, text,
                                           static_cast<DWORD>(std::strlen(text))));
}

}  // namespace dlmgr
