#include "settings/settings_registry.h"

#include <shlwapi.h>

#include "win/unique_resource.h"

namespace dlmgr {

namespace {

LONG OpenKey(HKEY root, const char* subkey, REGSAM access, UniqueRegistryKey& key,
             REGSAM view = kSettingsView) noexcept {
    HKEY opened = nullptr;
    const LONG status = ::RegOpenKeyExA(root, subkey, 0, access | view, &opened);
    if (status == ERROR_SUCCESS) key.reset(opened);
    return status;
}

}  // namespace

LONG QuerySettingsValue(HKEY root, const char* subkey, const char* name, DWORD* type,
                        void* data, DWORD* bytes) noexcept {
    UniqueRegistryKey key;
    const LONG status = OpenKey(root, subkey, KEY_QUERY_VALUE, key);
    if (status != ERROR_SUCCESS) return status;
    return static_cast<LONG>(::SHQueryValueExA(key.get(), name, nullptr, type, data, bytes));
}

LONG SetSettingsValue(HKEY root, const char* subkey, const char* name, DWORD type,
                      const void* data, DWORD bytes, REGSAM view) noexcept {
    HKEY created = nullptr;
    const LONG status = ::RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr,
                                          &created, nullptr);
    if (status != ERROR_SUCCESS) return status;
    UniqueRegistryKey key(created);
    return ::RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), bytes);
}

LONG DeleteSettingsValue(HKEY root, const char* subkey, const char* name) noexcept {
    UniqueRegistryKey key;
    const LONG status = OpenKey(root, subkey, KEY_SET_VALUE, key);
    if (status != ERROR_SUCCESS) return status;
    return ::RegDeleteValueA(key.get(), name);
}

LONG DeleteSettingsKey(HKEY root, const char* subkey, REGSAM view) noexcept {
    UniqueRegistryKey key;
    LONG status =
        OpenKey(root, subkey, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE, key, view);
    if (status != ERROR_SUCCESS) return status;
    status = ::RegDeleteTreeA(key.get(), nullptr);
    if (status != ERROR_SUCCESS) return status;
    key.reset();
    return ::RegDeleteKeyExA(root, subkey, view, 0);
}

}  // namespace dlmgr
