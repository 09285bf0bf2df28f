#include <filesystem>
#include <optional>

#include "axis_check/axis_check.h"
#include "axis_check/reference_standards.h"
#include "cli/commands.h"
#include "cli/input.h"
#include "cli/output.h"

namespace veltrane {

namespace {

constexpr int kExitFail = 2;

struct CheckAxisValues {
    std::string input, standard = "Polystyrene";
    double tolerance = AxisCheckSettings{}.tolerance;
    ReadChoices read;
    bool json = false;
};

// A built-in standard by name, else a file of one; nullopt after a message.
std::optional<ReferenceStandard> StandardOf(const std::string& nameOrPath, const CliStreams& io) {
    if (std::optional<ReferenceStandard> builtIn = FindStandard(nameOrPath)) return builtIn;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(nameOrPath, ec))
        throw UsageError("No standard " + nameOrPath + ": polystyrene, cyclohexane, acetaminophen or a file.");
    std::string text, error;
    if (!ReadInput(nameOrPath, text, io)) return std::nullopt;
    std::optional<ReferenceStandard> standard = ParseStandard(text, error);
    if (!standard) io.err << Shown(nameOrPath) << ": " << error << "\n";
    return standard;
}

Json BandRecord(const BandCheck& b) {
    bool found = b.outcome == BandOutcome::Found;
    return {{"reference", JsonFloat(static_cast<float>(b.reference))},
            {"found", found ? Json(JsonFloat(static_cast<float>(b.found))) : Json(nullptr)},
            {"deviation", found ? Json(JsonFloat(static_cast<float>(b.deviation))) : Json(nullptr)},
            {"outcome", found ? "found" : BandOutcomeText(b.outcome)}};
}

int RunCheckAxis(const CheckAxisValues& v, const CliStreams& io) {
    AxisCheckSettings settings;
    settings.tolerance = v.tolerance;
    std::optional<ReferenceStandard> standard = StandardOf(v.standard, io);
    if (!standard) return kExitFailure;
    ShiftSpectrum spectrum;
    if (!LoadShiftSpectrum(v.input, v.read, spectrum, io)) return kExitFailure;
    AxisCheck check = CheckAxis(spectrum.shift, spectrum.intensity, *standard, settings);
    std::string text;
    Json result{{"standard", standard->name},
                {"tolerance", JsonFloat(static_cast<float>(settings.tolerance))},
                {"bands", Json::array()},
                {"found", check.found}};
    for (const BandCheck& b : check.bands) {
        bool found = b.outcome == BandOutcome::Found;
        text += TwoDecimals(b.reference) + "\t" + (found ? TwoDecimals(b.found) : "-") + "\t" +
                (found ? TwoDecimals(b.deviation) : "-") + "\n";
        result["bands"].push_back(BandRecord(b));
        if (!found) io.err << TwoDecimals(b.reference) << ": " << BandOutcomeText(b.outcome) << "\n";
    }
    if (!check.enoughBands) {
        io.err << Shown(v.input) << ": too few bands of " << Shown(standard->name) << " found (" << check.found
               << " of at least " << kMinBandsForCheck << ")\n";
        result["result"] = "too few bands";
        Emit(v.json ? JsonText(result) : text, "", io);
        return kExitFailure;
    }
    text += "offset: " + TwoDecimals(check.offset) + "\nrms: " + TwoDecimals(check.rms) +
            "\nlargest: " + TwoDecimals(check.largest) + "\nresult: " + (check.pass ? "pass" : "fail") + "\n";
    result["offset"] = JsonFloat(static_cast<float>(check.offset));
    result["rms"] = JsonFloat(static_cast<float>(check.rms));
    result["largest"] = JsonFloat(static_cast<float>(check.largest));
    result["result"] = check.pass ? "pass" : "fail";
    int status = Emit(v.json ? JsonText(result) : text, "", io);
    if (status != kExitOk) return status;
    if (check.spread > settings.tolerance)
        io.err << "The bands found scatter by " << TwoDecimals(check.spread) << " cm-1 about their mean: is this "
               << Shown(standard->name) << "?\n";
    return check.pass ? kExitOk : kExitFail;
}

} // namespace

Command DefineCheckAxis(CLI::App& tool) {
    auto v = std::make_shared<CheckAxisValues>();
    CLI::App* app = AddCommand(tool, "check-axis", "the Raman-shift axis against a reference standard", R"(
Finds the bands of a reference standard (polystyrene, cyclohexane or acetaminophen, or
a text file: its name, then one Raman shift a line, optionally with a weight) in the
spectrum of FILE and prints one line per band: reference, found, deviation in cm-1
(found and deviation "-" for a band skipped, with the reason on standard error); then
offset (the mean deviation), rms, largest, and result: pass when the largest deviation
is within the tolerance (default 1.5). Default standard: polystyrene.
Exit status 0 on pass, 2 on fail, 1 when fewer than 4 bands are found.)");
    AddSpectrumInput(*app, v->input, v->read);
    app->add_option("--standard", v->standard, "a built-in standard by name, or a file of one")
        ->type_name("polystyrene|cyclohexane|acetaminophen|FILE");
    app->add_option("--tolerance", v->tolerance, "the largest deviation a pass allows, in cm-1 (1.5)")
        ->type_name("CM")
        ->check(NumberIn(0.0, true, 100.0, false, "The tolerance is a number of cm-1 above 0."));
    AddJsonFlag(*app, v->json);
    return DefineCommand(app, v, RunCheckAxis);
}

} // namespace veltrane
