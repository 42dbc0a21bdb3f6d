// A registry key under one root that may fall back on another key. A value
// that cannot be read as the expected type is removed from the key where the
// read failed, so a damaged user value gives way to the machine's.
#pragma once

#include <windows.h>

namespace dlmgr {

class SettingsKey {
public:
    static constexpr size_t kSubkeySize = 256;

    SettingsKey(HKEY root, const char* subkey, const SettingsKey* fallback) noexcept;
    SettingsKey(const SettingsKey&) = delete;
    SettingsKey& operator=(const SettingsKey&) = delete;

    // The value's 32 bits, or the fallback's, or defaultValue.
    virtual DWORD GetDword(const char* name, DWORD defaultValue) const;
    // buffer holds the default on entry and is changed only when a value is
    // found; at most size bytes are written, the rest of them filled with NULs.
    virtual void GetString(const char* name, char* buffer, DWORD size) const;
    virtual LONG SetDword(const char* name, const DWORD* value) const;
    virtual LONG SetString(const char* name, const char* text) const;

    // Reads a string of this key alone: no fallback, and nothing is deleted
    // when the read fails. True when buffer now holds the value.
    bool ReadStringHere(const char* name, char* buffer, DWORD size) const;

private:
    // ERROR_SUCCESS when buffer now holds the value; otherwise the reason.
    LONG ReadString(const char* name, char* buffer, DWORD size) const;
    void DeleteValue(const char* name) const noexcept;
    void DeleteUnusable(const char* name, LONG readStatus) const noexcept;

    HKEY root_;
    char subkey_[kSubkeySize];
    const SettingsKey* fallback_;
};

}  // namespace dlmgr
