#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "library/lib_rw.h"
#include "measure/raw_spectrum_file.h"
#include "measure/spectrum_store.h"
#include "shared/program_constants.h"
#include "shared/window_rules.h"

namespace veltrane {

enum class DeviceConnection : std::uint8_t { Disconnected = 0, NewlyConnected = 1, Connected = 2 };

// The eight hotkey texts, in the order of their functions.
constexpr std::size_t kHotkeyCount = 8;
struct HOTKEY {
    std::uint8_t count = 0;
    std::array<std::string, kHotkeyCount> keys;
};

// The one process-wide record that windows, timers and the two workers share.
// Fields the workers write while the GUI thread reads are atomics; the rest
// follow the hand-over through measureState and transferState (written last
// by a worker with release order, read by the timers with acquire order).
struct ProgramState {
    // Which brand this process shows. The build fixes it; tests set the other.
    BrandVariant brandVariant = kBrandVariant;

    // Device group.
    DeviceConnection deviceState = DeviceConnection::Disconnected;
    bool deviceIdentified = false;
    std::uint8_t deviceType = 0;
    std::uint16_t pixelTotal = 0;
    std::uint16_t pixelFirst = 0;
    std::uint16_t pixelLast = 0;
    std::uint16_t pixelCount = 0;
    float laserWavelength = 0.0f;
    std::uint8_t hwVersionMajor = 0;
    std::uint8_t hwVersionMinor = 0;
    std::uint16_t fwVersionMajor = 0;
    std::uint16_t fwVersionMinor = 0;
    std::string modelName;
    std::string opticsSerial;
    std::uint32_t deviceSerial = 0;
    std::array<float, 6> waveCal{};
    bool waveCalValid = false;
    std::uint16_t displayLow = 0;
    std::uint16_t displayHigh = 0;
    // A present device that was refused (unusable sensor geometry) and the
    // user told so; cleared when no device is found, so a replug tells again.
    bool deviceRefusalShown = false;

    // Shell group.
    ActiveMode activeMode = ActiveMode::Spectrum;
    int screenWidth = 0;
    int screenHeight = 0;
    int mainLeft = 0;
    int mainTop = 0;
    int mainWidth = 0;
    int mainHeight = 0;
    int statusIconBase = 0;
    std::uint8_t settingsSaved = 0;

    // Measurement group.
    std::atomic<std::uint8_t> measureState{0};
    std::atomic<std::uint8_t> measureStatus{0};
    // The last measurement could not get the laser confirmed off while the
    // instrument was still attached. Written by the worker before its final
    // measureState, read and cleared by the timer.
    std::atomic<bool> laserOffFailed{false};
    // A measurement worker has been started and has not returned yet. Raised
    // before the worker starts and lowered once it has returned; a device
    // loss resets measureState but not this, because the old worker still
    // writes the spectrum buffers until it ends.
    std::atomic<bool> measureWorkerRunning{false};
    MeasureParams measureParams;
    MeasureProgress progress;
    SpectrumStore spectrum;
    RawFileRecord rawFile;

    // Library and transfer group.
    LIB_RW lib;
    std::atomic<std::uint8_t> transferState{0};
    std::vector<std::uint8_t> rowTicks;
    std::uint16_t fitRows = 0;
    int currentRow = 0;
    bool ignoreNextClick = false;

    // Marker group.
    std::array<std::uint8_t, 7> markerSlots{};
    std::uint8_t markerCount = 0;
    std::uint16_t markerNameCounter = 0;
    std::uint8_t markerRenameRow = 0;

    // Hotkey group.
    HOTKEY hotkey;
};

// Whether the spectrum buffers belong to a measurement: while they do, every
// action that reads or writes them, and the switch to the Linker mode, waits.
inline bool MeasurementBusy(const ProgramState& state) {
    return state.measureState.load(std::memory_order_acquire) != 0 ||
           state.measureWorkerRunning.load(std::memory_order_acquire);
}

// Start-up values given while the main window is created. The settings read
// just before (hotkeys, measurement parameters) are left as they are.
void ApplyStartupValues(ProgramState& state);

} // namespace veltrane
