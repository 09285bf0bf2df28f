#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "shared/chart_model.h"

#ifdef VELTRANE_CHART_BENCH_UI
#include <QApplication>

#include "shared/ui/chart_view.h"
#endif

// What drawing one measured spectrum costs: the 2500 points of the largest
// sensor go through the model, and with the Qt view also into Qt Charts and
// onto the (offscreen) screen. The target for the whole path is under 5 ms.
namespace veltrane {
namespace {

constexpr int kPixels = 2500;

// Two different spectra, alternated, so every iteration really replaces the
// drawn points (the view skips lines whose points did not change).
std::vector<ChartPoint> spectrum(double phase) {
    std::vector<ChartPoint> points;
    points.reserve(kPixels);
    for (int i = 0; i < kPixels; ++i) {
        const double shift = 150.0 + i * 1.5;
        const double band = (shift - 1001.0 - phase) / 6.0;
        points.push_back({shift, 1200.0 + 0.2 * shift + 40000.0 / (1.0 + band * band) + 300.0 * std::sin(i * 0.37)});
    }
    return points;
}

// The spectrum window's axes: fixed shift range and a fixed intensity scale.
void setUpAxes(ChartModel& model) {
    model.setAxisAutomaticMinimum(ChartAxis::Bottom, false);
    model.setAxisAutomaticMaximum(ChartAxis::Bottom, false);
    model.setAxisMinimum(ChartAxis::Bottom, 400);
    model.setAxisMaximum(ChartAxis::Bottom, 4000);
    model.setAxisAutomaticMinimum(ChartAxis::Left, false);
    model.setAxisAutomaticMaximum(ChartAxis::Left, false);
    model.setAxisMinimum(ChartAxis::Left, 0);
    model.setAxisMaximum(ChartAxis::Left, 65535);
    model.setAxisDesiredIncrement(ChartAxis::Left, 5000);
    model.setAxisTitleCaption(ChartAxis::Bottom, "Raman shift (cm-1)");
    model.setAxisTitleCaption(ChartAxis::Left, "Intensity (a.u.)");
}

void BM_ModelFillSpectrum(benchmark::State& state) {
    ChartModel model;
    setUpAxes(model);
    const SeriesHandle series = model.createLineSeries();
    const std::vector<ChartPoint> spectra[2] = {spectrum(0.0), spectrum(30.0)};
    int which = 0;
    for (auto _ : state) {
        model.clearSeries(series);
        model.addPoints(series, spectra[which]);
        which ^= 1;
        benchmark::DoNotOptimize(model.seriesPoints(series).data());
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_ModelFillSpectrum)->Unit(benchmark::kMicrosecond);

#ifdef VELTRANE_CHART_BENCH_UI
// shown = 0: the view exists but is hidden, so this is the sync into Qt
// Charts alone; shown = 1: an 900 x 600 view on screen, so the immediate
// redraw also paints. `markers` frozen copies sit beside the spectrum.
void BM_ViewRedrawSpectrum(benchmark::State& state) {
    const bool shown = state.range(0) != 0;
    const int markers = static_cast<int>(state.range(1));
    ChartModel model;
    setUpAxes(model);
    ChartView view(model);
    view.resize(900, 600);
    if (shown) view.show();
    const SeriesHandle series = model.createLineSeries();
    for (int m = 0; m < markers; ++m)
        model.addPoints(model.createLineSeries(), spectrum(100.0 * (m + 1)));
    const std::vector<ChartPoint> spectra[2] = {spectrum(0.0), spectrum(30.0)};
    model.redrawNow();
    QApplication::processEvents();
    int which = 0;
    for (auto _ : state) {
        model.clearSeries(series);
        model.addPoints(series, spectra[which]);
        which ^= 1;
        model.redrawNow();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_ViewRedrawSpectrum)
    ->ArgNames({"shown", "markers"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 6})
    ->Unit(benchmark::kMicrosecond);
#endif

} // namespace
} // namespace veltrane

int main(int argc, char** argv) {
#ifdef VELTRANE_CHART_BENCH_UI
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
