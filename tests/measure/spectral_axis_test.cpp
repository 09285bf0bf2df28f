#include <gtest/gtest.h>

#include <memory>

#include "app/program_state.h"
#include "measure/spectral_axis.h"

namespace veltrane {
namespace {

std::unique_ptr<ProgramState> Device(std::uint8_t type, std::uint16_t pixels, bool calibrated) {
    auto state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);
    state->device.deviceType = type;
    state->device.pixelCount = pixels;
    state->device.waveCalValid = calibrated;
    state->device.waveCal = {1.0f, 1.0f, 0, 0, 0, 0};
    return state;
}

// A linear calibration whose pixel `first` is the first at or above `low`
// cm-1 and pixel `last` the last at or below `high`, half a wavenumber inside.
void CalibrateFor(ProgramState& state, float laser, int first, double low, int last, double high) {
    double kL = 1e7 / laser;
    double lamFirst = 1e7 / (kL - (low + 0.5));
    double lamLast = 1e7 / (kL - (high - 0.5));
    double slope = (lamLast - lamFirst) / (last - first);
    state.device.waveCal = {static_cast<float>(lamFirst - first * slope), static_cast<float>(slope), 0, 0, 0, 0};
    state.device.laserWavelength = laser;
}

TEST(SpectralAxis, LaserWavelengthZeroUses403nm) {
    auto state = Device(179, 3, true);
    state->device.waveCal = {500.0f, 0, 0, 0, 0, 0};
    ComputeSpectralAxis(state->measurement.spectrum, state->device, 0.0f);
    // kL = 10^7 / 403.25 held as float32 is 24798.51171875; minus 10^7/500.
    EXPECT_EQ(state->measurement.spectrum.axis[0], 4798.51171875f);
    EXPECT_EQ(state->measurement.spectrum.axis[2], 4798.51171875f);
}

TEST(SpectralAxis, UncalibratedLargeSensorCountsPixelsOverTheWholeSensor) {
    auto state = Device(179, 2500, false);
    state->measurement.spectrum.windowFirst = 17;
    state->measurement.spectrum.windowEnd = 33;
    ComputeSpectralAxis(state->measurement.spectrum, state->device, 532.0f);
    EXPECT_EQ(state->measurement.spectrum.axis[0], 1.0f);
    EXPECT_EQ(state->measurement.spectrum.axis[1], 2.0f);
    EXPECT_EQ(state->measurement.spectrum.axis[2499], 2500.0f);
    EXPECT_EQ(state->measurement.spectrum.windowFirst, 0);
    EXPECT_EQ(state->measurement.spectrum.windowEnd, 2500);
    EXPECT_FALSE(RefreshSpectralAxis(state->measurement.spectrum, state->device)); // the axis title stays as it is
}

TEST(SpectralAxis, SmallSensorUsesItsBuiltInPolynomial) {
    auto state = Device(1, 256, false);
    ComputeSpectralAxis(state->measurement.spectrum, state->device, 405.0f);
    EXPECT_FLOAT_EQ(state->measurement.spectrum.axis[0], 323.12415f);
    EXPECT_FLOAT_EQ(state->measurement.spectrum.axis[255], 810.83142f);
    EXPECT_NEAR(SmallSensorPolynomial(128), 604.217, 0.001);
    EXPECT_EQ(state->measurement.spectrum.windowEnd, 256);

    state->device.waveCalValid = true;
    ComputeSpectralAxis(state->measurement.spectrum, state->device, 405.0f);
    float kL = static_cast<float>(1e7 / 405.0);
    EXPECT_FLOAT_EQ(state->measurement.spectrum.axis[255], kL - static_cast<float>(1e7 / 810.83142));
    EXPECT_FLOAT_EQ(state->measurement.spectrum.axis[0], kL - static_cast<float>(1e7 / 323.12415));
}

TEST(SpectralAxis, WindowRunsFromOneBelowTheFirstToOneBeyondTheLastPixelInRange) {
    auto state = Device(179, 2500, true);
    CalibrateFor(*state, 532.0f, 100, 400, 1900, 4000);
    ComputeSpectralAxis(state->measurement.spectrum, state->device, state->device.laserWavelength);
    EXPECT_EQ(state->measurement.spectrum.windowFirst, 99);
    EXPECT_EQ(state->measurement.spectrum.windowEnd, 1902);
    EXPECT_GE(state->measurement.spectrum.axis[100], 400.0f);
    EXPECT_LT(state->measurement.spectrum.axis[99], 400.0f);
    EXPECT_LE(state->measurement.spectrum.axis[1900], 4000.0f);
    EXPECT_GT(state->measurement.spectrum.axis[1901], 4000.0f);
}

TEST(SpectralAxis, WindowClipsToTheSensor) {
    auto state = Device(180, 2048, true);
    // First pixel already above the display low, last pixel below the high.
    CalibrateFor(*state, 785.0f, 0, 450, 2047, 2500);
    state->device.displayLow = 400;
    state->device.displayHigh = 3000;
    ComputeSpectralAxis(state->measurement.spectrum, state->device, state->device.laserWavelength);
    EXPECT_EQ(state->measurement.spectrum.windowFirst, 0);
    EXPECT_EQ(state->measurement.spectrum.windowEnd, 2048);
}

TEST(SpectralAxis, NoPixelBelowTheDisplayHighDrawsTheWholeSensor) {
    auto state = Device(179, 2500, true);
    CalibrateFor(*state, 532.0f, 0, 5000, 2499, 9000);
    state->measurement.spectrum.windowEnd = 1234; // left from another device
    ComputeSpectralAxis(state->measurement.spectrum, state->device, state->device.laserWavelength);
    EXPECT_EQ(state->measurement.spectrum.windowFirst, 0);
    EXPECT_EQ(state->measurement.spectrum.windowEnd, 2500);
}

TEST(SpectralAxis, UnknownTypeKeepsItsAxisAndOnlyResetsTheWindowStart) {
    auto state = Device(77, 2500, true);
    state->measurement.spectrum.axis[5] = 123.0f;
    state->measurement.spectrum.windowFirst = 10;
    state->measurement.spectrum.windowEnd = 20;
    ComputeSpectralAxis(state->measurement.spectrum, state->device, 532.0f);
    EXPECT_EQ(state->measurement.spectrum.axis[5], 123.0f);
    EXPECT_EQ(state->measurement.spectrum.windowFirst, 0);
    EXPECT_EQ(state->measurement.spectrum.windowEnd, 20);
}

} // namespace
} // namespace veltrane
