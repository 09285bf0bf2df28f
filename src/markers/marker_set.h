#pragma once

#include <array>
#include <cstdint>

namespace veltrane {

// The frozen copies on the spectrum chart: which series ids the slots hold,
// how many there are, the counter that names the next one and the table row
// being renamed.
struct MarkerSet {
    std::array<std::uint8_t, 7> markerSlots{};
    std::uint8_t markerCount = 0;
    std::uint16_t markerNameCounter = 0;
    std::uint8_t markerRenameRow = 0;
};

} // namespace veltrane
