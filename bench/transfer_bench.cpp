#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "app/connection_check.h"
#include "app/program_state.h"
#include "device/device_connection.h"
#include "library/catalogue.h"
#include "library/library_file.h"
#include "platform/file_io.h"
#include "sim/sample_spectrum.h"
#include "sim/simulated_bridge.h"
#include "support/temp_dir.h"
#include "transfer/transfer.h"

// A 200-record import and a 200-library export on the virtual clock: the
// CPU cost per run, and the simulated duration against the least the
// protocol allows (the request's wait, then one 50 ms sleep per 1024-byte
// chunk before its poll).
namespace veltrane {
namespace {

constexpr int kLibraries = 200;

struct Rig {
    test::TempDir dir;
    VirtualClock clock{1};
    SimulatedBridge bridge;
    std::shared_ptr<VirtualInstrument> instrument;
    DeviceLink link{bridge};
    std::unique_ptr<ProgramState> state = std::make_unique<ProgramState>();
    Rig() {
        instrument = std::make_shared<VirtualInstrument>(clock, SimModelLarge2500());
        instrument->setLogLimit(0);
        bridge.attach(instrument);
        ApplyStartupValues(*state);
        CheckConnection(link, clock, *state);
        std::vector<std::uint8_t> store;
        for (int i = 0; i < kLibraries; ++i) {
            auto record = MakeSampleLibraryRecord("lib" + std::to_string(i), SimSample::Polystyrene, 179, 150, 3800,
                                                  2026, 1, 1, 0, 0, 0);
            store.insert(store.end(), record.begin(), record.end());
        }
        instrument->setFile(kDeviceLibraryPath, store);
        std::filesystem::create_directories(dir.path() + "device");
    }
};

void BM_Import200Records(benchmark::State& s) {
    Rig rig;
    TransferContext ctx{rig.link, rig.clock, rig.state->library, rig.state->device, rig.dir.path() + "device/",
                        nullptr,  {}};
    std::uint32_t simulated = 0;
    for (auto _ : s) {
        std::uint32_t start = rig.clock.tickCount();
        benchmark::DoNotOptimize(importFromDevice(ctx));
        simulated = rig.clock.tickCount() - start;
        rig.bridge.clearCalls();
    }
    s.counters["simulated_ms"] = simulated;
    s.counters["protocol_minimum_ms"] = 50.0 + 50.0 * 5 * kLibraries;
}
BENCHMARK(BM_Import200Records)->Unit(benchmark::kMillisecond);

void BM_Export200Libraries(benchmark::State& s) {
    Rig rig;
    TransferContext import{rig.link, rig.clock, rig.state->library, rig.state->device, rig.dir.path() + "device/",
                           nullptr,  {}};
    importFromDevice(import);
    rig.state->library.lib.libraryView = LibraryView::Device;
    rig.state->library.lib.libraryFolder = rig.dir.path() + "device/";
    std::vector<std::string> files;
    for (const CatalogueRow& row : ListLibraryFolder(rig.state->library.lib.libraryFolder, BrandVariant::Brenmor))
        files.push_back(row.fileName);
    std::uint32_t simulated = 0;
    for (auto _ : s) {
        std::uint32_t start = rig.clock.tickCount();
        benchmark::DoNotOptimize(exportToDevice(import, files));
        simulated = rig.clock.tickCount() - start;
        rig.bridge.clearCalls();
    }
    s.counters["simulated_ms"] = simulated;
    s.counters["protocol_minimum_ms"] = 50.0 + 50.0 * 5 * kLibraries;
}
BENCHMARK(BM_Export200Libraries)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace veltrane
