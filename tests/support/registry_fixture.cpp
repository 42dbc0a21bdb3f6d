#include "tests/support/registry_fixture.h"

#include <shlwapi.h>

namespace dlmgr::test {

void SetRegistryString(HKEY root, const std::string& key, const char* name,
                       const std::string& text, DWORD type, bool withTerminator) {
    ::SHSetValueA(root, key.c_str(), name, type, text.c_str(),
                  static_cast<DWORD>(text.size() + (withTerminator ? 1 : 0)));
}

void SetRegistryDword(HKEY root, const std::string& key, const char* name, DWORD value) {
    ::SHSetValueA(root, key.c_str(), name, REG_DWORD, &value, sizeof(value));
}

bool RegistryValueExists(HKEY root, const std::string& key, const char* name) {
    DWORD type = 0;
    DWORD size = 0;
    return ::SHGetValueA(root, key.c_str(), name, &type, nullptr, &size) == ERROR_SUCCESS;
}

void DeleteRegistryKey(HKEY root, const std::string& key) { ::SHDeleteKeyA(root, key.c_str()); }

ScratchSettingsKey::ScratchSettingsKey()
    : path_("Software\\dlmgr-tests\\key-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(::GetTickCount())) {}

ScratchSettingsKey::~ScratchSettingsKey() {
    DeleteRegistryKey(HKEY_CURRENT_USER, path_);
    DeleteRegistryKey(HKEY_LOCAL_MACHINE, path_);
}

}  // namespace dlmgr::test
