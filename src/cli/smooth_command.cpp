#include <algorithm>
#include <cmath>
#include <memory>

#include "cli/commands.h"
#include "cli/input.h"
#include "cli/output.h"
#include "measure/smoothing.h"

namespace veltrane {

namespace {

struct SmoothValues {
    std::string input, output;
    ReadChoices read;
    int level = 0;
};

// Another program's spectrum: its points smoothed in X order, as the chart
// smooths an opened one.
int SmoothPoints(const SmoothValues& v, const SpectrumFile& file, const CliStreams& io) {
    std::vector<Point> points = DrawnPoints(file);
    const std::size_t count = points.size();
    std::vector<float> input(count), output(count);
    for (std::size_t i = 0; i < count; ++i)
        input[i] = points[i].y;
    SmoothSpectrum(SmoothCoefficients(v.level), kSmoothWindow, input.data(), output.data(), count);
    std::vector<Point> smoothed;
    for (std::size_t i = 0; i < count; ++i)
        if (std::isfinite(points[i].x) && std::isfinite(output[i])) smoothed.push_back({points[i].x, output[i]});
    return Emit(CsvText(smoothed), v.output, io);
}

int RunSmooth(const SmoothValues& v, const CliStreams& io) {
    auto file = std::make_unique<SpectrumFile>();
    if (!OutputAllowed(v.output, {v.input}, io)) return kExitFailure;
    if (!LoadAnySpectrum(v.input, v.read, *file, io)) return kExitFailure;
    if (file->kind == FileKind::Foreign) return SmoothPoints(v, *file, io);
    if (file->kind != FileKind::Raw) {
        io.err << Shown(v.input) << ": " << kUnknownRawFormat << "\n";
        return kExitFailure;
    }
    // The chart smooths the whole spectrum, so the window's edges see their
    // real neighbours, and only then cuts the file's window out of it.
    auto state = OpenedRawState(file->raw);
    const SpectrumStore& s = state->measurement.spectrum;
    std::uint16_t count = std::min<std::uint16_t>(state->device.pixelCount, static_cast<std::uint16_t>(kMaxPixels));
    std::vector<float> input(count), output(count);
    for (std::uint16_t i = 0; i < count; ++i) {
        float value = s.signal[i] - s.dark[i];
        input[i] = value > 0.0f ? value : 0.0f;
    }
    SmoothSpectrum(SmoothCoefficients(v.level), kSmoothWindow, input.data(), output.data(), count);
    std::vector<Point> points;
    int last = std::min<int>(file->raw.windowEnd, count);
    for (int i = file->raw.windowStart; i < last; ++i)
        if (std::isfinite(s.axis[i]) && std::isfinite(output[i])) points.push_back({s.axis[i], output[i]});
    ChartOrder(points);
    return Emit(CsvText(points), v.output, io);
}

} // namespace

Command DefineSmooth(CLI::App& tool) {
    auto v = std::make_shared<SmoothValues>();
    CLI::App* app = AddCommand(tool, "smooth", "a spectrum smoothed as the chart shows it, as CSV", R"(
Smooths a raw spectrum, or another program's CSV, JCAMP-DX or SPC spectrum, at
level L (0 to 10) as the chart does and writes it as CSV (a raw spectrum's
window); standard output without -o. Points that are not finite numbers are left
out, as in export.)");
    app->add_option("--level", v->level, "the smoothing level, 0 (none) to 10")
        ->required()
        ->type_name("L")
        ->check(WholeIn(0, kMaxSmoothLevel, "The level is a whole number from 0 to 10."));
    AddSpectrumInput(*app, v->input, v->read);
    AddOutputOption(*app, v->output);
    return DefineCommand(app, v, RunSmooth);
}

} // namespace veltrane
