#include "cli/commands.h"
#include "cli/input.h"
#include "cli/output.h"
#include "identify/preprocess.h"

namespace veltrane {

namespace {

constexpr const char* kColumns[] = {"raman_shift_cm-1", "corrected", "baseline"};

struct BaselineValues {
    std::string input, output;
    ReadChoices read;
    bool json = false;
};

int RunBaseline(const BaselineValues& v, const CliStreams& io) {
    if (!OutputAllowed(v.output, {v.input}, io)) return kExitFailure;
    ShiftSpectrum spectrum;
    if (!LoadShiftSpectrum(v.input, v.read, spectrum, io)) return kExitFailure;
    GridSpectrum grid = ResampleToWholeWavenumbers(spectrum.shift, spectrum.intensity);
    std::vector<double> y(grid.values.begin(), grid.values.end()), baseline(y.size());
    ArplsBaseline(y, baseline);
    std::string text = std::string(kColumns[0]) + "," + kColumns[1] + "," + kColumns[2] + "\n";
    Json points = Json::array();
    for (std::size_t k = 0; k < y.size(); ++k) {
        std::int32_t shift = grid.start + static_cast<std::int32_t>(k);
        float corrected = static_cast<float>(y[k] - baseline[k]), base = static_cast<float>(baseline[k]);
        if (v.json)
            points.push_back({shift, JsonFloat(corrected), JsonFloat(base)});
        else
            text += std::to_string(shift) + "," + FloatText(corrected) + "," + FloatText(base) + "\n";
    }
    if (v.json) text = JsonText(Json{{"columns", kColumns}, {"points", points}});
    return Emit(text, v.output, io);
}

} // namespace

Command DefineBaseline(CLI::App& tool) {
    auto v = std::make_shared<BaselineValues>();
    CLI::App* app = AddCommand(tool, "baseline", "a spectrum with its fluorescence baseline removed, as CSV", R"(
Resamples a raw spectrum, library, or CSV, JCAMP-DX or SPC spectrum onto whole
wavenumbers and removes its fluorescence baseline (arPLS). Writes CSV: Raman shift,
corrected intensity, baseline; standard output without -o.)");
    AddSpectrumInput(*app, v->input, v->read);
    AddOutputOption(*app, v->output);
    AddJsonFlag(*app, v->json);
    return DefineCommand(app, v, RunBaseline);
}

} // namespace veltrane
