// Registry values for tests, written and removed for real in the run's
// private Wine prefix.
#pragma once

#include <windows.h>

#include <string>

namespace dlmgr::test {

// These act on the view the module's settings use (the 32-bit one).
void SetRegistryString(HKEY root, const std::string& key, const char* name,
                       const std::string& text, DWORD type = REG_SZ, bool withTerminator = true);
void SetRegistryDword(HKEY root, const std::string& key, const char* name, DWORD value);
bool RegistryValueExists(HKEY root, const std::string& key, const char* name);
void DeleteRegistryKey(HKEY root, const std::string& key);
// A value in the registry's 64-bit view, which the settings must not read.
void SetRegistryStringIn64BitView(HKEY root, const std::string& key, const char* name,
                                  const std::string& text);
// A key of the system's, such as a file association, in this process's own view.
void SetSystemRegistryString(HKEY root, const std::string& key, const std::string& text);
void DeleteSystemRegistryKey(HKEY root, const std::string& key);

// A key path unique to this process, removed from both hives (and both views
// of the machine's) when done.
class ScratchSettingsKey {
public:
    ScratchSettingsKey();
    ~ScratchSettingsKey();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace dlmgr::test
