#include "library/row_boxes.h"

namespace veltrane {

RowBoxLayout LayoutRowBoxes(int gridTop, int gridHeight, int libraryCount) {
    RowBoxLayout layout;
    int bottom = gridTop + gridHeight;
    for (int i = 0; i < kRowBoxCount; ++i) {
        int y = gridTop + 6 + kRowPitch * i;
        layout.top[i] = y;
        if (y >= bottom) {
            layout.visible[i] = false;
            // A grid too low for even three rows still keeps three slots
            // ticking, so a short window never loses the first rows' marks.
            if (layout.fitRows == 0 && i >= 4) layout.fitRows = static_cast<std::uint16_t>(i - 1);
            continue;
        }
        layout.visible[i] = i <= libraryCount;
        if (i == kRowBoxCount - 1) layout.fitRows = kRowBoxCount - 1;
    }
    return layout;
}

} // namespace veltrane
