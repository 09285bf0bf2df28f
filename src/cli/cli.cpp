#include "cli/cli.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "app/program_state.h"
#include "device/device_connection.h"
#include "device/device_link.h"
#include "identify/library_index.h"
#include "identify/shift_spectrum.h"
#include "library/catalogue.h"
#include "library/library_drawing.h"
#include "library/library_file.h"
#include "library/make_library.h"
#include "measure/measurement.h"
#include "measure/raw_spectrum_file.h"
#include "measure/smoothing.h"
#include "measure/spectral_axis.h"
#include "platform/byte_order.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/ini_file.h"
#include "platform/null_bridge.h"
#include "platform/paths.h"
#ifdef VELTRANE_WITH_LIBUSB
#include "platform/libusb_backend.h"
#include "platform/libusb_bridge.h"
#endif
#include "sim/sim_model.h"
#include "sim/simulated_bridge.h"
#include "sim/virtual_instrument.h"
#include "transfer/transfer.h"

namespace veltrane {

namespace {

constexpr const char* kUnknownFileFormat = "Unknown file format!";
constexpr const char* kNotPcLibrary = "Not a PC library file!";
constexpr const char* kNoFolder = "Can not open folder!";
constexpr const char* kMeasureFailed = "Measure failed!";
constexpr const char* kMeasureStopped = "Measure stopped; laser off.";
// Every layout is far below this; a larger file is refused unread.
constexpr std::size_t kMaxInputBytes = 1u << 20;

// ---- arguments --------------------------------------------------------------

struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;
    bool help = false;
    std::string error;
    bool has(const std::string& name) const { return values.count(name) > 0; }
    std::string get(const std::string& name, const std::string& fallback = "") const {
        auto it = values.find(name);
        return it == values.end() ? fallback : it->second;
    }
};

// `valued`: options that take a value, as "--name value", "--name=value" or
// for "-o" "-o value". `optional`: options that take a value only after '='.
Args ParseArgs(const std::vector<std::string>& args, const std::vector<std::string>& valued,
               const std::vector<std::string>& optional = {}) {
    auto listed = [](const std::vector<std::string>& names, const std::string& n) {
        return std::find(names.begin(), names.end(), n) != names.end();
    };
    Args parsed;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        // After "--" everything is an argument, so a name may begin with '-'.
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded) {
            parsed.positional.push_back(a);
            continue;
        }
        if (a == "--help" || a == "-h") {
            parsed.help = true;
            continue;
        }
        if (a.size() < 2 || a[0] != '-') {
            parsed.positional.push_back(a);
            continue;
        }
        std::size_t eq = a.find('=');
        std::string name = a.substr(0, eq);
        if (listed(optional, name)) {
            parsed.values[name] = eq == std::string::npos ? "" : a.substr(eq + 1);
        } else if (listed(valued, name)) {
            if (eq != std::string::npos) {
                parsed.values[name] = a.substr(eq + 1);
            } else if (i + 1 < args.size()) {
                parsed.values[name] = args[++i];
            } else {
                parsed.error = "Option " + name + " needs a value.";
                return parsed;
            }
        } else {
            parsed.error = "Unknown option " + a + ".";
            return parsed;
        }
    }
    return parsed;
}

int Help(std::ostream& out, const char* usage) {
    out << usage;
    return kExitOk;
}

int Usage(std::ostream& err, const std::string& message, const char* usage) {
    err << message << "\n" << usage;
    return kExitUsage;
}

// ---- files ------------------------------------------------------------------

enum class FileKind : std::uint8_t { Raw, PcLibrary, DeviceLibrary };

struct SpectrumFile {
    FileKind kind = FileKind::Raw;
    SpectrumHeader header;
    RawFileRecord raw;                  // for a raw file
    std::vector<float> intensity, axis; // for a library, all its points
};

struct Point {
    float x, y;
};

bool ReadInput(const std::string& path, std::string& bytes, std::ostream& err) {
    LoadResult loaded = ReadWholeFile(path, bytes, kMaxInputBytes);
    if (loaded == LoadResult::Loaded) return true;
    err << path << ": " << (loaded == LoadResult::TooLarge ? kUnknownFileFormat : kOpenFailed) << "\n";
    return false;
}

// The layout is told by the size alone: the two library layouts have fixed
// sizes, and a raw file is 140 + 8N bytes for the N it carries.
bool LoadSpectrumFile(const std::string& path, SpectrumFile& file, std::ostream& err) {
    std::string bytes;
    if (!ReadInput(path, bytes, err)) return false;
    auto fail = [&](const char* message) {
        err << path << ": " << message << "\n";
        return false;
    };
    if (bytes.size() == kPcLibrarySize || bytes.size() == kDeviceRecordSize) {
        LibraryView view = bytes.size() == kPcLibrarySize ? LibraryView::Pc : LibraryView::Device;
        file.kind = view == LibraryView::Pc ? FileKind::PcLibrary : FileKind::DeviceLibrary;
        file.intensity.assign(LibraryPoints(view), 0.0f);
        file.axis.assign(LibraryPoints(view), 0.0f);
        if (DecodeLibraryCurve(bytes, view, file.header, file.intensity.data(), file.axis.data()) != CurveRead::Ok)
            return fail(kUnknownFileFormat);
        return true;
    }
    if (bytes.size() < kHeaderSize + 4) return fail(kUnknownFileFormat);
    std::int32_t n = GetI32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + kHeaderSize);
    if (RawFilePixelCount(n) == 0) return fail(kUnknownFileFormat);
    if (bytes.size() < RawFileSize(n)) return fail(kIncompleteRawFile);
    if (bytes.size() > RawFileSize(n)) return fail(kUnknownRawFormat);
    switch (DecodeRawSpectrumFile(bytes, file.raw)) {
    case RawFileCheck::Ok:
        break;
    case RawFileCheck::UnknownFormat:
        return fail(kUnknownRawFormat);
    case RawFileCheck::Incomplete:
        return fail(kIncompleteRawFile);
    case RawFileCheck::WindowOutside:
        return fail(kRawWindowOutside);
    }
    file.kind = FileKind::Raw;
    file.header = file.raw.header;
    return true;
}

// The chart keeps its points in X order (stably, so equal X keep file
// order); an export follows what the chart shows. A NaN X has no place in
// that order, and the file's order is kept then.
void ChartOrder(std::vector<Point>& points) {
    if (std::any_of(points.begin(), points.end(), [](const Point& p) { return std::isnan(p.x); })) return;
    std::stable_sort(points.begin(), points.end(), [](const Point& a, const Point& b) { return a.x < b.x; });
}

// A raw file opened as the Open button does: the shown spectrum, with its
// Raman shifts as the axis.
std::unique_ptr<ProgramState> OpenedRawState(const RawFileRecord& record) {
    auto state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);
    state->rawFile = record;
    ApplyRawSpectrum(state->rawFile, *state);
    return state;
}

std::vector<Point> DrawnPoints(const SpectrumFile& file) {
    std::vector<Point> points;
    if (file.kind == FileKind::Raw) {
        auto state = OpenedRawState(file.raw);
        for (std::int32_t i = file.raw.windowStart; i < file.raw.windowEnd; ++i)
            points.push_back({state->spectrum.axis[i], state->spectrum.signal[i]});
    } else {
        XWindow window = LibraryXWindow(file.header.modelCode());
        for (std::size_t i = 0; i < file.axis.size(); ++i) {
            double x = file.axis[i];
            if (window.low < x && x < window.high && std::isfinite(file.intensity[i]))
                points.push_back({file.axis[i], file.intensity[i]});
        }
    }
    ChartOrder(points);
    return points;
}

std::string CsvText(const std::vector<Point>& points) {
    std::string text = "raman_shift_cm-1,intensity\n";
    for (const Point& p : points)
        text += FloatText(p.x) + "," + FloatText(p.y) + "\n";
    return text;
}

std::string JcampText(const std::string& title, const std::vector<Point>& points) {
    std::string text = "##TITLE=" + title + "\n";
    text += "##JCAMP-DX=5.01\n";
    text += "##DATA TYPE=RAMAN SPECTRUM\n";
    text += "##ORIGIN=Veltrane\n";
    text += "##OWNER=\n";
    text += "##XUNITS=1/CM\n";
    text += "##YUNITS=ARBITRARY UNITS\n";
    text += "##XFACTOR=1\n";
    text += "##YFACTOR=1\n";
    text += "##NPOINTS=" + std::to_string(points.size()) + "\n";
    text += "##FIRSTX=" + FloatText(points.front().x) + "\n";
    text += "##LASTX=" + FloatText(points.back().x) + "\n";
    text += "##XYPOINTS=(XY..XY)\n";
    for (const Point& p : points)
        text += FloatText(p.x) + ", " + FloatText(p.y) + "\n";
    text += "##END=\n";
    return text;
}

// Standard output without a file name; otherwise the file, written whole
// or not at all.
int Emit(const std::string& text, const std::string& path, std::ostream& out, std::ostream& err) {
    if (path.empty()) {
        out << text;
        return kExitOk;
    }
    if (!WriteFileAtomically(path, text)) {
        err << path << ": " << kSaveFailed << "\n";
        return kExitFailure;
    }
    return kExitOk;
}

// ---- help texts ----------------------------------------------------------------

constexpr const char* kMainUsage =
    "Usage: veltrane-cli COMMAND [ARGS]\n"
    "Commands:\n"
    "  info FILE...                      header fields of raw spectra and libraries\n"
    "  export FILE [--format csv|jcamp] [-o OUT]\n"
    "                                    the spectrum as the chart draws it\n"
    "  smooth --level L FILE [-o OUT]    a raw spectrum smoothed as the chart shows it, as CSV\n"
    "  make-library FILE.rsd NAME --folder DIR\n"
    "                                    a PC library entry from a raw spectrum\n"
    "  to-device FILE.rlb -o OUT.rlb     the instrument's record of a PC library\n"
    "  list DIR                          the libraries of a folder: name, model, date\n"
    "  measure [--simulator[=MODEL]] [--sim-speed X] [--exposure MS] [--average N]\n"
    "          [--preheat MS] -o OUT.rsd [--csv OUT.csv]\n"
    "                                    one measurement, saved as a raw spectrum\n"
    "  identify FILE [--library DIR]... [--top N] [--min-hqi H] [--range LO:HI]\n"
    "                                    the library entries that match a spectrum best\n"
    "  baseline FILE [-o OUT]            a spectrum with its fluorescence baseline removed, as CSV\n"
    "Each command takes --help.\n";

constexpr const char* kInfoUsage = "Usage: veltrane-cli info FILE...\n"
                                   "Prints \"key: value\" lines for each raw spectrum (.rsd), PC library or device\n"
                                   "library record (.rlb), each file followed by a blank line.\n";
constexpr const char* kExportUsage = "Usage: veltrane-cli export FILE [--format csv|jcamp] [-o OUT]\n"
                                     "Writes the points the chart draws: a raw file's window, or a library's points\n"
                                     "inside its model's range. CSV (default) or JCAMP-DX 5.01; standard output\n"
                                     "without -o.\n";
constexpr const char* kSmoothUsage = "Usage: veltrane-cli smooth --level L FILE [-o OUT]\n"
                                     "Smooths a raw spectrum at level L (0 to 10) as the chart does and writes the\n"
                                     "file's window as CSV; standard output without -o.\n";
constexpr const char* kMakeLibraryUsage =
    "Usage: veltrane-cli make-library FILE.rsd NAME --folder DIR\n"
    "Makes the library NAME in DIR from a raw spectrum, as Make Library does with the file\n"
    "opened. Exit status 0 when made, the result code (1-5) when refused, 6 for an empty\n"
    "name, 7 when the raw file is refused.\n";
constexpr const char* kToDeviceUsage = "Usage: veltrane-cli to-device FILE.rlb -o OUT.rlb\n"
                                       "Writes the 5120-byte device record that an export to the instrument would\n"
                                       "send for a PC library file.\n";
constexpr const char* kListUsage = "Usage: veltrane-cli list DIR\n"
                                   "One line per library file of DIR in the application's order: name, model\n"
                                   "name, date, separated by tabs.\n";
constexpr const char* kMeasureUsage =
    "Usage: veltrane-cli measure [--simulator[=MODEL]] [--sim-speed X] [--exposure MS]\n"
    "                            [--average N] [--preheat MS] -o OUT.rsd [--csv OUT.csv]\n"
    "Runs one measurement (dark, laser on, preheat, signal, laser off) and saves it as a\n"
    "raw spectrum. Defaults: exposure 3000 ms, average 1, preheat 20000 ms, laser power 100.\n"
    "--simulator attaches the virtual instrument (MODEL 2500, 2048, 256 or unknown; 2500\n"
    "when not given); --sim-speed X runs it and the measurement X times faster than real\n"
    "time. Progress goes to standard error; Ctrl-C switches the laser off and ends.\n";

// ---- measurement ------------------------------------------------------------------

// Everything behind the USB bridge: the virtual instrument, or no device
// while the program has no USB layer.
struct Instrument {
    std::unique_ptr<Clock> clock;
    std::unique_ptr<UsbBridge> bridge;
};

} // namespace

std::string FloatText(float value) {
    char buffer[64];
    std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, r.ptr);
}

int CliInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Args a = ParseArgs(args, {});
    if (a.help) return Help(out, kInfoUsage);
    if (!a.error.empty()) return Usage(err, a.error, kInfoUsage);
    if (a.positional.empty()) return Usage(err, "No file given.", kInfoUsage);
    int status = kExitOk;
    for (const std::string& path : a.positional) {
        auto file = std::make_unique<SpectrumFile>();
        if (!LoadSpectrumFile(path, *file, err)) {
            status = kExitFailure;
            continue;
        }
        const SpectrumHeader& h = file->header;
        std::ostringstream text;
        text << "file: " << path << "\n";
        switch (file->kind) {
        case FileKind::Raw:
            text << "format: raw\n";
            break;
        case FileKind::PcLibrary:
            text << "format: pc-library\n";
            break;
        case FileKind::DeviceLibrary:
            text << "format: device-library\n";
            break;
        }
        text << "name: " << h.name() << "\n";
        text << "date: " << h.dateText() << "\n";
        text << "model: " << h.modelCode() << "\n";
        if (file->kind == FileKind::Raw) {
            const RawFileRecord& r = file->raw;
            text << "frame: " << r.frameLength << "\n";
            text << "laser_nm: " << FloatText(r.laserWavelength) << "\n";
            text << "laser_pixel: " << r.laserPixel << "\n";
            text << "window: " << r.windowStart << " " << r.windowEnd << "\n";
        } else {
            text << "points: " << file->axis.size() << "\n";
        }
        out << text.str() << "\n";
    }
    return status;
}

int CliExport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Args a = ParseArgs(args, {"--format", "-o"});
    if (a.help) return Help(out, kExportUsage);
    if (!a.error.empty()) return Usage(err, a.error, kExportUsage);
    if (a.positional.size() != 1) return Usage(err, "Give exactly one file.", kExportUsage);
    std::string format = a.get("--format", "csv");
    if (format != "csv" && format != "jcamp") return Usage(err, "Unknown format " + format + ".", kExportUsage);
    auto file = std::make_unique<SpectrumFile>();
    if (!LoadSpectrumFile(a.positional[0], *file, err)) return kExitFailure;
    std::vector<Point> points = DrawnPoints(*file);
    if (format == "jcamp" && points.empty()) {
        err << a.positional[0] << ": no points to export.\n";
        return kExitFailure;
    }
    std::string text = format == "csv" ? CsvText(points) : JcampText(file->header.name(), points);
    return Emit(text, a.get("-o"), out, err);
}

int CliSmooth(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Args a = ParseArgs(args, {"--level", "-o"});
    if (a.help) return Help(out, kSmoothUsage);
    if (!a.error.empty()) return Usage(err, a.error, kSmoothUsage);
    if (a.positional.size() != 1) return Usage(err, "Give exactly one file.", kSmoothUsage);
    if (!a.has("--level")) return Usage(err, "--level is needed.", kSmoothUsage);
    std::string levelText = a.get("--level");
    int level = -1;
    auto [end, ec] = std::from_chars(levelText.data(), levelText.data() + levelText.size(), level);
    if (ec != std::errc() || end != levelText.data() + levelText.size() || level < 0 || level > kMaxSmoothLevel)
        return Usage(err, "The level is a whole number from 0 to 10.", kSmoothUsage);

    auto file = std::make_unique<SpectrumFile>();
    if (!LoadSpectrumFile(a.positional[0], *file, err)) return kExitFailure;
    if (file->kind != FileKind::Raw) {
        err << a.positional[0] << ": " << kUnknownRawFormat << "\n";
        return kExitFailure;
    }
    // The chart smooths the whole spectrum, so the window's edges see their
    // real neighbours, and only then cuts the file's window out of it.
    auto state = OpenedRawState(file->raw);
    const SpectrumStore& s = state->spectrum;
    std::uint16_t count = std::min<std::uint16_t>(state->pixelCount, static_cast<std::uint16_t>(kMaxPixels));
    std::vector<float> input(count), output(count);
    for (std::uint16_t i = 0; i < count; ++i) {
        float value = s.signal[i] - s.dark[i];
        input[i] = value > 0.0f ? value : 0.0f;
    }
    SmoothSpectrum(SmoothCoefficients(level), kSmoothWindow, input.data(), output.data(), count);
    std::vector<Point> points;
    int last = std::min<int>(file->raw.windowEnd, count);
    for (int i = file->raw.windowStart; i < last; ++i)
        points.push_back({s.axis[i], output[i]});
    ChartOrder(points);
    return Emit(CsvText(points), a.get("-o"), out, err);
}

int CliMakeLibrary(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Args a = ParseArgs(args, {"--folder"});
    if (a.help) return Help(out, kMakeLibraryUsage);
    if (!a.error.empty()) return Usage(err, a.error, kMakeLibraryUsage);
    if (a.positional.size() != 2) return Usage(err, "Give the raw file and the library name.", kMakeLibraryUsage);
    if (!a.has("--folder") || a.get("--folder").empty()) return Usage(err, "--folder is needed.", kMakeLibraryUsage);
    const std::string& name = a.positional[1];
    // An empty name would make a file named only by its extension.
    if (name.empty()) {
        err << kInvalidNameMessage << "\n";
        return kExitNameRefused;
    }
    auto file = std::make_unique<SpectrumFile>();
    if (!LoadSpectrumFile(a.positional[0], *file, err)) return kExitInputRefused;
    if (file->kind != FileKind::Raw) {
        err << a.positional[0] << ": " << kUnknownRawFormat << "\n";
        return kExitInputRefused;
    }
    auto state = OpenedRawState(file->raw);
    if (const char* refusal = MakeLibraryRefusal(*state)) {
        err << refusal << "\n";
        return kExitInputRefused;
    }
    std::string folder = a.get("--folder");
    if (folder.back() != '/') folder += '/';
    MakeLibraryResult result = MakeLibrary(name, *state, folder, CurrentLocalDateTime());
    err << MakeLibraryMessage(result).text << "\n";
    return static_cast<int>(result);
}

int CliToDevice(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Args a = ParseArgs(args, {"-o"});
    if (a.help) return Help(out, kToDeviceUsage);
    if (!a.error.empty()) return Usage(err, a.error, kToDeviceUsage);
    if (a.positional.size() != 1) return Usage(err, "Give exactly one PC library file.", kToDeviceUsage);
    if (a.get("-o").empty()) return Usage(err, "-o is needed.", kToDeviceUsage);
    std::string bytes;
    if (!ReadInput(a.positional[0], bytes, err)) return kExitFailure;
    if (bytes.size() != kPcLibrarySize) {
        err << a.positional[0] << ": " << kNotPcLibrary << "\n";
        return kExitFailure;
    }
    std::string record = ConvertPcLibraryToRecord(bytes);
    if (record.size() != kDeviceRecordSize) {
        err << a.positional[0] << ": " << kNotPcLibrary << "\n";
        return kExitFailure;
    }
    return Emit(record, a.get("-o"), out, err);
}

int CliList(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Args a = ParseArgs(args, {});
    if (a.help) return Help(out, kListUsage);
    if (!a.error.empty()) return Usage(err, a.error, kListUsage);
    if (a.positional.size() != 1) return Usage(err, "Give exactly one folder.", kListUsage);
    std::string folder = a.positional[0];
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        err << folder << ": " << kNoFolder << "\n";
        return kExitFailure;
    }
    if (folder.back() != '/') folder += '/';
    for (const CatalogueRow& row : ListLibraryFolder(folder, kBrandVariant))
        out << row.name << "\t" << row.model << "\t" << row.date << "\n";
    return kExitOk;
}

int CliMeasure(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const std::atomic<bool>* stop) {
    Args a = ParseArgs(args, {"--sim-speed", "--exposure", "--average", "--preheat", "-o", "--csv"}, {"--simulator"});
    if (a.help) return Help(out, kMeasureUsage);
    if (!a.error.empty()) return Usage(err, a.error, kMeasureUsage);
    if (!a.positional.empty()) return Usage(err, "Unexpected argument " + a.positional[0] + ".", kMeasureUsage);
    if (a.get("-o").empty()) return Usage(err, "-o is needed.", kMeasureUsage);
    bool simulated = a.has("--simulator");
    std::optional<SimModel> model = SimModelByName(a.get("--simulator").empty() ? "2500" : a.get("--simulator"));
    if (simulated && !model) return Usage(err, "Unknown model " + a.get("--simulator") + ".", kMeasureUsage);
    std::uint32_t speed = 1;
    if (a.has("--sim-speed")) {
        if (!simulated) return Usage(err, "--sim-speed needs --simulator.", kMeasureUsage);
        std::string text = a.get("--sim-speed");
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), speed);
        if (ec != std::errc() || end != text.data() + text.size() || speed == 0)
            return Usage(err, "The speed is a whole number of at least 1.", kMeasureUsage);
    }

    Instrument instrument;
    if (speed > 1)
        instrument.clock = std::make_unique<ScaledClock>(speed);
    else
        instrument.clock = std::make_unique<SteadyClock>();
    Clock& clock = *instrument.clock;
    if (simulated) {
        auto bridge = std::make_unique<SimulatedBridge>();
        bridge->attach(std::make_shared<VirtualInstrument>(clock, *model, SimSample::Polystyrene,
                                                           static_cast<std::uint64_t>(clock.tickCount()) + 1));
        instrument.bridge = std::move(bridge);
    } else {
#ifdef VELTRANE_WITH_LIBUSB
        // The same bridge IDs as the application: its settings file lies
        // beside both programs, or under XDG for an installed copy.
        std::filesystem::path exe = ExecutablePath();
        AppPaths paths = ResolveAppPaths((exe.parent_path() / "veltrane").string());
        instrument.bridge =
            std::make_unique<LibusbBridge>(MakeLibusbBackend(), ReadUsbDeviceIds(IniFile(paths.settingsFile)));
#else
        instrument.bridge = std::make_unique<NullBridge>();
#endif
    }
    DeviceLink link(*instrument.bridge);
    auto state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);

    // Identification as the connection timer does it.
    CheckResult check = CheckDevice(link, clock, *state);
    if (check.newlyIdentified) {
        RefreshSpectralAxis(*state);
        if (check.showCalibrationMissing) err << kCalibrationMissingMessage << "\n";
    }
    if (check.showDeviceRefused) err << kDeviceRefusedMessage << "\n";
    if (link.takeAccessDeniedNotice()) err << kBridgeAccessDeniedMessage << "\n";

    CaptureInputs inputs{a.get("--exposure", "3000"), a.get("--average", "1"), a.get("--preheat", "20000"), "100",
                         true};
    CaptureCheck capture = CheckCapture(inputs, *state, false);
    if (capture.conversionError) {
        err << *capture.conversionError << "\n";
        return kExitFailure;
    }
    if (capture.code != CaptureCode::Start) {
        err << CaptureMessage(capture.code) << "\n";
        return kExitFailure;
    }

    state->pixelCount =
        state->deviceType == 1 ? 256 : static_cast<std::uint16_t>(state->pixelLast - state->pixelFirst + 1);
    state->measureState.store(1, std::memory_order_release);
    state->measureStatus.store(2, std::memory_order_relaxed);
    AcquisitionContext ctx{link, clock, *state, stop};
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        RunMeasurement(ctx);
        returned.store(true, std::memory_order_release);
    });
    int shown = -1;
    while (!returned.load(std::memory_order_acquire)) {
        int percent = MeasureProgressPercent(*state, clock.tickCount());
        if (percent != shown) {
            err << "progress: " << percent << "%\n" << std::flush;
            shown = percent;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    worker.join();
    state->measureState.store(0, std::memory_order_release);
    if (ctx.stopRequested()) {
        err << kMeasureStopped << "\n";
        return kExitStopped;
    }
    if (state->measureStatus.load(std::memory_order_relaxed) != 1) {
        err << kMeasureFailed << "\n";
        return kExitFailure;
    }
    if (shown != 100) err << "progress: 100%\n";

    if (const char* refusal = SaveRawRefusal(*state)) {
        err << refusal << "\n";
        return kExitFailure;
    }
    std::string path = a.get("-o");
    std::string fileName = std::filesystem::path(path).filename().string();
    RawFileRecord saved = state->rawFile;
    std::string bytes = BuildRawSpectrumFile(*state, fileName, CurrentLocalDateTime(), saved);
    if (!WriteFileAtomically(path, bytes)) {
        err << path << ": " << kSaveFailed << "\n";
        return kExitFailure;
    }
    if (!a.has("--csv")) return kExitOk;
    // The CSV is the saved file exported, so the two can never disagree.
    auto file = std::make_unique<SpectrumFile>();
    if (DecodeRawSpectrumFile(bytes, file->raw) != RawFileCheck::Ok) {
        err << path << ": " << kUnknownRawFormat << "\n";
        return kExitFailure;
    }
    file->header = file->raw.header;
    return Emit(CsvText(DrawnPoints(*file)), a.get("--csv"), out, err);
}

// ---- identification -----------------------------------------------------------

namespace {

constexpr const char* kIdentifyUsage =
    "Usage: veltrane-cli identify FILE [--library DIR]... [--top N] [--min-hqi H] [--range LO:HI]\n"
    "                             [--index FILE]\n"
    "Removes the fluorescence baseline of FILE (a raw spectrum, a PC library or a device\n"
    "record) and ranks the libraries of each DIR (default: the PC library folder of the\n"
    "application) by hit quality index over Raman shifts LO to HI (default 400:3200).\n"
    "Prints the best N hits (default 5), one per line: rank, HQI, name, file, separated by\n"
    "tabs. Files that take no part go to standard error with the reason. The prepared\n"
    "libraries are kept in an index in the cache folder (--index names another file).\n"
    "Exit status 0 when the best hit reaches H (default 90), 2 when none does.\n";
constexpr const char* kBaselineUsage =
    "Usage: veltrane-cli baseline FILE [-o OUT]\n"
    "Resamples a raw spectrum or library onto whole wavenumbers and removes its fluorescence\n"
    "baseline (arPLS). Writes CSV: Raman shift, corrected intensity, baseline; standard\n"
    "output without -o.\n";
constexpr int kExitNoMatch = 2;

// Names and paths become tab-separated fields: a tab, line break or other
// control byte inside one is written as an escape so each hit stays one line.
std::string EscapeField(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                const char* hex = "0123456789abcdef";
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

// The spectrum of FILE against Raman shift; messages as the other commands
// give them for a refused file.
bool LoadShiftSpectrum(const std::string& path, ShiftSpectrum& spectrum, std::ostream& err) {
    auto file = std::make_unique<SpectrumFile>();
    if (!LoadSpectrumFile(path, *file, err)) return false;
    std::string bytes;
    if (!ReadInput(path, bytes, err)) return false;
    ShiftRead read = ReadShiftSpectrum(bytes, spectrum);
    if (read != ShiftRead::Ok) {
        err << path << ": " << ShiftReadReason(read) << "\n";
        return false;
    }
    return true;
}

bool ParseWhole(const std::string& text, std::size_t& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

std::string HqiText(double hqi) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", hqi);
    return buffer;
}

} // namespace

int CliIdentify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    // --library may be given several times; the common parser keeps one
    // value per option, so its values are collected here first.
    std::vector<std::string> libraries, rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") {
            rest.insert(rest.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        if (args[i] == "--library" && i + 1 < args.size()) {
            libraries.push_back(args[++i]);
        } else if (args[i].rfind("--library=", 0) == 0) {
            libraries.push_back(args[i].substr(10));
        } else {
            rest.push_back(args[i]);
        }
    }
    Args a = ParseArgs(rest, {"--top", "--min-hqi", "--range", "--index", "--library"});
    if (a.help) return Help(out, kIdentifyUsage);
    if (!a.error.empty()) return Usage(err, a.error, kIdentifyUsage);
    if (a.positional.size() != 1) return Usage(err, "Give exactly one file.", kIdentifyUsage);
    std::size_t top = 5;
    if (a.has("--top") && (!ParseWhole(a.get("--top"), top) || top == 0))
        return Usage(err, "The number of hits is a whole number of at least 1.", kIdentifyUsage);
    double minHqi = kDefaultMinHqi;
    if (a.has("--min-hqi")) {
        std::string text = a.get("--min-hqi");
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), minHqi);
        if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !(minHqi >= 0.0) || minHqi > 100.0)
            return Usage(err, "The HQI threshold is a number from 0 to 100.", kIdentifyUsage);
    }
    SearchRange range;
    if (a.has("--range")) {
        auto parsed = ParseSearchRange(a.get("--range"));
        if (!parsed) return Usage(err, "The range is LO:HI in cm-1 with LO below HI.", kIdentifyUsage);
        range = *parsed;
    }
    // The application's folders: they lie beside both programs, or under XDG
    // for an installed copy.
    std::filesystem::path exe = ExecutablePath();
    AppPaths paths = ResolveAppPaths((exe.parent_path() / "veltrane").string());
    if (libraries.empty()) libraries.push_back(paths.pcLibraryFolder());
    for (const std::string& folder : libraries) {
        std::error_code ec;
        if (!std::filesystem::is_directory(folder, ec)) {
            err << folder << ": " << kNoFolder << "\n";
            return kExitFailure;
        }
    }

    ShiftSpectrum spectrum;
    if (!LoadShiftSpectrum(a.positional[0], spectrum, err)) return kExitFailure;
    UnknownSpectrum unknown = PrepareUnknown(spectrum.shift, spectrum.intensity);

    LibraryIndex index(a.get("--index", IdentifyIndexPath(paths)));
    auto library = std::make_unique<IndexedLibrary>();
    unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    if (!index.refresh(libraries, *library, threads)) {
        err << index.path() << ": Can not write the library index!\n";
        return kExitFailure;
    }
    for (const IndexSkip& skip : library->skipped)
        err << EscapeField(skip.path) << ": " << skip.reason << "\n";
    Ranking ranking = RankLibrary(unknown, library->prepared, range, top);
    for (std::size_t entry : ranking.tooFewPoints)
        err << EscapeField(library->info[entry].path) << ": fewer than " << kMinCommonPoints
            << " points in common with the spectrum\n";
    for (std::size_t rank = 0; rank < ranking.hits.size(); ++rank) {
        const RankedHit& hit = ranking.hits[rank];
        const IndexedEntryInfo& info = library->info[hit.entry];
        out << rank + 1 << "\t" << HqiText(hit.hqi) << "\t" << EscapeField(info.name) << "\t" << EscapeField(info.path)
            << "\n";
    }
    return !ranking.hits.empty() && ranking.hits[0].hqi >= minHqi ? kExitOk : kExitNoMatch;
}

int CliBaseline(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Args a = ParseArgs(args, {"-o"});
    if (a.help) return Help(out, kBaselineUsage);
    if (!a.error.empty()) return Usage(err, a.error, kBaselineUsage);
    if (a.positional.size() != 1) return Usage(err, "Give exactly one file.", kBaselineUsage);
    ShiftSpectrum spectrum;
    if (!LoadShiftSpectrum(a.positional[0], spectrum, err)) return kExitFailure;
    GridSpectrum grid = ResampleToWholeWavenumbers(spectrum.shift, spectrum.intensity);
    std::vector<double> y(grid.values.begin(), grid.values.end()), baseline(y.size());
    ArplsBaseline(y, baseline);
    std::string text = "raman_shift_cm-1,corrected,baseline\n";
    for (std::size_t k = 0; k < y.size(); ++k)
        text += std::to_string(grid.start + static_cast<std::int32_t>(k)) + "," +
                FloatText(static_cast<float>(y[k] - baseline[k])) + "," + FloatText(static_cast<float>(baseline[k])) +
                "\n";
    return Emit(text, a.get("-o"), out, err);
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::atomic<bool>* stop) {
    if (args.empty()) return Usage(err, "No command given.", kMainUsage);
    const std::string& command = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--help" || command == "-h" || command == "help") return Help(out, kMainUsage);
    if (command == "info") return CliInfo(rest, out, err);
    if (command == "export") return CliExport(rest, out, err);
    if (command == "smooth") return CliSmooth(rest, out, err);
    if (command == "make-library") return CliMakeLibrary(rest, out, err);
    if (command == "to-device") return CliToDevice(rest, out, err);
    if (command == "list") return CliList(rest, out, err);
    if (command == "measure") return CliMeasure(rest, out, err, stop);
    if (command == "identify") return CliIdentify(rest, out, err);
    if (command == "baseline") return CliBaseline(rest, out, err);
    return Usage(err, "Unknown command " + command + ".", kMainUsage);
}

} // namespace veltrane
