#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "device/device_info.h"
#include "library/library_state.h"
#include "markers/marker_set.h"
#include "measure/measurement_session.h"
#include "shared/program_constants.h"
#include "shared/window_rules.h"

namespace veltrane {

// The eight hotkey texts, in the order of their functions.
constexpr std::size_t kHotkeyCount = 8;
struct HOTKEY {
    std::uint8_t count = 0;
    std::array<std::string, kHotkeyCount> keys;
};

// The main window's own geometry and mode, and whether settings were saved.
struct ShellState {
    ActiveMode activeMode = ActiveMode::Spectrum;
    int screenWidth = 0;
    int screenHeight = 0;
    int mainLeft = 0;
    int mainTop = 0;
    int mainWidth = 0;
    int mainHeight = 0;
    int statusIconBase = 0;
    std::uint8_t settingsSaved = 0;
};

// Everything the window program keeps, one state per subsystem. Each
// subsystem's functions take only their own part (and what they read of the
// others); only the composition root sees the whole.
struct ProgramState {
    DeviceInfo device;
    ShellState shell;
    MeasurementSession measurement;
    LibraryState library;
    MarkerSet markers;
    HOTKEY hotkey;
};

// Start-up values given while the main window is created. The settings read
// just before (hotkeys, measurement parameters) are left as they are.
void ApplyStartupValues(ProgramState& state);

} // namespace veltrane
