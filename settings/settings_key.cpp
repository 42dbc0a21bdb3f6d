#include "settings/settings_key.h"

#include <cstring>
#include <memory>

#include "settings/settings_registry.h"

namespace dlmgr {

SettingsKey::SettingsKey(HKEY root, const char* subkey, const SettingsKey* fallback) noexcept
    : root_(root), subkey_(), fallback_(fallback) {
    ::lstrcpynA(subkey_, subkey, sizeof(subkey_));
}

void SettingsKey::DeleteValue(const char* name) const noexcept {
    // A user without rights to the machine key fails here; the fallback is
    // asked all the same.
    DeleteSettingsValue(root_, subkey_, name);
}

// Removing a value that is not there changes nothing and costs calls: only a
// value that exists but cannot be read as asked (of another type or size) is
// removed. A read that failed (no access, no memory) says nothing of the
// value, which is the user's and stays.
void SettingsKey::DeleteUnusable(const char* name, LONG readStatus) const noexcept {
    if (readStatus == ERROR_SUCCESS || readStatus == ERROR_MORE_DATA ||
        readStatus == ERROR_INVALID_DATA) {
        DeleteValue(name);
    }
}

DWORD SettingsKey::GetDword(const char* name, DWORD defaultValue) const {
    DWORD type = 0;
    DWORD value = 0;
    DWORD bytes = sizeof(value);
    const LONG status = QuerySettingsValue(root_, subkey_, name, &type, &value, &bytes);
    if (status == ERROR_SUCCESS && type == REG_DWORD && bytes == sizeof(value)) return value;
    DeleteUnusable(name, status);
    return fallback_ ? fallback_->GetDword(name, defaultValue) : defaultValue;
}

LONG SettingsKey::ReadString(const char* name, char* buffer, DWORD size) const {
    // One spare byte so that text stored without its terminator can be ended
    // right after the bytes read.
    std::unique_ptr<char[]> scratch(new char[size + 1]());
    DWORD type = 0;
    DWORD bytes = size;
    const LONG status = QuerySettingsValue(root_, subkey_, name, &type, scratch.get(), &bytes);
    if (status != ERROR_SUCCESS) return status;
    if (type != REG_SZ) return ERROR_INVALID_DATA;
    scratch[bytes < size ? bytes : size] = '\0';
    std::strncpy(buffer, scratch.get(), size);
    return ERROR_SUCCESS;
}

bool SettingsKey::ReadStringHere(const char* name, char* buffer, DWORD size) const {
    return ReadString(name, buffer, size) == ERROR_SUCCESS;
}

void SettingsKey::GetString(const char* name, char* buffer, DWORD size) const {
    const LONG status = ReadString(name, buffer, size);
    if (status == ERROR_SUCCESS) return;
    DeleteUnusable(name, status);
    if (fallback_) fallback_->GetString(name, buffer, size);
}

LONG SettingsKey::SetDword(const char* name, const DWORD* value) const {
    return SetSettingsValue(root_, subkey_, name, REG_DWORD, value, sizeof(*value));
}

LONG SettingsKey::SetString(const char* name, const char* text) const {
    return SetSettingsValue(root_, subkey_, name, REG_SZ, text, static_cast<DWORD>(std::strlen(text)));
}

}  // namespace dlmgr
