#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>

#include "app/connection_check.h"
#include "app/program_state.h"
#include "device/device_connection.h"
#include "measure/measurement.h"
#include "sim/simulated_bridge.h"

// The link's own cost over the simulated bridge: what one exchange and a full
// identification cost in CPU, apart from any time the instrument takes.
namespace veltrane {
namespace {

struct Rig {
    VirtualClock clock{1};
    SimulatedBridge bridge;
    std::shared_ptr<VirtualInstrument> instrument;
    DeviceLink link{bridge};
    Rig() {
        instrument = std::make_shared<VirtualInstrument>(clock, SimModelLarge2500());
        instrument->setLogLimit(0);
        bridge.attach(instrument);
    }
};

void BM_DeviceRecordExchange(benchmark::State& s) {
    Rig rig;
    for (auto _ : s) {
        benchmark::DoNotOptimize(rig.link.ReadDeviceRecord());
        rig.bridge.clearCalls();
    }
}
BENCHMARK(BM_DeviceRecordExchange);

void BM_PixelBlockExchange(benchmark::State& s) {
    Rig rig;
    for (auto _ : s) {
        benchmark::DoNotOptimize(rig.link.ReadPixelBlock(1024, 1));
        rig.bridge.clearCalls();
    }
}
BENCHMARK(BM_PixelBlockExchange);

void BM_IdentificationWithCalibration(benchmark::State& s) {
    Rig rig;
    auto state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);
    for (auto _ : s) {
        CheckResult r = CheckConnection(rig.link, rig.clock, *state);
        benchmark::DoNotOptimize(r);
        state->device.deviceIdentified = false; // identify again on the next round
        rig.bridge.clearCalls();
    }
}
BENCHMARK(BM_IdentificationWithCalibration);

// A whole measurement (1000 ms exposures, two frames each of dark and signal,
// 20 s preheat) on the virtual clock: the CPU it costs, and the simulated
// duration against the least its waits allow: every exposure and the preheat.
// The difference is the poll granularity: the first poll comes at half the
// exposure, then one every 200 ms, so the sensor's readout after the exposure
// is noticed up to 200 ms late.
void BM_MeasurementOnVirtualClock(benchmark::State& s) {
    Rig rig;
    auto state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);
    CheckConnection(rig.link, rig.clock, *state);
    const MeasureParams params{1000, 2, 20000, 100, true};
    std::atomic<bool> stop{false};
    std::uint32_t simulated = 0;
    for (auto _ : s) {
        state->measurement.measureParams = params;
        state->measurement.measureState = 1;
        AcquisitionContext ctx{rig.link, rig.clock, state->measurement, state->device, &stop};
        std::uint32_t start = rig.clock.tickCount();
        RunMeasurement(ctx);
        simulated = rig.clock.tickCount() - start;
        benchmark::DoNotOptimize(state->measurement.spectrum.signal.data());
        rig.bridge.clearCalls();
    }
    s.counters["simulated_ms"] = simulated;
    s.counters["protocol_minimum_ms"] = 4.0 * params.exposureMs + params.preheatMs;
}
BENCHMARK(BM_MeasurementOnVirtualClock)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace veltrane
