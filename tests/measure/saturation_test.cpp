#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "app/connection_check.h"
#include "app/program_state.h"
#include "device/sensor_limits.h"
#include "measure/auto_exposure.h"
#include "measure/measurement.h"
#include "measure/raw_spectrum_file.h"
#include "measure/saturation.h"
#include "support/sim_rig.h"

namespace veltrane {
namespace {

using test::SimRig;

// One measurement of a sample on the virtual instrument, as the window runs it.
struct Capture {
    SimRig rig;
    std::unique_ptr<ProgramState> state = std::make_unique<ProgramState>();
    Capture(SimModel model, SimSample sample, double laserPercent = 100.0) : rig(std::move(model), sample) {
        rig.instrument->setLaserPower(laserPercent);
        ApplyStartupValues(*state);
        CheckConnection(rig.link, rig.clock, *state);
        rig.instrument->clearLog();
    }
    void run(std::uint32_t exposureMs, bool automatic, std::uint16_t average = 1) {
        state->measurement.measureParams = {exposureMs, average, 20000, 100, true};
        state->measurement.exposureMode.automatic = automatic;
        AcquisitionContext ctx{rig.link, rig.clock, state->measurement, state->device};
        RunMeasurement(ctx);
        ASSERT_EQ(state->measurement.measureStatus, 1);
    }
    // Integration times of the exposures started, in wire order.
    std::vector<std::uint32_t> exposures() const {
        std::vector<std::uint32_t> out;
        for (const SimLogEntry& e : rig.entriesOf(wire::kStartExposure))
            if (e.kind == SimLogEntry::Kind::Command) out.push_back(GetU32(e.bytes.data() + wire::kOffParams + 2));
        return out;
    }
    std::size_t saturated() const {
        return SaturatedPixelCount(state->measurement.spectrum, state->device.pixelCount);
    }
    // The strongest pixel of the signal as the converter counted it, before
    // the dark is taken off, as a share of full scale.
    double peakShare() const {
        const auto& signal = state->measurement.spectrum.signal;
        return *std::max_element(signal.begin(), signal.begin() + state->device.pixelCount) / 65535.0;
    }
};

TEST(Saturation, FullScaleOfTheKnownSensorsAndTheWarnings) {
    for (std::uint8_t type : {1, 179, 180}) {
        EXPECT_EQ(SensorLimitsOf(type).converterBits, 16) << int(type);
        EXPECT_EQ(SensorLimitsOf(type).fullScale, 65535u) << int(type);
    }
    EXPECT_EQ(SensorLimitsOf(77).fullScale, 0u);
    EXPECT_EQ(SaturationWarning(1), "Saturated: 1 pixel \xE2\x80\x94 reduce Int.time");
    EXPECT_EQ(SaturationWarning(37), "Saturated: 37 pixels \xE2\x80\x94 reduce Int.time");
}

// Polystyrene's 1001 cm-1 band clips at 15 s and not at 1 s. A pixel that
// reached full scale in only one frame of an average counts too. The saved
// file, which keeps only the dark-corrected intensities, tells the same
// count.
TEST(Saturation, ClippedPixelsOfACaptureAndOfItsRawFile) {
    Capture weak(SimModelLarge2500(), SimSample::Polystyrene);
    weak.run(1000, false);
    EXPECT_EQ(weak.saturated(), 0u);

    Capture strong(SimModelLarge2500(), SimSample::Polystyrene);
    strong.run(15000, false);
    const std::size_t clipped = strong.saturated();
    EXPECT_GT(clipped, 0u);
    const SpectrumStore& s = strong.state->measurement.spectrum;
    for (std::size_t i = 0; i < strong.state->device.pixelCount; ++i)
        ASSERT_EQ(s.clipped[i], s.signal[i] == 65535.0f) << i;

    RawFileRecord record;
    std::string bytes =
        BuildRawSpectrumFile(strong.state->measurement, strong.state->device, "poly.rsd", {2024, 5, 7, 9, 3, 12}, record);
    ASSERT_EQ(DecodeRawSpectrumFile(bytes, record), RawFileCheck::Ok);
    EXPECT_EQ(SaturatedPixelCount(record), clipped);
    // The same intensities from a sensor the program does not know count nothing.
    record.header.setModelCode(0xFFFF);
    EXPECT_EQ(SaturatedPixelCount(record), 0u);

    // Three frames, only the second clipped at pixel 5.
    SimRig rig;
    auto state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);
    CheckConnection(rig.link, rig.clock, *state);
    std::vector<std::vector<std::uint16_t>> frames(3, std::vector<std::uint16_t>(2546, 1000));
    frames[1][23 + 5] = 65535;
    rig.instrument->queueFrames(frames);
    AcquisitionContext ctx{rig.link, rig.clock, state->measurement, state->device};
    auto& spectrum = state->measurement.spectrum;
    spectrum.clipped[9] = true; // of an earlier capture
    ASSERT_EQ(Acquire(ctx, spectrum.signal.data(), 100, 3, spectrum.clipped.data()), kAcquireSucceeded);
    EXPECT_LT(spectrum.signal[5], 65535.0f);
    EXPECT_EQ(SaturatedPixelCount(spectrum, 2500), 1u);
    EXPECT_TRUE(spectrum.clipped[5]);
}

// Samples from the faint glow of an empty holder to a scatterer hundreds of
// times stronger than polystyrene: the trials run with the laser on after
// the one preheat, at most five of them, and the signal and then the dark
// are taken at the time they chose.
TEST(AutoExposure, BringsTheStrongestPixelToTheTargetWithinTheSensorsLimits) {
    SimModel bright = SimModelLarge2500();
    bright.ramanScale *= 300;
    struct Case {
        const char* name;
        SimModel model;
        SimSample sample;
        double laserPercent;
        std::uint32_t expectedExposure; // 0: any that reaches the target
    };
    const Case cases[] = {
        {"polystyrene", SimModelLarge2500(), SimSample::Polystyrene, 100, 0},
        {"paracetamol at 785 nm", SimModelLarge2048(), SimSample::Paracetamol, 100, 0},
        {"cyclohexane at a third of the laser", SimModelLarge2500(), SimSample::Cyclohexane, 30, 0},
        {"a very strong scatterer", bright, SimSample::Polystyrene, 100, 0},
        {"an empty holder", SimModelLarge2500(), SimSample::Empty, 100, 60000},
        {"too strong even for the shortest time", bright, SimSample::Polystyrene, 1000, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Capture capture(c.model, c.sample, c.laserPercent);
        capture.run(3000, true);
        const std::uint32_t chosen = capture.state->measurement.progress.chosenExposureMs;
        const SensorLimits limits = SensorLimitsOf(capture.state->device.deviceType);
        EXPECT_GE(chosen, limits.minExposureMs);
        EXPECT_LE(chosen, limits.maxExposureMs);
        // Laser on once, trials, the signal, laser off, the dark.
        std::string sequence;
        for (std::uint16_t code : capture.rig.commandCodes())
            if (code == wire::kSetLaser || code == wire::kStartExposure) sequence += code == wire::kSetLaser ? 'L' : 'E';
        const std::size_t trials = sequence.size() - 4;
        EXPECT_GE(trials, 1u);
        EXPECT_LE(trials, static_cast<std::size_t>(kMaxExposureTrials));
        EXPECT_EQ(sequence, "L" + std::string(trials, 'E') + "ELE");
        const std::vector<std::uint32_t> times = capture.exposures();
        EXPECT_EQ(times[times.size() - 2], chosen);
        EXPECT_EQ(times.back(), chosen);
        if (c.expectedExposure) {
            EXPECT_EQ(chosen, c.expectedExposure);
        } else {
            EXPECT_EQ(capture.saturated(), 0u);
            EXPECT_NEAR(capture.peakShare(), kDefaultExposureTarget, 0.1);
        }
    }
}

} // namespace
} // namespace veltrane
