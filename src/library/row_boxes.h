#pragma once

#include <array>
#include <cstdint>

namespace veltrane {

// The tick boxes laid over the library grid's first column: box 0 over the
// title row, box k over the k-th visible data row. Rows are 25 pixels apart.
constexpr int kRowBoxCount = 34;
constexpr int kRowPitch = 25;

struct RowBoxLayout {
    std::array<int, kRowBoxCount> top{};      // top edge of each box in the panel
    std::array<bool, kRowBoxCount> visible{}; // shown after the layout
    std::uint16_t fitRows = 0;                // data-row boxes that fit, 3 to 33
};

// Places the boxes for a grid whose top edge and height in the panel are
// given, with `libraryCount` rows listed. Boxes that do not fit are hidden;
// fitRows never falls below 3 and is 33 when all fit.
RowBoxLayout LayoutRowBoxes(int gridTop, int gridHeight, int libraryCount);

} // namespace veltrane
