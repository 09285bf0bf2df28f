#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "device/device_info.h"

namespace veltrane {

// The working record of the measurement: intensities, dark spectrum, X values
// and the drawn pixel window, plus where the data came from.
struct SpectrumStore {
    std::array<float, kMaxPixels> signal{};
    std::array<float, kMaxPixels> dark{};
    std::array<float, kMaxPixels> axis{};
    // Pixels that reached the converter's full scale: in any frame of the
    // signal of a capture, or as a raw file's intensities show it. A clipped
    // band has lost its true height, so what is shown of it is a warning.
    std::array<bool, kMaxPixels> clipped{};
    std::uint16_t windowFirst = 0;
    std::uint16_t windowEnd = 0;
    bool haveMeasured = false;
    bool haveFileData = false;
    // A spectrum opened from another program's file, at its own resolution
    // (any number of points, X ascending), while haveFileData is set. The
    // arrays above then hold it resampled to at most 2500 points: what is
    // drawn, smoothed, marked and exported is this, and only a library
    // entry, which holds 2500 points, is made from the arrays.
    std::vector<float> foreignAxis;
    std::vector<float> foreignSignal;
};

// The shown spectrum is one opened from another program's file; a capture
// or a raw file opened since clears haveFileData or the vectors.
inline bool ShowsForeignSpectrum(const SpectrumStore& s) {
    return s.haveFileData && !s.foreignAxis.empty();
}

// Status values shared by measurement and transfer.
enum class RunStatus : std::uint8_t { None = 0, Succeeded = 1, Running = 2, Failed = 3 };

struct MeasureParams {
    std::uint32_t exposureMs = 0;
    std::uint16_t averageCount = 0;
    std::uint16_t preheatMs = 0;
    std::uint8_t laserPower = 0;
    bool takeDark = false;
};

// Whether the integration time is chosen from trial frames after the
// preheat, so that the strongest pixel reaches `target` of full scale.
struct ExposureMode {
    bool automatic = false;
    double target = 0.7;
};

// Progress of a running measurement. The timer reads these while the worker
// writes them, so they are atomics; a stale value only delays the bar a tick.
// measureStep: 0 dark, 1 laser preheat, 2 signal, 3 done, and 4 while the
// automatic exposure takes its trial frames.
struct MeasureProgress {
    std::atomic<std::uint8_t> measureStep{0};
    std::atomic<std::uint32_t> measureTime{0};
    std::atomic<std::uint32_t> firstDarkMs{0};
    std::atomic<std::uint32_t> firstSignalMs{0};
    std::atomic<std::uint8_t> measurePercent{0};
    // For the phase shown in the status bar: the frame of the average being
    // taken (from 1) and the tick at which the laser preheat began.
    std::atomic<std::uint16_t> frame{0};
    std::atomic<std::uint32_t> preheatStart{0};
    // The integration time the automatic exposure chose, 0 until it has.
    std::atomic<std::uint32_t> chosenExposureMs{0};
};

} // namespace veltrane
