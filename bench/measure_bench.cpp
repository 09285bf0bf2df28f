#include <benchmark/benchmark.h>

#include <QApplication>
#include <cmath>
#include <memory>

#include "app/program_state.h"
#include "app/ui/application.h"
#include "measure/raw_spectrum_file.h"
#include "measure/smoothing.h"
#include "measure/spectral_axis.h"
#include "measure/ui/measure_controller.h"
#include "platform/file_io.h"
#include "shared/ui/qt_user_dialogs.h"
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
    state->device.deviceType = model.deviceType;
    state->device.pixelCount = model.pixelCount();
    state->device.laserWavelength = model.laserNm;
    for (int i = 0; i < 5; ++i)
        state->device.waveCal[i] = static_cast<float>(model.optics[i]);
    state->device.waveCalValid = true;
    return state;
}

void BM_ComputeSpectralAxis(benchmark::State& s) {
    auto state = CalibratedLargeSensor();
    for (auto _ : s) {
        ComputeSpectralAxis(state->measurement.spectrum, state->device, state->device.laserWavelength);
        benchmark::DoNotOptimize(state->measurement.spectrum.axis.data());
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
            state.measurement.spectrum.signal[i] = 2000.0f + 800.0f * std::sin(0.01f * (i + round));
            state.measurement.spectrum.dark[i] = 1000.0f;
        }
        ++round;
        state.measurement.measureStatus = 1;
        state.measurement.measureState = 2;
        main.measure().MSR_TimerTimer();
        QApplication::processEvents(); // the chart view's sync and paint
    }
}
BENCHMARK(BM_EndOfMeasurementTick)->Unit(benchmark::kMillisecond);

void BM_SmoothSpectrum(benchmark::State& s) {
    std::vector<float> input(2500), output(2500);
    for (int i = 0; i < 2500; ++i)
        input[i] = 1000.0f + 400.0f * std::sin(i * 0.03f) + (i * 7919 % 101);
    auto k = SmoothCoefficients(static_cast<int>(s.range(0)));
    for (auto _ : s) {
        SmoothSpectrum(k, kSmoothWindow, input.data(), output.data(), 2500);
        benchmark::DoNotOptimize(output.data());
    }
}
BENCHMARK(BM_SmoothSpectrum)->Arg(1)->Arg(5)->Arg(10)->Unit(benchmark::kMicrosecond);

void BM_SaveRawFile(benchmark::State& s) {
    test::TempDir dir;
    auto state = CalibratedLargeSensor();
    state->device.pixelTotal = 2546;
    state->measurement.spectrum.haveMeasured = true;
    RawFileRecord record;
    for (auto _ : s) {
        std::string bytes =
            BuildRawSpectrumFile(state->measurement, state->device, "bench.rsd", CurrentLocalDateTime(), record);
        benchmark::DoNotOptimize(WriteFileAtomically(dir.path() + "bench.rsd", bytes));
    }
}
BENCHMARK(BM_SaveRawFile)->Unit(benchmark::kMicrosecond);

// Opening as the button does it: read, decode, fill the buffers, draw.
void BM_OpenRawFileAndDraw(benchmark::State& s) {
    test::TempDir dir;
    auto state = CalibratedLargeSensor();
    state->device.pixelTotal = 2546;
    RawFileRecord record;
    WriteFileAtomically(dir.path() + "bench.rsd", BuildRawSpectrumFile(state->measurement, state->device, "bench.rsd",
                                                                       CurrentLocalDateTime(), record));
    ChartModel chart;
    SeriesHandle series = chart.createLineSeries();
    for (auto _ : s) {
        std::string bytes;
        ReadWholeFile(dir.path() + "bench.rsd", bytes);
        DecodeRawSpectrumFile(bytes, state->measurement.rawFile);
        ApplyRawSpectrum(state->measurement.rawFile, state->measurement, state->device);
        std::vector<ChartPoint> points;
        for (int i = state->measurement.rawFile.windowStart; i < state->measurement.rawFile.windowEnd; ++i)
            points.push_back({state->measurement.spectrum.axis[i], state->measurement.spectrum.signal[i]});
        chart.clearSeries(series);
        chart.addPoints(series, points);
        benchmark::DoNotOptimize(points.data());
    }
}
BENCHMARK(BM_OpenRawFileAndDraw)->Unit(benchmark::kMicrosecond);

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
