#include <gtest/gtest.h>

#include <memory>

#include "app/program_state.h"

namespace veltrane {
namespace {

TEST(ProgramStateStartup, StartupValuesLeaveTheSettingsReadBeforeAlone) {
    auto state = std::make_unique<ProgramState>();
    state->hotkey.keys[2] = "C";
    state->measurement.measureParams.exposureMs = 1500;
    state->measurement.spectrum.signal[17] = 5.0f;
    state->markers.markerSlots[3] = 9;
    state->device.displayHigh = 77;
    state->measurement.measureStatus = 3;
    state->library.lib.libraryView = LibraryView::Device;

    ApplyStartupValues(*state);
    EXPECT_EQ(state->hotkey.keys[2], "C");
    EXPECT_EQ(state->measurement.measureParams.exposureMs, 1500u);
    EXPECT_EQ(state->measurement.spectrum.signal[17], 0.0f);
    EXPECT_EQ(state->markers.markerSlots[3], 0);
    EXPECT_EQ(state->device.displayLow, 400);
    EXPECT_EQ(state->device.displayHigh, 4000);
    EXPECT_EQ(state->measurement.measureStatus, 0);
    EXPECT_EQ(state->library.lib.libraryView, LibraryView::Pc);
    EXPECT_EQ(state->library.fitRows, 7);
    EXPECT_EQ(state->shell.statusIconBase, 750);
    EXPECT_EQ(state->device.deviceState, DeviceConnection::Disconnected);
    EXPECT_EQ(state->device.brandVariant, BrandVariant::Brenmor);
}

} // namespace
} // namespace veltrane
