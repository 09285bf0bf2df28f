#include <benchmark/benchmark.h>

#include <QApplication>
#include <cmath>
#include <memory>

#include "app/ui/application.h"
#include "app/ui/qt_user_dialogs.h"
#include "measure/spectral_axis.h"
#include "measure/ui/measure_controller.h"
#include "sim/simulated_bridge.h"
#include "support/temp_dir.h"

// What the user waits for at the end of a measurement: the axis for 2500
// pixels, and the timer tick that takes the worker's result (clear the curve,
// add the window's points, re-apply the axis ranges) with the chart's repaint.
// The target for the tick is under 5 ms.
namespace veltrane {
namespace {

std::unique_ptr<ProgramState> CalibratedLargeSensor() {
    auto state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);
    SimModel model = SimModelLarge2500();
    state->deviceType = model.deviceType;
    state->pixelCount = model.pixelCount();
    state->laserWavelength = model.laserNm;
    for (int i = 0; i < 5; ++i) state->waveCal[i] = static_cast<float>(model.optics[i]);
    state->waveCalValid = true;
    return state;
}

void BM_ComputeSpectralAxis(benchmark::State& s) {
    auto state = CalibratedLargeSensor();
    for (auto _ : s) {
        ComputeSpectralAxis(*state, state->laserWavelength);
        benchmark::DoNotOptimize(state->spectrum.axis.data());
    }
}
BENCHMARK(BM_ComputeSpectralAxis)->Unit(benchmark::kMicrosecond);

void BM_EndOfMeasurementTick(benchmark::State& s) {
    test::TempDir dir;
    VirtualClock clock;
    SimulatedBridge bridge;
    bridge.attach(std::make_shared<VirtualInstrument>(clock, SimModelLarge2500()));
    QtUserDialogs dialogs;
    VeltraneApplication app(bridge, clock, dialogs, AppPathsAt(dir.path()));
    TForm_main& main = app.mainWindow();
    main.resize(1264, 730);
    main.show();
    main.Timer_auto_get_deviceTimer(); // identification: axis and window for 2500 pixels
    ProgramState& state = app.state();
    int round = 0;
    for (auto _ : s) {
        // A fresh spectrum each round, so every tick really redraws.
        for (int i = 0; i < 2500; ++i) {
            state.spectrum.signal[i] = 2000.0f + 800.0f * std::sin(0.01f * (i + round));
            state.spectrum.dark[i] = 1000.0f;
        }
        ++round;
        state.measureStatus = 1;
        state.measureState = 2;
        main.measure().MSR_TimerTimer();
        QApplication::processEvents(); // the chart view's sync and paint
    }
}
BENCHMARK(BM_EndOfMeasurementTick)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace veltrane

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
