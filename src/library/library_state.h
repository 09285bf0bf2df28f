#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "library/lib_rw.h"

namespace veltrane {

// The Linker page's state: the library record (folder, view, transfer
// progress), the ticks of the listed rows and the grid's scrolling. The
// transfer worker writes the record's atomics and last transferState with
// release order; the timer loads transferState with acquire order first.
struct LibraryState {
    LIB_RW lib;
    std::atomic<std::uint8_t> transferState{0};
    std::vector<std::uint8_t> rowTicks;
    std::uint16_t fitRows = 0;
    int currentRow = 0;
    bool ignoreNextClick = false;
};

} // namespace veltrane
