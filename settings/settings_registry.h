// The registry as the settings use it: every build, 32- or 64-bit, reads and
// writes the 32-bit view. 32-bit installers and hosts keep the machine key
// there (under Wow6432Node on 64-bit Windows), and hosts of both builds that
// share one table must follow one set of settings. The user key is shared by
// both views, and 32-bit Windows has only the one view.
#pragma once

#include <windows.h>

namespace dlmgr {

constexpr REGSAM kSettingsView = KEY_WOW64_32KEY;

// As SHGetValueA (REG_EXPAND_SZ comes back expanded, as REG_SZ): a status of
// ERROR_FILE_NOT_FOUND when the key or the value is missing.
LONG QuerySettingsValue(HKEY root, const char* subkey, const char* name, DWORD* type,
                        void* data, DWORD* bytes) noexcept;
// Creates the key when it is missing. Another view (KEY_WOW64_64KEY, or 0 for
// the process's own) is for keys that are not settings, and for tests.
LONG SetSettingsValue(HKEY root, const char* subkey, const char* name, DWORD type,
                      const void* data, DWORD bytes, REGSAM view = kSettingsView) noexcept;
LONG DeleteSettingsValue(HKEY root, const char* subkey, const char* name) noexcept;
// The key and everything under it.
LONG DeleteSettingsKey(HKEY root, const char* subkey, REGSAM view = kSettingsView) noexcept;

}  // namespace dlmgr
