#include "tests/support/registry_fixture.h"

#include <shlwapi.h>

#include "settings/settings_registry.h"
#include "win/unique_resource.h"

namespace dlmgr::test {

void SetRegistryString(HKEY root, const std::string& key, const char* name,
                       const std::string& text, DWORD type, bool withTerminator) {
    SetSettingsValue(root, key.c_str(), name, type, text.c_str(),
                     static_cast<DWORD>(text.size() + (withTerminator ? 1 : 0)));
}

void SetRegistryDword(HKEY root, const std::string& key, const char* name, DWORD value) {
    SetSettingsValue(root, key.c_str(), name, REG_DWORD, &value, sizeof(value));
}

bool RegistryValueExists(HKEY root, const std::string& key, const char* name) {
    DWORD type = 0;
    DWORD size = 0;
    return QuerySettingsValue(root, key.c_str(), name, &type, nullptr, &size) == ERROR_SUCCESS;
}

void DeleteRegistryKey(HKEY root, const std::string& key) { DeleteSettingsKey(root, key.c_str()); }

void SetRegistryStringIn64BitView(HKEY root, const std::string& key, const char* name,
                                  const std::string& text) {
    HKEY created = nullptr;
    if (::RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                          &created, nullptr) != ERROR_SUCCESS) {
        return;
    }
    const UniqueRegistryKey owned(created);
    ::RegSetValueExA(owned.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1));
}

void SetSystemRegistryString(HKEY root, const std::string& key, const std::string& text) {
    ::SHSetValueA(root, key.c_str(), nullptr, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

void DeleteSystemRegistryKey(HKEY root, const std::string& key) { ::SHDeleteKeyA(root, key.c_str()); }

ScratchSettingsKey::ScratchSettingsKey()
    : path_("Software\\dlmgr-tests\\key-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(::GetTickCount())) {}

ScratchSettingsKey::~ScratchSettingsKey() {
    DeleteRegistryKey(HKEY_CURRENT_USER, path_);
    DeleteRegistryKey(HKEY_LOCAL_MACHINE, path_);
    ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), KEY_WOW64_64KEY, 0);
}

}  // namespace dlmgr::test
