// The commands that make library entries or records: make-library, import
// and to-device.

#include <memory>

#include "cli/commands.h"
#include "cli/input.h"
#include "cli/output.h"
#include "device/axis_correction.h"
#include "identify/shift_spectrum.h"
#include "interchange/shown_spectrum.h"
#include "library/library_file.h"
#include "library/make_library.h"
#include "platform/clock.h"
#include "transfer/transfer.h"

namespace veltrane {

namespace {

constexpr const char* kNotPcLibrary = "Not a PC library file!";
constexpr const char* kAxisOffsetOnWavelengths =
    "Its X values are wavelengths, not Raman shifts; --axis-offset corrects Raman shifts.";

struct EntryValues {
    std::string input, name, folder;
    ReadChoices read;
    bool force = false;
    double axisOffset = 0.0;
};

// Makes the library of the spectrum `state` shows in `folder`, as the window's
// Make Library does; its message goes to standard error, its result code is
// the exit status.
int MakeLibraryIn(std::string folder, const std::string& name, ProgramState& state, const CliStreams& io) {
    if (folder.back() != '/') folder += '/';
    MakeLibraryResult result =
        MakeLibrary(name, state.measurement, state.device, state.library, folder, CurrentLocalDateTime());
    io.err << MakeLibraryMessage(result).text << "\n";
    return static_cast<int>(result);
}

// An empty name would make a file named only by its extension.
bool NameRefused(const std::string& name, const CliStreams& io) {
    if (!name.empty()) return false;
    io.err << kInvalidNameMessage << "\n";
    return true;
}

int RunMakeLibrary(const EntryValues& v, const CliStreams& io) {
    if (NameRefused(v.name, io)) return kExitNameRefused;
    auto file = std::make_unique<SpectrumFile>();
    if (!LoadSpectrumFile(v.input, *file, io)) return kExitInputRefused;
    if (file->kind != FileKind::Raw) {
        io.err << Shown(v.input) << ": " << kUnknownRawFormat << "\n";
        return kExitInputRefused;
    }
    auto state = OpenedRawState(file->raw);
    if (const char* refusal = MakeLibraryRefusal(state->measurement, state->device)) {
        io.err << refusal << "\n";
        return kExitInputRefused;
    }
    return MakeLibraryIn(v.folder, v.name, *state, io);
}

int RunImport(const EntryValues& v, const CliStreams& io) {
    if (NameRefused(v.name, io)) return kExitNameRefused;
    auto file = std::make_unique<SpectrumFile>();
    if (!LoadAnySpectrum(v.input, v.read, *file, io)) return kExitInputRefused;
    // An infrared or UV-visible spectrum would be searched as if it were a
    // Raman one.
    if (file->kind == FileKind::Foreign && !v.force && !RamanIntensityUnits(file->foreign.yUnits)) {
        io.err << Shown(v.input) << ": Intensities in " << Shown(file->foreign.yUnits)
               << " are not a Raman spectrum; --force imports them all the same.\n";
        return kExitInputRefused;
    }
    std::vector<Point> points = DrawnPoints(*file);
    if (points.empty()) {
        io.err << Shown(v.input) << ": " << kNoDataToMakeLibrary << "\n";
        return kExitInputRefused;
    }
    if (v.axisOffset != 0.0) {
        if (file->kind != FileKind::Foreign && file->kind != FileKind::Raw &&
            LibraryHoldsWavelengths(file->header.modelCode(), file->axis)) {
            io.err << Shown(v.input) << ": " << kAxisOffsetOnWavelengths << "\n";
            return kExitInputRefused;
        }
        const AxisCorrection correction{AxisCorrectionKind::Offset, v.axisOffset};
        for (Point& p : points)
            p.x = static_cast<float>(CorrectedShift(correction, p.x));
    }
    // The entry is made as the window makes one of an opened spectrum.
    bool resampled = false;
    InterchangeSpectrum shown = FitForStore(AsSpectrum(TitleOf(*file, v.input), points), resampled);
    if (resampled)
        io.err << Shown(v.input) << ": " << points.size() << " points resampled to " << kMaxShownPoints << ".\n";
    auto state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);
    ApplyInterchangeSpectrum(shown, shown.title, state->measurement, state->device);
    return MakeLibraryIn(v.folder, v.name, *state, io);
}

// The options both commands that make an entry take.
std::shared_ptr<EntryValues> AddEntryOptions(CLI::App& app, const std::string& input) {
    auto v = std::make_shared<EntryValues>();
    AddInputFile(app, v->input, input);
    app.add_option("NAME", v->name, "the name of the library entry")->required();
    AddFolderOption(app, v->folder);
    return v;
}

struct ToDeviceValues {
    std::string input, output;
};

int RunToDevice(const ToDeviceValues& v, const CliStreams& io) {
    if (int refused = RefuseBinaryOnTerminal(v.output, io)) return refused;
    if (!OutputAllowed(v.output, {v.input}, io)) return kExitFailure;
    std::string bytes;
    if (!ReadInput(v.input, bytes, io)) return kExitFailure;
    std::string record = bytes.size() == kPcLibrarySize ? ConvertPcLibraryToRecord(bytes) : std::string();
    if (record.size() != kDeviceRecordSize) {
        io.err << Shown(v.input) << ": " << kNotPcLibrary << "\n";
        return kExitFailure;
    }
    return Emit(record, v.output, io);
}

} // namespace

Command DefineMakeLibrary(CLI::App& tool) {
    CLI::App* app = AddCommand(tool, "make-library", "a PC library entry from a raw spectrum", R"(
Makes the library NAME in DIR from a raw spectrum, as Make Library does with the file
opened. Exit status 0 when made, the result code (1-5) when refused, 6 for an empty
name, 7 when the raw file is refused.)");
    return DefineCommand(app, AddEntryOptions(*app, "FILE.rsd"), RunMakeLibrary);
}

Command DefineImport(CLI::App& tool) {
    CLI::App* app = AddCommand(tool, "import", "a PC library entry from any readable spectrum", R"(
Makes the PC library NAME in DIR from any readable spectrum, as Make Library does
with the file opened. A library holds 2500 points: a spectrum of more points is
resampled to 2500 evenly spaced over its X range. A file whose intensities are
not a Raman spectrum's (its Y units absorbance, transmittance or the like) is
refused unless --force is given. --axis-offset adds a correction to every Raman
shift, as check-axis finds it for the instrument the spectrum was measured on.
Exit status 0 when made, the result code (1-5) when refused, 6 for an empty
name, 7 when the file is refused.)");
    auto v = AddEntryOptions(*app, "FILE");
    AddReadOptions(*app, v->read);
    app->add_flag("--force", v->force, "import intensities that are not a Raman spectrum's (absorbance, transmittance) too");
    AddAxisOffsetOption(*app, v->axisOffset);
    return DefineCommand(app, v, RunImport);
}

Command DefineToDevice(CLI::App& tool) {
    auto v = std::make_shared<ToDeviceValues>();
    CLI::App* app = AddCommand(tool, "to-device", "the instrument's record of a PC library", R"(
Writes the 5120-byte device record that an export to the instrument would
send for a PC library file. -o - writes it to standard output, which must not
be a terminal.)");
    AddInputFile(*app, v->input, "FILE.rlb");
    AddOutputOption(*app, v->output, "the output file, - for standard output")->required();
    return DefineCommand(app, v, RunToDevice);
}

} // namespace veltrane
