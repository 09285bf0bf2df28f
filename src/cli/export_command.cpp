#include <memory>

#include "cli/commands.h"
#include "cli/input.h"
#include "cli/output.h"
#include "platform/file_io.h"

namespace veltrane {

namespace {

constexpr const char* kForeignExtensions = ".csv, .txt, .tsv, .jdx, .dx, .jcamp, .spc";

struct ExportValues {
    std::string input, output, format = "csv", form = "affn";
    ReadChoices read;
};

JcampForm FormOf(const std::string& form) {
    return form == "difdup" ? JcampForm::DifDup : JcampForm::Affn;
}

int RunExport(const ExportValues& v, const CliStreams& io) {
    InterchangeFormat target = v.format == "csv"     ? InterchangeFormat::Csv
                               : v.format == "jcamp" ? InterchangeFormat::Jcamp
                                                     : InterchangeFormat::Spc;
    if (target == InterchangeFormat::Spc)
        if (int refused = RefuseBinaryOnTerminal(v.output, io)) return refused;
    if (!OutputAllowed(v.output, {v.input}, io)) return kExitFailure;
    auto file = std::make_unique<SpectrumFile>();
    if (!LoadAnySpectrum(v.input, v.read, *file, io)) return kExitFailure;
    std::vector<Point> points = DrawnPoints(*file);
    if (target != InterchangeFormat::Csv && points.empty()) {
        io.err << Shown(v.input) << ": no points to export.\n";
        return kExitFailure;
    }
    std::string title = file->kind == FileKind::Foreign ? file->foreign.title : file->header.name();
    std::string text = ExportText(target, FormOf(v.form), ExportFacts(*file, title, target), points);
    if (target != InterchangeFormat::Csv && text.empty()) {
        io.err << Shown(v.input) << ": " << kSaveFailed << "\n";
        return kExitFailure;
    }
    return Emit(text, v.output, io);
}

int RunConvert(const ExportValues& v, const CliStreams& io) {
    InterchangeFormat target = FormatOfFileName(v.output);
    if (target == InterchangeFormat::Raw || target == InterchangeFormat::Unknown)
        throw UsageError("Unknown output format of " + Shown(v.output) + "; use " + kForeignExtensions + ".");
    if (!OutputAllowed(v.output, {v.input}, io)) return kExitFailure;
    auto file = std::make_unique<SpectrumFile>();
    if (!LoadAnySpectrum(v.input, v.read, *file, io)) return kExitFailure;
    std::vector<Point> points = DrawnPoints(*file);
    std::string text = points.empty() ? std::string()
                                      : ExportText(target, FormOf(v.form),
                                                   ExportFacts(*file, TitleOf(*file, v.input), target), points);
    if (text.empty()) {
        io.err << Shown(v.input) << ": no points to export.\n";
        return kExitFailure;
    }
    return Save(v.output, text, io) ? kExitOk : kExitFailure;
}

} // namespace

Command DefineExport(CLI::App& tool) {
    auto v = std::make_shared<ExportValues>();
    CLI::App* app = AddCommand(tool, "export", "the spectrum as the chart draws it", R"(
Writes the points the chart draws: a raw file's window, a library's points inside
its model's range, or all points of another program's spectrum. CSV (default),
JCAMP-DX 5.01 or SPC; standard output without -o. JCAMP-DX is AFFN (X, Y pairs)
unless --jcamp-form difdup, which needs evenly spaced X: uneven points are
interpolated onto as many evenly spaced ones over the same range. Points whose
Raman shift or intensity is not a finite number (NaN, infinity) are left out, as
the chart leaves them out; the JCAMP-DX title has control characters escaped
(\n, \t, \xHH). -o never replaces the input or anything but a regular file.
SPC is binary: it is not written to a terminal.)");
    AddSpectrumInput(*app, v->input, v->read);
    app->add_option("--format", v->format, "the file format (csv by default)")
        ->type_name("csv|jcamp|spc")
        ->check(OneOf({"csv", "jcamp", "spc"}, "Unknown format "));
    AddJcampFormOption(*app, v->form);
    AddOutputOption(*app, v->output);
    return DefineCommand(app, v, RunExport);
}

Command DefineConvert(CLI::App& tool) {
    auto v = std::make_shared<ExportValues>();
    CLI::App* app = AddCommand(tool, "convert", "a spectrum into the format of OUT's extension", R"(
Reads any spectrum export reads and writes it in the format of OUT's extension:
CSV (.csv, .txt, .tsv), JCAMP-DX (.jdx, .dx, .jcamp) or SPC (.spc). The points are
those export writes.)");
    AddSpectrumInput(*app, v->input, v->read, "IN");
    app->add_option("OUT", v->output, "the output file")->required()->type_name("OUT");
    AddJcampFormOption(*app, v->form);
    return DefineCommand(app, v, RunConvert);
}

} // namespace veltrane
