#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <ctime>
#include <memory>

#include "axis_check/axis_check_log.h"
#include "cli/commands.h"
#include "cli/input.h"
#include "cli/library_search.h"
#include "cli/output.h"
#include "cli/report_module.h"
#include "measure/sample_sidecar.h"
#include "measure/saturation.h"
#include "platform/paths.h"
#include "identify/report.h"

namespace veltrane {

namespace {

struct ReportValues {
    std::string input, output, index, paper = "a4";
    std::vector<std::string> libraries;
    ReadChoices read;
    SampleInfo sample;
    double axisOffset = 0.0;
};

// What the file says of its measurement; of a raw file, its sidecar adds
// the serial number, integration time and averages when it kept them.
ReportMeasurement MeasurementOf(const ReportValues& v, const CliStreams& io) {
    ReportMeasurement m;
    m.sample = v.sample;
    m.source = v.input == "-" ? "standard input" : v.input;
    SpectrumFile file;
    std::ostringstream quiet;
    CliStreams silent{io.in, quiet, quiet, false, nullptr, {}};
    if (v.input == "-" || !LoadAnySpectrum(v.input, v.read, file, silent)) return m;
    if (file.kind == FileKind::Foreign) {
        const InterchangeSpectrum& f = file.foreign;
        m.measured = f.date;
        m.instrument = f.instrument;
        m.serial = f.serial;
        if (f.laserNm > 0.0) m.laserNm = f.laserNm;
        if (f.integrationMs > 0.0) m.integrationMs = static_cast<std::uint32_t>(f.integrationMs + 0.5);
        return m;
    }
    // What the command line does not say comes from the raw file's sidecar.
    if (file.kind == FileKind::Raw) {
        const SampleInfo& beside = file.sample;
        if (m.sample.sampleName.empty()) m.sample.sampleName = beside.sampleName;
        if (m.sample.operatorName.empty()) m.sample.operatorName = beside.operatorName;
        if (m.sample.notes.empty()) m.sample.notes = beside.notes;
        m.serial = file.capture.serial;
        m.integrationMs = file.capture.integrationMs;
        if (file.capture.averages > 0) m.averages = file.capture.averages;
    }
    m.measured = file.header.dateText();
    m.instrument = LibraryModelName(file.header.modelCode(), kBrandVariant);
    if (file.kind == FileKind::Raw) {
        if (file.raw.laserWavelength > 0.0f) m.laserNm = file.raw.laserWavelength;
        m.saturatedPixels = SaturatedPixelCount(file.raw);
    }
    return m;
}

int RunReport(const ReportValues& v, const CliStreams& io) {
    if (int refused = RefuseBinaryOnTerminal(v.output, io)) return refused;
    if (!OutputAllowed(v.output, {v.input}, io)) return kExitFailure;
    // Said before a search that may take a while, not after it.
    if (std::string why; !ReportModuleReady(why)) {
        io.err << "The report could not be drawn: " << why << ".\n";
        return kExitFailure;
    }
    LibrarySearchRequest request{v.input, v.read, v.libraries, v.index, v.axisOffset, {}};
    LibrarySearch search;
    const SearchOutcome outcome = SearchLibraries(
        request, search,
        [&](const std::string& path, const std::string& reason) { io.err << Shown(path) << ": " << reason << "\n"; },
        io);
    if (outcome == SearchOutcome::Failed) return kExitFailure;

    ReportMeasurement measurement = MeasurementOf(v, io);
    AppPaths paths = ResolveAppPaths((std::filesystem::path(ExecutablePath()).parent_path() / "veltrane").string());
    if (!measurement.serial.empty())
        measurement.axisCheck = AxisCheckSummary(AxisCheckLog(paths.settingsFile).last(measurement.serial),
                                                 AxisCorrectionStore(paths.settingsFile).find(measurement.serial));
    if (v.axisOffset != 0.0) {
        char text[80];
        std::snprintf(text, sizeof text, "%s%sshifts corrected by %+.1f cm\u207B\u00B9 (given)",
                      measurement.axisCheck.empty() ? "not checked" : measurement.axisCheck.c_str(), "; ",
                      v.axisOffset);
        measurement.axisCheck = text;
    }
    static const IndexedLibrary kNoLibrary;
    const IndexedLibrary& library = search.library ? *search.library : kNoLibrary;
    const NamedVerdict verdict = NameVerdict(search.ranking.hits, library);
    const IdentificationReport report = AssembleReport(measurement, search.unknown, library, search.ranking.hits,
                                                       verdict, search.folders, std::time(nullptr));
    io.err << report.verdictText << "\n";

    std::string pdf, why;
    if (!DrawReportPdf(report, v.paper == "letter" ? ReportPaper::Letter : ReportPaper::A4, pdf, why)) {
        io.err << "The report could not be drawn: " << why << ".\n";
        return kExitFailure;
    }
    if (Emit(pdf, v.output, io) != kExitOk) return kExitFailure;
    if (outcome == SearchOutcome::NoEntries || search.ranking.hits.empty()) return kExitNoMatch;
    return VerdictStatus(verdict.verdict.verdict);
}

} // namespace

Command DefineReport(CLI::App& tool) {
    auto v = std::make_shared<ReportValues>();
    CLI::App* app = AddCommand(tool, "report", "identify a spectrum and write a one-page PDF record of it", R"(
Identifies FILE as identify does (the same libraries, index and exit status: 0 for
a Match, 3 for a Possible match, 2 for No match, 1 on an error) and writes a
one-page PDF: the sample, operator and notes given, what the file says of the
measurement and the instrument, the last check of the instrument's Raman axis
on this PC, the verdict, the spectrum with the best hit, the ten best hits and
the libraries searched. Notes too long for the page are cut with an ellipsis.)");
    AddSpectrumInput(*app, v->input, v->read);
    app->add_option("--library", v->libraries, "a library folder; may be given several times")
        ->type_name("DIR")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app->add_option("--sample", v->sample.sampleName, "the sample's name")->type_name("NAME");
    app->add_option("--operator", v->sample.operatorName, "who measured it")->type_name("NAME");
    app->add_option("--notes", v->sample.notes, "free text about the sample")->type_name("TEXT");
    app->add_option("--paper", v->paper, "the paper size: a4 (default) or letter")
        ->type_name("SIZE")
        ->check(CLI::IsMember({"a4", "letter"}));
    app->add_option("--index", v->index, "the index file, which must be a library index or not exist yet")
        ->type_name("FILE");
    AddAxisOffsetOption(*app, v->axisOffset);
    AddOutputOption(*app, v->output, "the PDF file")->required();
    return DefineCommand(app, v, RunReport);
}

} // namespace veltrane
