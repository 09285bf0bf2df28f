#include <benchmark/benchmark.h>

#include <memory>

#include "app/program_state.h"
#include "device/device_connection.h"
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
        CheckResult r = CheckDevice(rig.link, rig.clock, *state);
        benchmark::DoNotOptimize(r);
        state->deviceIdentified = false; // identify again on the next round
        rig.bridge.clearCalls();
    }
}
BENCHMARK(BM_IdentificationWithCalibration);

} // namespace
} // namespace veltrane
