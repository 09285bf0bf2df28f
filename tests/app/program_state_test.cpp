#include <gtest/gtest.h>

#include <memory>

#include "app/program_state.h"

namespace veltrane {
namespace {

TEST(ProgramStateStartup, StartupValuesLeaveTheSettingsReadBeforeAlone) {
    auto state = std::make_unique<ProgramState>();
    state->hotkey.keys[2] = "C";
    state->measureParams.exposureMs = 1500;
    state->spectrum.signal[17] = 5.0f;
    state->markerSlots[3] = 9;
    state->displayHigh = 77;
    state->measureStatus = 3;
    state->lib.libraryView = LibraryView::Device;

    ApplyStartupValues(*state);
    EXPECT_EQ(state->hotkey.keys[2], "C");
    EXPECT_EQ(state->measureParams.exposureMs, 1500u);
    EXPECT_EQ(state->spectrum.signal[17], 0.0f);
    EXPECT_EQ(state->markerSlots[3], 0);
    EXPECT_EQ(state->displayLow, 400);
    EXPECT_EQ(state->displayHigh, 4000);
    EXPECT_EQ(state->measureStatus, 0);
    EXPECT_EQ(state->lib.libraryView, LibraryView::Pc);
    EXPECT_EQ(state->fitRows, 7);
    EXPECT_EQ(state->statusIconBase, 750);
    EXPECT_EQ(state->deviceState, DeviceConnection::Disconnected);
    EXPECT_EQ(state->brandVariant, BrandVariant::Brenmor);
}

} // namespace
} // namespace veltrane
