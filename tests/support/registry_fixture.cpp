#include "tests/support/registry_fixture.h"

#include "settings/settings_registry.h"

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
    SetSettingsValue(root, key.c_str(), name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1),
                     KEY_WOW64_64KEY);
}

void SetSystemRegistryString(HKEY root, const std::string& key, const std::string& text) {
    SetSettingsValue(root, key.c_str(), nullptr, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1), 0);
}

void DeleteSystemRegistryKey(HKEY root, const std::string& key) { DeleteSettingsKey(root, key.c_str(), 0); }

ScratchSettingsKey::ScratchSettingsKey()
    : path_("Software\\dlmgr-tests\\key-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(::GetTickCount())) {}

ScratchSettingsKey::~ScratchSettingsKey() {
    DeleteRegistryKey(HKEY_CURRENT_USER, path_);
    DeleteRegistryKey(HKEY_LOCAL_MACHINE, path_);
    DeleteSettingsKey(HKEY_LOCAL_MACHINE, path_.c_str(), KEY_WOW64_64KEY);
}

}  // namespace dlmgr::test
