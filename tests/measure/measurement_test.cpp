#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "app/connection_check.h"
#include "app/program_state.h"
#include "device/device_connection.h"
#include "measure/measurement.h"
#include "platform/worker_thread.h"
#include "support/sim_rig.h"

namespace veltrane {
namespace {

using test::SimRig;

std::unique_ptr<ProgramState> Connected() {
    auto state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);
    state->device.deviceState = DeviceConnection::Connected;
    state->device.deviceType = 179;
    return state;
}

CaptureCheck Check(ProgramState& state, std::string exposure, std::string average, std::string preheat,
                   std::string power) {
    return CheckCapture({exposure, average, preheat, power, true}, state.measurement, state.device, false);
}

TEST(CaptureChecks, MessagePrecedenceLastCodeWins) {
    auto none = std::make_unique<ProgramState>();
    ApplyStartupValues(*none);
    EXPECT_EQ(Check(*none, "3000", "0", "20000", "100").code, CaptureCode::NoDevice);

    auto state = Connected();
    EXPECT_EQ(Check(*state, "3000", "1", "15000", "0").code, CaptureCode::PreheatTooShort);
    EXPECT_EQ(std::string(CaptureMessage(CaptureCode::PreheatTooShort)), "Preheat can not lower than 20000ms!");

    state->measurement.measureParams.preheatMs = 20000;
    EXPECT_EQ(Check(*state, "3000", "1", "0", "100").code, CaptureCode::PreheatNotPositive);
    state->measurement.measureParams.preheatMs = 19000;
    EXPECT_EQ(Check(*state, "3000", "1", "0", "100").code, CaptureCode::PreheatTooShort);

    EXPECT_EQ(Check(*state, "3000", "1", "70000", "100").code, CaptureCode::PreheatTooShort);
    EXPECT_EQ(state->measurement.measureParams.preheatMs, 4464);
    EXPECT_EQ(Check(*state, "3000", "-2", "20000", "300").code, CaptureCode::AverageNotPositive);
    EXPECT_EQ(state->measurement.measureParams.laserPower, 44);

    CaptureCheck ok = Check(*state, "1500.7", "3", "25000.9", "100");
    EXPECT_EQ(ok.code, CaptureCode::Start);
    EXPECT_EQ(state->measurement.measureParams.exposureMs, 1500u);
    EXPECT_EQ(state->measurement.measureParams.averageCount, 3);
    EXPECT_EQ(state->measurement.measureParams.preheatMs, 25000);

    state->measurement.measureState = 1;
    EXPECT_EQ(Check(*state, "x", "y", "z", "w").code, CaptureCode::MeasureProcessing);
    state->measurement.measureState = 0;
    EXPECT_EQ(CheckCapture({"3000", "1", "20000", "100", true}, state->measurement, state->device, true).code,
              CaptureCode::MeasureProcessing);
}

TEST(CaptureChecks, ExposureFromZeroToTheLargestTheTimeOutCanHold) {
    auto state = Connected();
    state->measurement.measureParams.exposureMs = 1000;
    EXPECT_EQ(Check(*state, "-5", "1", "20000", "100").code, CaptureCode::ExposureNegative);
    EXPECT_EQ(Check(*state, "1431655766", "1", "20000", "100").code, CaptureCode::ExposureTooLong);
    EXPECT_EQ(state->measurement.measureParams.exposureMs, 1000u); // refused values are not stored
    EXPECT_EQ(std::string(CaptureMessage(CaptureCode::ExposureTooLong)),
              "Int.time can not be over " + std::to_string(kMaxExposureMs) + "ms!");
    EXPECT_EQ(Check(*state, "0", "1", "20000", "100").code, CaptureCode::Start);
    EXPECT_EQ(state->measurement.measureParams.exposureMs, 0u);
    EXPECT_EQ(Check(*state, "1431655765", "1", "20000", "100").code, CaptureCode::Start);
    EXPECT_EQ(ExposureTimeout(kMaxExposureMs), 4294967295u); // three times it still fits
    // Later complaints still win, as with every other box.
    EXPECT_EQ(Check(*state, "-1", "1", "100", "100").code, CaptureCode::PreheatTooShort);
}

TEST(CaptureChecks, ValuesAreCheckedAsTheirFieldsHoldThem) {
    auto state = Connected();
    state->measurement.measureParams.averageCount = 4;
    for (const char* average : {"65536", "131072", "4294967296"}) {
        EXPECT_EQ(Check(*state, "3000", average, "20000", "100").code, CaptureCode::AverageNotPositive) << average;
        EXPECT_EQ(state->measurement.measureParams.averageCount, 4);
    }
    EXPECT_EQ(Check(*state, "3000", "65537", "20000", "100").code, CaptureCode::Start);
    EXPECT_EQ(state->measurement.measureParams.averageCount, 1);
    EXPECT_EQ(Check(*state, "3000", "1", "20000", "256").code, CaptureCode::PowerNotPositive);
}

TEST(CaptureChecks, ASensorTheProgramCannotReadIsRefused) {
    SimRig rig(SimModelUnknown());
    auto state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);
    CheckConnection(rig.link, rig.clock, *state);
    ASSERT_EQ(state->device.deviceState, DeviceConnection::Connected);
    CaptureCheck c = Check(*state, "3000", "1", "15000", "100");
    EXPECT_EQ(c.code, CaptureCode::DeviceNotSupported); // over the preheat complaint
    EXPECT_EQ(std::string(CaptureMessage(c.code)), "Device not supported!");
    // The worker itself never switches the laser on for it either.
    rig.instrument->clearLog();
    AcquisitionContext ctx{rig.link, rig.clock, state->measurement, state->device, nullptr};
    RunMeasurement(ctx);
    EXPECT_EQ(state->measurement.measureStatus, 3);
    EXPECT_TRUE(rig.commandCodes().empty()); // nothing sent, the laser never on
}

TEST(CaptureChecks, TextThatIsNoNumberEndsTheReadAtThatBox) {
    auto state = Connected();
    state->measurement.measureParams.averageCount = 9;
    CaptureCheck c = Check(*state, "2000", "abc", "30000", "100");
    ASSERT_TRUE(c.conversionError);
    EXPECT_EQ(*c.conversionError, "'abc' is not a valid floating point value");
    EXPECT_EQ(state->measurement.measureParams.exposureMs, 2000u);
    EXPECT_EQ(state->measurement.measureParams.preheatMs, 30000); // read before the average box
    EXPECT_EQ(state->measurement.measureParams.averageCount, 9);
    EXPECT_FALSE(ParseTruncatedDecimal("0x10"));
    EXPECT_FALSE(ParseTruncatedDecimal(""));
    EXPECT_EQ(ParseTruncatedDecimal(" -3.9 "), -3);
    EXPECT_EQ(ParseTruncatedDecimal("1e3"), 1000);
}

TEST(Progress, EstimateCapsBeforeTheFirstDarkFrameAndNeverPasses100) {
    auto state = Connected();
    state->measurement.measureParams = {1000, 2, 20000, 100, true};
    state->measurement.progress.measureTime = 5000;
    state->measurement.progress.measureStep = 0;
    // total = 4 x 2 x 1000 + 20000 = 28000; before the first dark frame the bar
    // stops at 1000 x 200 / 28000 = 7 %.
    EXPECT_EQ(MeasureProgressPercent(state->measurement, 5000 + 100), 0);
    EXPECT_EQ(MeasureProgressPercent(state->measurement, 5000 + 5000), 7);
    state->measurement.progress.firstDarkMs = 1100;
    // adj = 2000 - 1100 = 900: (1500 + 900) x 100 / 28000 = 8.
    EXPECT_EQ(MeasureProgressPercent(state->measurement, 5000 + 1500), 8);
    state->measurement.progress.measureStep = 2;
    state->measurement.progress.firstSignalMs = 2500; // adj += 2000 - 2500, which wraps and comes back
    EXPECT_EQ(MeasureProgressPercent(state->measurement, 5000 + 25000), (25000 + 900 - 500) * 100 / 28000);
    EXPECT_EQ(MeasureProgressPercent(state->measurement, 5000 + 400000), 100);
    // The tick counter wrapping between start and now changes nothing.
    state->measurement.progress.measureTime = 0xFFFFFF00u;
    EXPECT_EQ(MeasureProgressPercent(state->measurement, 0xFFFFFF00u + 25000), (25000 + 900 - 500) * 100 / 28000);
}

TEST(AverageArrows, StepWithinSixteenBits) {
    EXPECT_EQ(StepAverage("3", true).text, "4");
    EXPECT_EQ(StepAverage("65535", true).text, "0");
    EXPECT_EQ(StepAverage("0", false).text, "0");
    EXPECT_EQ(StepAverage("1", false).text, "0");
    EXPECT_EQ(StepAverage("65536", false).text, "0"); // 65536 is 0 in the box's 16 bits
    EXPECT_EQ(*StepAverage("2.5", true).error, "'2.5' is not a valid integer value");
}

// The worker against the virtual instrument on a virtual clock.
struct Worker {
    SimRig rig;
    std::unique_ptr<ProgramState> state = std::make_unique<ProgramState>();
    std::atomic<bool> stop{false};
    AcquisitionContext ctx{rig.link, rig.clock, state->measurement, state->device, &stop};
    explicit Worker(MeasureParams params) {
        ApplyStartupValues(*state);
        CheckConnection(rig.link, rig.clock, *state);
        state->measurement.measureParams = params;
        rig.instrument->clearLog();
    }
    // SetLaser values and StartExposure positions, in wire order: 'D' dark or
    // signal exposure, '1' laser on, '0' laser off.
    std::string sequence() const {
        std::string out;
        for (const SimLogEntry& e : rig.instrument->log()) {
            if (e.kind != SimLogEntry::Kind::Command) continue;
            if (e.code == wire::kStartExposure) out += 'E';
            if (e.code == wire::kSetLaser) out += GetU16(e.bytes.data() + 26) ? '1' : '0';
        }
        return out;
    }
};

TEST(MeasurementWorker, LaserIsOnOnlyBetweenDarkAndSignal) {
    Worker w({1000, 2, 20000, 100, true});
    std::uint32_t start = w.rig.clock.tickCount();
    RunMeasurement(w.ctx);
    EXPECT_EQ(w.sequence(), "EE1EE0");
    EXPECT_FALSE(w.rig.instrument->laserOn());
    EXPECT_EQ(w.state->measurement.measureState, 2);
    EXPECT_EQ(w.state->measurement.measureStatus, 1);
    EXPECT_EQ(w.state->measurement.progress.measureStep, 3);
    EXPECT_TRUE(w.state->measurement.spectrum.haveMeasured);
    // Each 1000 ms exposure: sleep 500, polls at 500/700/900/1100 ms (ready
    // at 1012); four exposures and a 20 s preheat, nothing else.
    EXPECT_EQ(w.state->measurement.progress.measureTime, 4u * 1100u + 20000u);
    EXPECT_EQ(w.rig.clock.tickCount() - start, 4u * 1100u + 20000u);
    EXPECT_EQ(w.state->measurement.progress.firstDarkMs, 1100u);
    EXPECT_EQ(w.state->measurement.progress.firstSignalMs, 1100u);
    // The dark spectrum is dark; the signal carries the sample's bands.
    float darkMax = 0, gainMax = 0;
    for (int i = 0; i < 2500; ++i) {
        darkMax = std::max(darkMax, w.state->measurement.spectrum.dark[i]);
        gainMax = std::max(gainMax, w.state->measurement.spectrum.signal[i] - w.state->measurement.spectrum.dark[i]);
    }
    EXPECT_LT(darkMax, 3000.0f);
    EXPECT_GT(gainMax, 2000.0f);
}

TEST(MeasurementWorker, ExposuresOfNoTimeAndOfMinutesAreMeasured) {
    for (std::uint32_t exposure : {0u, 120000u}) {
        Worker w({exposure, 1, 20000, 100, true});
        std::uint32_t start = w.rig.clock.tickCount();
        RunMeasurement(w.ctx);
        EXPECT_EQ(w.sequence(), "E1E0") << exposure;
        EXPECT_EQ(w.state->measurement.measureStatus, 1) << exposure;
        // Two exposures and the preheat: a 2 min exposure is waited out, not
        // taken for a time-out.
        EXPECT_GE(w.rig.clock.tickCount() - start, 2 * exposure + 20000u) << exposure;
        EXPECT_GT(
            *std::max_element(w.state->measurement.spectrum.signal.begin(), w.state->measurement.spectrum.signal.end()),
            0.0f);
    }
}

TEST(MeasurementWorker, FailedDarkNeverSwitchesTheLaserOn) {
    Worker w({500, 1, 20000, 100, true});
    w.rig.instrument->setNeverReady(true);
    RunMeasurement(w.ctx);
    EXPECT_EQ(w.sequence(), "E");
    EXPECT_EQ(w.state->measurement.measureStatus, 3);
    EXPECT_FALSE(w.state->measurement.spectrum.haveMeasured);
    EXPECT_EQ(w.state->measurement.measureState, 2);
}

TEST(MeasurementWorker, NeverReadySignalWithLaserOnEndsWithLaserOff) {
    Worker w({500, 1, 20000, 100, true});
    // Dark succeeds, then the instrument stops reporting ready.
    w.rig.instrument->queueFrames({std::vector<std::uint16_t>(2546, 10)});
    // Run the dark by hand so the fault can be switched on before the signal.
    AcquisitionContext& ctx = w.ctx;
    ASSERT_EQ(Acquire(ctx, w.state->measurement.spectrum.dark.data(), 500, 1), kAcquireSucceeded);
    w.rig.instrument->setNeverReady(true);
    w.state->measurement.measureParams.takeDark = false; // the dark is already in place
    RunMeasurement(ctx);
    EXPECT_EQ(w.sequence(), "E1E0");
    EXPECT_FALSE(w.rig.instrument->laserOn());
    EXPECT_EQ(w.state->measurement.measureStatus, 3);
}

// The clock the worker sleeps on, telling the test each time it sleeps.
class WatchedClock : public Clock {
public:
    WatchedClock(Clock& inner, std::function<void()> onSleep) : m_inner(inner), m_onSleep(std::move(onSleep)) {}
    std::uint32_t tickCount() override { return m_inner.tickCount(); }
    void sleep(std::uint32_t ms) override {
        m_onSleep();
        m_inner.sleep(ms);
    }

private:
    Clock& m_inner;
    std::function<void()> m_onSleep;
};

// Stop in each phase: the wait ends at its next step with the laser off, the
// buffers are as they were before (the spectrum shown before can still be
// saved), the status says stopped rather than failed, and the instrument
// takes the next measurement at once.
TEST(MeasurementWorker, StopEndsEveryPhaseWithTheLaserOffAndLeavesNothingBehind) {
    struct Case {
        const char* phase;
        bool automatic;
        std::uint8_t stopAtStep; // the worker's measureStep when the stop comes
        const char* sequence;    // exposures and laser switches up to the stop
    };
    const Case cases[] = {
        {"dark", false, 0, "E"},
        {"preheat", false, 1, "E10"},
        {"signal", false, 2, "E1E0"},
        {"exposure trials", true, 4, "1E0"},
        {"dark after an automatic exposure", true, 0, "1EEEE0E"},
    };
    constexpr std::uint32_t kPreheatMs = 20000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phase);
        Worker w({1000, 1, kPreheatMs, 100, true});
        w.state->measurement.exposureMode.automatic = c.automatic;
        SpectrumStore& spectrum = w.state->measurement.spectrum;
        // The capture before, still shown.
        spectrum.signal.fill(500.0f);
        spectrum.dark.fill(100.0f);
        spectrum.axis.fill(7.0f);
        spectrum.clipped[3] = true;
        spectrum.haveMeasured = true;
        const SpectrumStore before = spectrum;
        bool laserWasOn = false;
        WatchedClock clock(w.rig.clock, [&] {
            laserWasOn = laserWasOn || w.rig.instrument->laserOn();
            // The dark of an automatic exposure comes after its signal.
            bool late = !c.automatic || c.stopAtStep != 0 || laserWasOn;
            if (late && w.state->measurement.progress.measureStep == c.stopAtStep) w.stop = true;
        });
        AcquisitionContext ctx{w.rig.link, clock, w.state->measurement, w.state->device, &w.stop};
        std::uint32_t start = w.rig.clock.tickCount();
        RunMeasurement(ctx);
        EXPECT_FALSE(w.rig.instrument->laserOn());
        EXPECT_EQ(w.sequence(), c.sequence);
        EXPECT_TRUE(w.state->measurement.measureStopped);
        EXPECT_EQ(w.state->measurement.measureStatus, 0);
        EXPECT_EQ(w.state->measurement.measureState, 2);
        EXPECT_EQ(spectrum.signal, before.signal);
        EXPECT_EQ(spectrum.dark, before.dark);
        EXPECT_EQ(spectrum.axis, before.axis);
        EXPECT_EQ(spectrum.clipped, before.clipped);
        EXPECT_TRUE(spectrum.haveMeasured);
        // Within a poll: a preheat is cut short, an exposure is not waited out.
        if (c.stopAtStep == 1) {
            EXPECT_LT(w.rig.clock.tickCount() - start, kPreheatMs);
        }

        w.stop = false;
        w.state->measurement.exposureMode.automatic = false;
        RunMeasurement(w.ctx);
        EXPECT_EQ(w.state->measurement.measureStatus, 1);
        EXPECT_FALSE(w.state->measurement.measureStopped);
        EXPECT_NE(spectrum.signal, before.signal);
    }
}

// The worker on its own thread, as the window starts it: returns once the
// worker has published its end and returned.
void RunOnWorkerThread(Worker& w, Clock* clock = nullptr) {
    WorkerThread worker;
    AcquisitionContext ctx{w.rig.link, clock ? *clock : w.rig.clock, w.state->measurement, w.state->device,
                           worker.stopFlag()};
    w.state->measurement.measureState = 1;
    worker.start([&ctx] { RunMeasurement(ctx); });
    for (int ms = 0; ms < 30000 && worker.busy(); ++ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(worker.busy()) << "the measurement worker did not return";
    worker.stopAndWait();
    EXPECT_EQ(w.state->measurement.measureState.load(std::memory_order_acquire), 2);
}

// The device lost at every command of a measurement (dark, laser on, preheat,
// signal, laser off) at every stage of the exchange, and a device that stops
// reporting ready from every command on. Each run: the documented status, the
// laser never switched on after a failed dark, the laser off (at once on an
// attached device, by the power cycle of the replug otherwise), no protocol
// violation; the next checks reset the state and a new measurement succeeds.
TEST(MeasurementWorkerFaultSweep, EveryCommandEveryStage) {
    const MeasureParams params{500, 2, 20000, 100, true};
    std::vector<std::uint16_t> codes;
    {
        Worker clean(params);
        RunOnWorkerThread(clean);
        ASSERT_EQ(clean.state->measurement.measureStatus, 1);
        ASSERT_EQ(clean.sequence(), "EE1EE0");
        codes = clean.rig.commandCodes();
    }
    const std::size_t laserOn = std::find(codes.begin(), codes.end(), wire::kSetLaser) - codes.begin();
    const std::size_t laserOff = codes.size() - 1;
    ASSERT_EQ(codes[laserOff], wire::kSetLaser);

    std::size_t runs = 0;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        for (int fault = 0; fault < 4; ++fault) { // three loss stages, then never ready
            SCOPED_TRACE(testing::Message()
                         << "command " << i << " (code " << std::hex << codes[i] << std::dec << "), fault " << fault);
            Worker w(params);
            // A raw file's spectrum is shown: its X values are the axis.
            w.state->measurement.spectrum.haveFileData = true;
            w.state->measurement.spectrum.axis.fill(-1.0f);
            const bool lost = fault < 3;
            if (lost)
                w.rig.instrument->scheduleLoss(static_cast<std::uint32_t>(i), static_cast<SimLossStage>(fault));
            else
                w.rig.instrument->scheduleNeverReady(static_cast<std::uint32_t>(i));
            RunOnWorkerThread(w);
            // Whatever failed, the buffers no longer hold the file's spectrum.
            EXPECT_FALSE(w.state->measurement.spectrum.haveFileData);
            EXPECT_NE(w.state->measurement.spectrum.axis[0], -1.0f);

            // Where the fault struck: before the laser, or from the laser on.
            std::size_t struck = i;
            if (!lost)
                struck = std::find(codes.begin() + static_cast<std::ptrdiff_t>(i), codes.end(), wire::kPollState) -
                         codes.begin();
            const bool untouched = struck == codes.size() || (lost && struck == laserOff);
            EXPECT_EQ(w.state->measurement.measureStatus, untouched ? 1 : 3);
            EXPECT_EQ(w.state->measurement.spectrum.haveMeasured, struck >= laserOn);
            std::string sequence = w.sequence();
            if (struck < laserOn) {
                EXPECT_EQ(sequence.find('1'), std::string::npos) << sequence;
            } else if (!lost) {
                EXPECT_EQ(sequence.back(), '0') << sequence;
            }
            EXPECT_FALSE(w.state->measurement.laserOffFailed);
            if (!lost) {
                EXPECT_FALSE(w.rig.instrument->laserOn());
            }

            // The next checks: idle while gone; after the replug the laser is
            // off and a measurement succeeds.
            if (!lost) w.rig.bridge.unplug();
            CheckConnection(w.rig.link, w.rig.clock, *w.state);
            EXPECT_EQ(w.state->device.deviceState, DeviceConnection::Disconnected);
            EXPECT_EQ(w.state->measurement.measureState, 0);
            EXPECT_EQ(w.state->measurement.measureStatus, 0);
            w.rig.bridge.replug();
            EXPECT_FALSE(w.rig.instrument->laserOn());
            CheckConnection(w.rig.link, w.rig.clock, *w.state);
            ASSERT_EQ(w.state->device.deviceState, DeviceConnection::Connected);
            w.rig.instrument->clearLog();
            RunOnWorkerThread(w);
            EXPECT_EQ(w.state->measurement.measureStatus, 1);
            EXPECT_EQ(w.sequence(), "EE1EE0");
            EXPECT_FALSE(w.rig.instrument->laserOn());
            ++runs;
        }
    }
    EXPECT_EQ(runs, codes.size() * 4);
}

// Pulled out during the preheat, between two commands: the signal finds no
// device and sends nothing, the switch-off cannot reach it, and nobody is
// told of a laser left on, since the unplugged instrument has lost its power.
TEST(MeasurementWorkerFaultSweep, UnpluggedDuringThePreheat) {
    Worker w({500, 2, 20000, 100, true});
    WatchedClock clock(w.rig.clock, [&] {
        if (w.rig.instrument->laserOn() && w.rig.bridge.plugged()) w.rig.bridge.unplug();
    });
    RunOnWorkerThread(w, &clock);
    EXPECT_EQ(w.sequence(), "EE1");
    EXPECT_EQ(w.state->measurement.measureStatus, 3);
    EXPECT_FALSE(w.state->measurement.laserOffFailed);
    w.rig.bridge.replug();
    EXPECT_FALSE(w.rig.instrument->laserOn());
}

// The instrument refuses the laser switch: refusing to switch on fails the
// measurement (a signal without laser light is no spectrum) and the laser is
// still switched off; refusing to switch off is tried again and then told,
// since the laser may still be on.
TEST(MeasurementWorkerFaultSweep, RefusedLaserSwitches) {
    struct Case {
        bool refuseOn;
        const char* sequence;
        std::uint8_t status;
        bool laserLeftOn;
    };
    const Case cases[] = {
        {true, "EE1000", 3, false},   // refused throughout: never on, off refused three times
        {false, "EE1EE000", 1, true}, // switched on, then every switch-off refused
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sequence);
        Worker w({500, 2, 20000, 100, true});
        w.rig.instrument->setLaserFails(c.refuseOn);
        // From the preheat on (the laser is on then) every switch is refused.
        WatchedClock clock(w.rig.clock, [&] {
            if (w.rig.instrument->laserOn()) w.rig.instrument->setLaserFails(true);
        });
        RunOnWorkerThread(w, &clock);
        EXPECT_EQ(w.sequence(), c.sequence);
        EXPECT_EQ(w.state->measurement.measureStatus, c.status);
        EXPECT_TRUE(w.state->measurement.laserOffFailed);
        EXPECT_EQ(w.rig.instrument->laserOn(), c.laserLeftOn);
        EXPECT_EQ(w.state->measurement.progress.measureStep, 3);
    }
}

} // namespace
} // namespace veltrane

namespace veltrane {
namespace {

// The worker on its own thread, the test thread acting as the window: it
// reads the progress, counts devices as the connection check does, and takes
// the result only after seeing the finished state.
TEST(MeasurementWorker, RunsBesideTheWindowThreadAndHandsOverItsResult) {
    ScaledClock clock(1000);
    SimulatedBridge bridge;
    auto instrument = std::make_shared<VirtualInstrument>(clock, SimModelLarge2048(), SimSample::Polystyrene, 7);
    bridge.attach(instrument);
    DeviceLink link(bridge);
    auto state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);
    CheckConnection(link, clock, *state);
    state->measurement.measureParams = {500, 2, 20000, 100, true};
    state->measurement.measureState = 1;
    std::atomic<bool> stop{false};
    AcquisitionContext ctx{link, clock, state->measurement, state->device, &stop};
    std::thread worker([&] { RunMeasurement(ctx); });

    std::uint8_t lastPercent = 0;
    bool sawProgress = false;
    while (state->measurement.measureState.load(std::memory_order_acquire) != 2) {
        std::uint8_t p = MeasureProgressPercent(state->measurement, clock.tickCount());
        EXPECT_LE(p, 100);
        sawProgress = sawProgress || p > lastPercent;
        lastPercent = p;
        CheckResult r = CheckConnection(link, clock, *state);
        EXPECT_EQ(r.state, DeviceConnection::Connected);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(state->measurement.measureStatus, 1);
    EXPECT_TRUE(state->measurement.spectrum.haveMeasured);
    EXPECT_GT(state->measurement.spectrum.signal[1000], 0.0f);
    worker.join();
    EXPECT_TRUE(sawProgress);
    EXPECT_FALSE(instrument->laserOn());
    EXPECT_TRUE(instrument->violations().empty());
}

} // namespace
} // namespace veltrane
