#include "tools/viewer/viewer_settings.h"

#include "settings/settings_names.h"
#include "win/unique_resource.h"

namespace dlmgrview {

namespace {

constexpr char kWindowValue[] = "DlmgrViewWindow";
constexpr char kColumnsValue[] = "DlmgrViewColumns";

template <typename T>
bool Read(const char* name, T& value) {
    DWORD size = sizeof(value);
    return ::RegGetValueA(HKEY_CURRENT_USER, dlmgr::kSettingsKeyPath, name, RRF_RT_REG_BINARY,
                          nullptr, &value, &size) == ERROR_SUCCESS &&
           size == sizeof(value);
}

template <typename T>
void Write(const char* name, const T& value) {
    HKEY opened = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, dlmgr::kSettingsKeyPath, 0, nullptr, 0, KEY_SET_VALUE,
                          nullptr, &opened, nullptr) != ERROR_SUCCESS) {
        return;
    }
    const dlmgr::UniqueRegistryKey key(opened);
    ::RegSetValueExA(key.get(), name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&value),
                     sizeof(value));
}

}  // namespace

ViewerPlacement LoadPlacement() {
    ViewerPlacement placement;
    RECT window = {};
    if (Read(kWindowValue, window) && window.right - window.left >= 200 &&
        window.bottom - window.top >= 150) {
        placement.window = window;
    }
    std::array<int, kColumnCount> columns = {};
    if (Read(kColumnsValue, columns)) {
        bool usable = true;
        for (int width : columns) usable = usable && width >= 20 && width <= 4000;
        if (usable) placement.columns = columns;
    }
    return placement;
}

void SavePlacement(const ViewerPlacement& placement) {
    Write(kWindowValue, placement.window);
    Write(kColumnsValue, placement.columns);
}

}  // namespace dlmgrview
