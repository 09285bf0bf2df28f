#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "measure/spectrum_store.h"

namespace veltrane {

// The most libraries one export carries: the instrument's store holds no more.
constexpr std::size_t kMaxExportSelection = 2000;
constexpr const char* kTooManyLibrariesMessage =
    "Max 2000 libraries per export!\nThe instrument's library store holds no more.";

enum class LibraryView : std::uint8_t { Pc = 1, Device = 2 };

// The library state record. The transfer worker writes the progress, result
// and status while the GUI thread's timer reads them, hence the atomics.
struct LIB_RW {
    std::string libraryFolder;
    LibraryView libraryView = LibraryView::Pc;
    std::uint8_t libraryMade = 0;
    std::atomic<std::uint8_t> transferStatus{0};
    std::uint8_t transferDirection = 0;
    std::atomic<std::uint8_t> transferResult{0};
    std::atomic<std::uint8_t> transferProgress{0};
    std::uint16_t libraryCount = 0;
    std::uint16_t exportCount = 0;
    std::array<std::uint16_t, kMaxExportSelection> exportSelection{};
    // The files the selected rows were listed from, in the same order: what
    // the export sends, whatever has happened to the folder since.
    std::vector<std::string> exportFiles;
    std::array<float, kMaxPixels> curveIntensity{};
    std::array<float, kMaxPixels> curveAxis{};
};

} // namespace veltrane
