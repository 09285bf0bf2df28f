#include <gtest/gtest.h>

#include <memory>

#include "app/connection_check.h"
#include "app/program_state.h"
#include "device/device_connection.h"
#include "measure/acquisition.h"
#include "support/sim_rig.h"

namespace veltrane {
namespace {

using test::SimRig;

// An identified instrument of the given model on a virtual clock.
struct Bench {
    SimRig rig;
    std::unique_ptr<ProgramState> state = std::make_unique<ProgramState>();
    AcquisitionContext ctx{rig.link, rig.clock, state->measurement, state->device};
    explicit Bench(SimModel model = SimModelLarge2500()) : rig(std::move(model)) {
        ApplyStartupValues(*state);
        CheckConnection(rig.link, rig.clock, *state);
        rig.instrument->clearLog();
    }
    std::vector<std::uint32_t> ticksOf(std::uint16_t code) const {
        std::vector<std::uint32_t> ticks;
        for (const SimLogEntry& e : rig.entriesOf(code))
            if (e.kind == SimLogEntry::Kind::Command) ticks.push_back(e.tick);
        return ticks;
    }
};

TEST(Acquisition, TimeoutAndPollIntervalRules) {
    EXPECT_EQ(ExposureTimeout(1500), 6000u);
    EXPECT_EQ(ExposurePollInterval(1500), 200u);
    EXPECT_EQ(ExposureTimeout(400), 6000u);
    EXPECT_EQ(ExposurePollInterval(400), 100u);
    EXPECT_EQ(ExposureTimeout(3000), 9000u);
    EXPECT_EQ(ExposurePollInterval(3000), 200u);
    EXPECT_EQ(ExposureTimeout(0), 6000u);
    EXPECT_EQ(ExposurePollInterval(0), 0u);
    EXPECT_EQ(ExposureTimeout(2000), 6000u);
    // The quarter is held in 16 bits before the 200 ms cap.
    EXPECT_EQ(ExposurePollInterval(262144 + 400), 100u);
}

TEST(Acquisition, PollScheduleFollowsTheExposure) {
    struct Case {
        std::uint32_t exposure;
        std::vector<std::uint32_t> polls; // ms after the exposure was started
    };
    // The instrument is ready 12 ms after the exposure time (its readout).
    const Case cases[] = {
        {1500, {750, 950, 1150, 1350, 1550}},
        {400, {200, 300, 400, 500}},
        {3000, {1500, 1700, 1900, 2100, 2300, 2500, 2700, 2900, 3100}},
    };
    for (const Case& c : cases) {
        Bench bench;
        std::uint32_t start = bench.rig.clock.tickCount();
        ASSERT_TRUE(WaitForExposure(bench.ctx, c.exposure)) << c.exposure;
        auto polls = bench.ticksOf(wire::kPollState);
        for (auto& t : polls)
            t -= start;
        EXPECT_EQ(polls, c.polls) << c.exposure;
        EXPECT_EQ(bench.ticksOf(wire::kStartExposure), std::vector<std::uint32_t>{start});
    }
}

TEST(Acquisition, NeverReadyEndsAfterTheTimeout) {
    for (std::uint32_t exposure : {0u, 400u, 1500u, 2000u, 3000u}) {
        Bench bench;
        bench.rig.instrument->setNeverReady(true);
        std::uint32_t start = bench.rig.clock.tickCount();
        EXPECT_FALSE(WaitForExposure(bench.ctx, exposure)) << exposure;
        std::uint32_t elapsed = bench.rig.clock.tickCount() - start;
        std::uint32_t step = std::max<std::uint32_t>(ExposurePollInterval(exposure), 1);
        EXPECT_GE(elapsed, ExposureTimeout(exposure)) << exposure;
        EXPECT_LT(elapsed, ExposureTimeout(exposure) + step) << exposure;
        auto polls = bench.ticksOf(wire::kPollState);
        ASSERT_FALSE(polls.empty());
        EXPECT_EQ(polls.front() - start, exposure / 2) << exposure; // no sleep first for 0 ms
    }
}

TEST(Acquisition, NoDeviceFailsWithoutSendingAnything) {
    Bench bench;
    bench.rig.bridge.unplug();
    float out[4] = {7, 7, 7, 7};
    EXPECT_EQ(Acquire(bench.ctx, out, 100, 2), kAcquireFailed);
    EXPECT_EQ(out[0], 7.0f);
    EXPECT_TRUE(bench.rig.instrument->log().empty());
}

TEST(Acquisition, EachFrameIsDividedByTheCountBeforeItIsAdded) {
    Bench bench;
    std::vector<std::vector<std::uint16_t>> frames;
    for (std::uint16_t v : {30, 60, 90})
        frames.emplace_back(2546, v);
    frames[1][23 + 5] = 65535; // pixel 5, a saturated frame
    bench.rig.instrument->queueFrames(frames);
    std::vector<float> out(kMaxPixels, -1.0f);
    ASSERT_EQ(Acquire(bench.ctx, out.data(), 100, 3), kAcquireSucceeded);
    EXPECT_FLOAT_EQ(out[0], 60.0f);
    EXPECT_FLOAT_EQ(out[2499], 60.0f);
    EXPECT_EQ(out[5], 30.0f / 3.0f + 65535.0f / 3.0f + 90.0f / 3.0f);
    // Ready 112 ms after the start; polled at 50, 75, 100 and 125 ms.
    EXPECT_EQ(bench.state->measurement.progress.firstDarkMs, 125u);
}

TEST(Acquisition, AverageOfZeroLeavesTheDestination) {
    Bench bench;
    float out[2] = {5, 5};
    EXPECT_EQ(Acquire(bench.ctx, out, 100, 0), kAcquireSucceeded);
    EXPECT_EQ(out[0], 5.0f);
    EXPECT_TRUE(bench.rig.instrument->log().empty());
}

// Frames are assembled from 1024-value blocks and the valid pixels taken from
// the sensor's first pixel on.
TEST(Acquisition, FramesOfEachSensorAreAssembledFromTheirBlocks) {
    struct Case {
        SimModel model;
        std::vector<std::uint16_t> blocks;
    };
    SimModel exact2048 = SimModelLarge2048();
    exact2048.frameLength = 2048;
    exact2048.firstPixel = 0;
    exact2048.lastPixel = 2047;
    for (const Case& c : {Case{SimModelLarge2500(), {0, 1, 2}}, Case{SimModelLarge2048(), {0, 1, 2}},
                          Case{exact2048, {0, 1}}, Case{SimModelSmall256(), {0}}}) {
        Bench bench(c.model);
        std::vector<std::uint16_t> frame(c.model.frameLength);
        for (std::size_t i = 0; i < frame.size(); ++i)
            frame[i] = static_cast<std::uint16_t>(i + 1);
        bench.rig.instrument->queueFrames({frame});
        bench.state->measurement.spectrum.signal.fill(-1.0f);
        ASSERT_TRUE(WaitForExposure(bench.ctx, 10));
        ASSERT_TRUE(ReadFrame(bench.ctx));
        std::vector<std::uint16_t> blocks;
        std::vector<std::uint32_t> counts;
        for (const SimLogEntry& e : bench.rig.entriesOf(wire::kReadPixelBlock)) {
            if (e.kind != SimLogEntry::Kind::Command) continue;
            blocks.push_back(GetU16(e.bytes.data() + 26));
            counts.push_back(GetU32(e.bytes.data() + 16));
        }
        EXPECT_EQ(blocks, c.blocks) << c.model.label;
        std::uint32_t expectedCount = c.model.frameLength == 256 ? 256u : 1024u;
        for (std::uint32_t n : counts)
            EXPECT_EQ(n, expectedCount);
        const auto& signal = bench.state->measurement.spectrum.signal;
        std::uint16_t first = bench.state->device.deviceType == 1 ? 0 : c.model.firstPixel;
        EXPECT_EQ(signal[0], first + 1.0f) << c.model.label;
        std::size_t count = bench.state->device.pixelCount;
        EXPECT_EQ(signal[count - 1], first + count * 1.0f) << c.model.label;
        if (bench.state->device.deviceType != 1)
            EXPECT_EQ(signal[count], 0.0f) << c.model.label; // rest cleared
        else
            EXPECT_EQ(signal[count], -1.0f); // rest untouched
    }
}

TEST(Acquisition, FailedBlockReadFailsTheAcquisition) {
    // Where the middle block's command falls, from a clean run.
    std::uint32_t middleBlock = 0;
    {
        Bench clean;
        std::vector<float> out(kMaxPixels);
        ASSERT_EQ(Acquire(clean.ctx, out.data(), 10, 1), kAcquireSucceeded);
        auto codes = clean.rig.commandCodes();
        middleBlock = static_cast<std::uint32_t>(std::find(codes.begin(), codes.end(), wire::kReadPixelBlock) -
                                                 codes.begin() + 1);
    }
    Bench bench;
    bench.rig.instrument->scheduleLoss(middleBlock, SimLossStage::BeforeData);
    std::vector<float> out(kMaxPixels, -2.0f);
    EXPECT_EQ(Acquire(bench.ctx, out.data(), 10, 1), kAcquireFailed);
    EXPECT_EQ(out[0], -2.0f);
}

} // namespace
} // namespace veltrane
