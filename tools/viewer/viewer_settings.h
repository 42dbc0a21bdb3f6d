// Where the viewer remembers its window's size and its columns' widths: in
// the user's settings key, under value names of its own. Widths are kept at
// 96 dots per inch and scaled to the monitor's.
#pragma once

#include <windows.h>

#include <array>

namespace dlmgrview {

constexpr int kColumnCount = 5;

struct ViewerPlacement {
    RECT window = {};  // empty: let the system place it
    std::array<int, kColumnCount> columns = {110, 90, 110, 320, 260};
};

ViewerPlacement LoadPlacement();
void SavePlacement(const ViewerPlacement& placement);

}  // namespace dlmgrview
