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

#include "app/connection_check.h"
#include "app/program_state.h"
#include "device/device_connection.h"
#include "device/device_link.h"
#include "axis_check/axis_check.h"
#include "identify/library_index.h"
#include "identify/shift_spectrum.h"
#include "identify/verdict.h"
#include "interchange/delimited_text.h"
#include "interchange/interchange.h"
#include "interchange/jcamp.h"
#include "interchange/shown_spectrum.h"
#include "interchange/spc_file.h"
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
#include "platform/display_text.h"
#include "platform/file_io.h"
#include "platform/folder_listing.h"
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
constexpr const char* kFolderUnreadable = "Can not read folder!";
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
    err << EscapeControlCharacters(message) << "\n" << usage;
    return kExitUsage;
}

// ---- files ------------------------------------------------------------------

enum class FileKind : std::uint8_t { Raw, PcLibrary, DeviceLibrary, Foreign };

struct SpectrumFile {
    FileKind kind = FileKind::Raw;
    SpectrumHeader header;
    RawFileRecord raw;                  // for a raw file
    std::vector<float> intensity, axis; // for a library, all its points
    InterchangeSpectrum foreign;        // for another program's file
    InterchangeFormat format = InterchangeFormat::Unknown;
    std::string notice;
};

struct Point {
    float x, y;
};

// A path or name as it may be printed: see EscapeControlCharacters.
std::string Shown(const std::string& text) {
    return EscapeControlCharacters(text);
}

bool ReadInput(const std::string& path, std::string& bytes, std::ostream& err, std::size_t maxBytes = kMaxInputBytes) {
    LoadResult loaded = ReadWholeFile(path, bytes, maxBytes);
    if (loaded == LoadResult::Loaded) return true;
    const char* message = loaded == LoadResult::TooLarge     ? kUnknownFileFormat
                          : loaded == LoadResult::NotRegular ? kNotRegularFileMessage
                                                             : kOpenFailed;
    err << Shown(path) << ": " << message << "\n";
    return false;
}

// The layout is told by the size alone: the two library layouts have fixed
// sizes, and a raw file is 140 + 8N bytes for the N it carries.
bool LoadSpectrumFile(const std::string& path, SpectrumFile& file, std::ostream& err) {
    std::string bytes;
    if (!ReadInput(path, bytes, err)) return false;
    auto fail = [&](const char* message) {
        err << Shown(path) << ": " << message << "\n";
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
// order); an export follows what the chart shows.
void ChartOrder(std::vector<Point>& points) {
    std::stable_sort(points.begin(), points.end(), [](const Point& a, const Point& b) { return a.x < b.x; });
}

// A raw file opened as the Open button does: the shown spectrum, with its
// Raman shifts as the axis.
std::unique_ptr<ProgramState> OpenedRawState(const RawFileRecord& record) {
    auto state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);
    state->measurement.rawFile = record;
    ApplyRawSpectrum(state->measurement.rawFile, state->measurement, state->device);
    return state;
}

std::vector<Point> DrawnPoints(const SpectrumFile& file) {
    std::vector<Point> points;
    if (file.kind == FileKind::Foreign) {
        for (std::size_t i = 0; i < file.foreign.x.size(); ++i)
            points.push_back({file.foreign.x[i], file.foreign.y[i]});
    } else if (file.kind == FileKind::Raw) {
        auto state = OpenedRawState(file.raw);
        for (std::int32_t i = file.raw.windowStart; i < file.raw.windowEnd; ++i)
            if (std::isfinite(state->measurement.spectrum.axis[i]) &&
                std::isfinite(state->measurement.spectrum.signal[i]))
                points.push_back({state->measurement.spectrum.axis[i], state->measurement.spectrum.signal[i]});
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

InterchangeSpectrum AsSpectrum(const std::string& title, const std::vector<Point>& points) {
    InterchangeSpectrum spectrum;
    spectrum.title = title;
    for (const Point& p : points) {
        spectrum.x.push_back(p.x);
        spectrum.y.push_back(p.y);
    }
    return spectrum;
}

std::string CsvText(const std::vector<Point>& points) {
    return WriteCsvSpectrum(AsSpectrum("", points));
}

// ---- other programs' files -------------------------------------------------------

constexpr const char* kForeignExtensions = ".csv, .txt, .tsv, .jdx, .dx, .jcamp, .spc";

// "--laser NM": 0 when not given, -1 when not a wavelength.
double LaserOption(const Args& a) {
    if (!a.has("--laser")) return 0.0;
    double nm = 0.0;
    std::string text = a.get("--laser");
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), nm);
    if (ec != std::errc() || end != text.data() + text.size() || !(nm > 0.0) || !std::isfinite(nm)) return -1.0;
    return nm;
}

// A file of another program by its extension, else one of the program's
// own files by its size.
bool LoadAnySpectrum(const std::string& path, double laserNm, SpectrumFile& file, std::ostream& err) {
    InterchangeFormat format = FormatOfFileName(path);
    if (format == InterchangeFormat::Raw || format == InterchangeFormat::Unknown)
        return LoadSpectrumFile(path, file, err);
    std::string bytes;
    if (!ReadInput(path, bytes, err, kMaxInterchangeFileBytes)) return false;
    ReadOutcome outcome = ReadInterchangeSpectrum(bytes, format, laserNm, file.foreign);
    if (!outcome.ok) {
        err << Shown(path) << ": " << outcome.message << (outcome.needsLaser ? " Give it with --laser NM." : "")
            << "\n";
        return false;
    }
    file.kind = FileKind::Foreign;
    file.format = format;
    file.notice = outcome.notice;
    if (!outcome.notice.empty()) err << Shown(path) << ": " << Shown(outcome.notice) << "\n";
    return true;
}

// A title for a file without one: its name without folder and extension.
std::string TitleOf(const SpectrumFile& file, const std::string& path) {
    std::string title = file.kind == FileKind::Foreign ? file.foreign.title : file.header.name();
    return title.empty() ? std::filesystem::path(path).stem().string() : title;
}

// The file text of the points in the format of `format`; empty when the
// points cannot be written in it.
std::string ExportText(InterchangeFormat format, JcampForm form, const std::string& title,
                       const std::vector<Point>& points) {
    InterchangeSpectrum spectrum = AsSpectrum(title, points);
    switch (format) {
    case InterchangeFormat::Csv:
        return WriteCsvSpectrum(spectrum);
    case InterchangeFormat::Jcamp:
        // The title is the one free text in the file: escaped, a name can
        // neither start a new label nor reach a terminal's control codes.
        spectrum.title = Shown(title);
        return WriteJcampSpectrum(spectrum, form);
    case InterchangeFormat::Spc:
        return spectrum.x.empty() ? std::string() : WriteSpcSpectrum(spectrum);
    case InterchangeFormat::Raw:
    case InterchangeFormat::Unknown:
        break;
    }
    return {};
}

// An output may only replace a regular file, and never a file the command
// reads: writing it would destroy the input before or while it is used.
bool OutputAllowed(const std::string& path, const std::vector<std::string>& inputs, std::ostream& err) {
    if (path.empty()) return true;
    if (const char* refusal = OutputRefusal(path, inputs)) {
        err << Shown(path) << ": " << refusal << "\n";
        return false;
    }
    return true;
}

bool Save(const std::string& path, const std::string& bytes, std::ostream& err) {
    if (WriteFileAtomically(path, bytes)) return true;
    err << Shown(path) << ": " << kSaveFailed << "\n";
    return false;
}

// Standard output without a file name; otherwise the file, written whole
// or not at all.
int Emit(const std::string& text, const std::string& path, std::ostream& out, std::ostream& err) {
    if (path.empty()) {
        out << text;
        return kExitOk;
    }
    return Save(path, text, err) ? kExitOk : kExitFailure;
}

// ---- help texts ----------------------------------------------------------------

constexpr const char* kMainUsage =
    "Usage: veltrane-cli COMMAND [ARGS]\n"
    "Commands:\n"
    "  info FILE...                      header fields of raw spectra, libraries and other\n"
    "                                    programs' spectra\n"
    "  export FILE [--format csv|jcamp|spc] [--jcamp-form affn|difdup] [-o OUT]\n"
    "                                    the spectrum as the chart draws it\n"
    "  convert IN OUT [--jcamp-form affn|difdup] [--laser NM]\n"
    "                                    a spectrum into the format of OUT's extension\n"
    "  import FILE NAME --folder DIR [--laser NM]\n"
    "                                    a PC library entry from any readable spectrum\n"
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
    "  check-axis FILE [--standard NAME|FILE] [--tolerance CM] [--laser NM]\n"
    "                                    the Raman-shift axis against a reference standard\n"
    "Each command takes --help.\n";

constexpr const char* kInfoUsage =
    "Usage: veltrane-cli info [--laser NM] FILE...\n"
    "Prints \"key: value\" lines for each raw spectrum (.rsd), PC library or device\n"
    "library record (.rlb), CSV or text (.csv, .txt, .tsv), JCAMP-DX (.jdx, .dx, .jcamp)\n"
    "or SPC (.spc) spectrum, each file followed by a blank line. --laser gives the laser\n"
    "wavelength for files whose X is in nm or um.\n";
constexpr const char* kExportUsage =
    "Usage: veltrane-cli export FILE [--format csv|jcamp|spc] [--jcamp-form affn|difdup]\n"
    "                           [--laser NM] [-o OUT]\n"
    "Writes the points the chart draws: a raw file's window, a library's points inside\n"
    "its model's range, or all points of another program's spectrum. CSV (default),\n"
    "JCAMP-DX 5.01 or SPC; standard output without -o. JCAMP-DX is AFFN (X, Y pairs)\n"
    "unless --jcamp-form difdup, which needs evenly spaced X: uneven points are\n"
    "interpolated onto as many evenly spaced ones over the same range. Points whose\n"
    "Raman shift or intensity is not a finite number (NaN, infinity) are left out, as\n"
    "the chart leaves them out; the JCAMP-DX title has control characters escaped\n"
    "(\\n, \\t, \\xHH). -o never replaces the input or anything but a regular file.\n";
constexpr const char* kConvertUsage =
    "Usage: veltrane-cli convert IN OUT [--jcamp-form affn|difdup] [--laser NM]\n"
    "Reads any spectrum export reads and writes it in the format of OUT's extension:\n"
    "CSV (.csv, .txt, .tsv), JCAMP-DX (.jdx, .dx, .jcamp) or SPC (.spc). The points are\n"
    "those export writes. --laser gives the laser wavelength for X in nm or um.\n";
constexpr const char* kImportUsage =
    "Usage: veltrane-cli import FILE NAME --folder DIR [--laser NM]\n"
    "Makes the PC library NAME in DIR from any readable spectrum, as Make Library does\n"
    "with the file opened. A library holds 2500 points: a spectrum of more points is\n"
    "resampled to 2500 evenly spaced over its X range. --laser gives the laser\n"
    "wavelength for X in nm or um. Exit status 0 when made, the result code (1-5) when\n"
    "refused, 6 for an empty name, 7 when the file is refused.\n";
constexpr const char* kSmoothUsage = "Usage: veltrane-cli smooth --level L FILE [-o OUT]\n"
                                     "Smooths a raw spectrum at level L (0 to 10) as the chart does and writes the\n"
                                     "file's window as CSV; standard output without -o. Points that are not finite\n"
                                     "numbers are left out, as in export.\n";
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
                                   "name, date, separated by tabs, control characters escaped (\\t, \\n, \\xHH).\n"
                                   "Exit status 1 when DIR cannot be read, or holds more than 65535 library files\n"
                                   "(the first 65535 are listed).\n";
constexpr const char* kMeasureUsage =
    "Usage: veltrane-cli measure [--simulator[=MODEL]] [--sim-speed X] [--axis-error CM]\n"
    "                            [--exposure MS] [--average N] [--preheat MS] -o OUT.rsd\n"
    "                            [--csv OUT.csv]\n"
    "Runs one measurement (dark, laser on, preheat, signal, laser off) and saves it as a\n"
    "raw spectrum. Defaults: exposure 3000 ms, average 1, preheat 20000 ms, laser power 100.\n"
    "--simulator attaches the virtual instrument (MODEL 2500, 2048, 256 or unknown; 2500\n"
    "when not given); --sim-speed X runs it and the measurement X times faster than real\n"
    "time; --axis-error CM makes its Raman-shift axis read CM high (for check-axis).\n"
    "Progress goes to standard error; Ctrl-C switches the laser off and ends.\n";

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
    Args a = ParseArgs(args, {"--laser"});
    if (a.help) return Help(out, kInfoUsage);
    if (!a.error.empty()) return Usage(err, a.error, kInfoUsage);
    if (a.positional.empty()) return Usage(err, "No file given.", kInfoUsage);
    const double laser = LaserOption(a);
    if (laser < 0) return Usage(err, "The laser wavelength is a number of nm above 0.", kInfoUsage);
    int status = kExitOk;
    for (const std::string& path : a.positional) {
        auto file = std::make_unique<SpectrumFile>();
        if (!LoadAnySpectrum(path, laser, *file, err)) {
            status = kExitFailure;
            continue;
        }
        const SpectrumHeader& h = file->header;
        std::ostringstream text;
        text << "file: " << Shown(path) << "\n";
        if (file->kind == FileKind::Foreign) {
            const InterchangeSpectrum& f = file->foreign;
            const char* format = file->format == InterchangeFormat::Csv     ? "csv"
                                 : file->format == InterchangeFormat::Jcamp ? "jcamp-dx"
                                                                            : "spc";
            text << "format: " << format << "\n";
            text << "name: " << Shown(f.title) << "\n";
            text << "points: " << f.x.size() << "\n";
            text << "x_range: " << FloatText(f.x.front()) << " " << FloatText(f.x.back()) << "\n";
            if (!file->notice.empty()) text << "notice: " << Shown(file->notice) << "\n";
            out << text.str() << "\n";
            continue;
        }
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
        case FileKind::Foreign:
            break; // printed above
        }
        text << "name: " << Shown(h.name()) << "\n";
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
    Args a = ParseArgs(args, {"--format", "-o", "--jcamp-form", "--laser"});
    if (a.help) return Help(out, kExportUsage);
    if (!a.error.empty()) return Usage(err, a.error, kExportUsage);
    if (a.positional.size() != 1) return Usage(err, "Give exactly one file.", kExportUsage);
    std::string format = a.get("--format", "csv");
    if (format != "csv" && format != "jcamp" && format != "spc")
        return Usage(err, "Unknown format " + format + ".", kExportUsage);
    std::string form = a.get("--jcamp-form", "affn");
    if (form != "affn" && form != "difdup") return Usage(err, "Unknown JCAMP-DX form " + form + ".", kExportUsage);
    const double laser = LaserOption(a);
    if (laser < 0) return Usage(err, "The laser wavelength is a number of nm above 0.", kExportUsage);
    auto file = std::make_unique<SpectrumFile>();
    if (!OutputAllowed(a.get("-o"), a.positional, err)) return kExitFailure;
    if (!LoadAnySpectrum(a.positional[0], laser, *file, err)) return kExitFailure;
    std::vector<Point> points = DrawnPoints(*file);
    if (format != "csv" && points.empty()) {
        err << Shown(a.positional[0]) << ": no points to export.\n";
        return kExitFailure;
    }
    InterchangeFormat target = format == "csv"     ? InterchangeFormat::Csv
                               : format == "jcamp" ? InterchangeFormat::Jcamp
                                                   : InterchangeFormat::Spc;
    std::string title = file->kind == FileKind::Foreign ? file->foreign.title : file->header.name();
    std::string text = ExportText(target, form == "difdup" ? JcampForm::DifDup : JcampForm::Affn, title, points);
    if (format != "csv" && text.empty()) {
        err << Shown(a.positional[0]) << ": " << kSaveFailed << "\n";
        return kExitFailure;
    }
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
    if (!OutputAllowed(a.get("-o"), a.positional, err)) return kExitFailure;
    if (!LoadSpectrumFile(a.positional[0], *file, err)) return kExitFailure;
    if (file->kind != FileKind::Raw) {
        err << Shown(a.positional[0]) << ": " << kUnknownRawFormat << "\n";
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
    SmoothSpectrum(SmoothCoefficients(level), kSmoothWindow, input.data(), output.data(), count);
    std::vector<Point> points;
    int last = std::min<int>(file->raw.windowEnd, count);
    for (int i = file->raw.windowStart; i < last; ++i)
        if (std::isfinite(s.axis[i]) && std::isfinite(output[i])) points.push_back({s.axis[i], output[i]});
    ChartOrder(points);
    return Emit(CsvText(points), a.get("-o"), out, err);
}

// Makes the library of the spectrum `state` shows in `folder`, as the window's
// Make Library does; its message goes to standard error, its result code is
// the exit status.
int MakeLibraryIn(std::string folder, const std::string& name, ProgramState& state, std::ostream& err) {
    if (folder.back() != '/') folder += '/';
    MakeLibraryResult result =
        MakeLibrary(name, state.measurement, state.device, state.library, folder, CurrentLocalDateTime());
    err << MakeLibraryMessage(result).text << "\n";
    return static_cast<int>(result);
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
        err << Shown(a.positional[0]) << ": " << kUnknownRawFormat << "\n";
        return kExitInputRefused;
    }
    auto state = OpenedRawState(file->raw);
    if (const char* refusal = MakeLibraryRefusal(state->measurement, state->device)) {
        err << refusal << "\n";
        return kExitInputRefused;
    }
    return MakeLibraryIn(a.get("--folder"), name, *state, err);
}

int CliToDevice(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Args a = ParseArgs(args, {"-o"});
    if (a.help) return Help(out, kToDeviceUsage);
    if (!a.error.empty()) return Usage(err, a.error, kToDeviceUsage);
    if (a.positional.size() != 1) return Usage(err, "Give exactly one PC library file.", kToDeviceUsage);
    if (a.get("-o").empty()) return Usage(err, "-o is needed.", kToDeviceUsage);
    if (!OutputAllowed(a.get("-o"), a.positional, err)) return kExitFailure;
    std::string bytes;
    if (!ReadInput(a.positional[0], bytes, err)) return kExitFailure;
    if (bytes.size() != kPcLibrarySize) {
        err << Shown(a.positional[0]) << ": " << kNotPcLibrary << "\n";
        return kExitFailure;
    }
    std::string record = ConvertPcLibraryToRecord(bytes);
    if (record.size() != kDeviceRecordSize) {
        err << Shown(a.positional[0]) << ": " << kNotPcLibrary << "\n";
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
        err << Shown(folder) << ": " << kNoFolder << "\n";
        return kExitFailure;
    }
    if (folder.back() != '/') folder += '/';
    // An unreadable folder would list as an empty one.
    std::vector<std::string> files;
    if (!ListMatching(folder, kLibraryPattern, files)) {
        err << Shown(folder) << ": " << kFolderUnreadable << "\n";
        return kExitFailure;
    }
    // Names are escaped, so a tab or a line break in a header can neither
    // add a column nor forge a row.
    for (const CatalogueRow& row : ListLibraryFolder(folder, kBrandVariant))
        out << Shown(row.name) << "\t" << Shown(row.model) << "\t" << Shown(row.date) << "\n";
    if (files.size() > kMaxCatalogueRows) {
        err << Shown(folder) << ": " << files.size() << " library files; only the first " << kMaxCatalogueRows
            << " are listed.\n";
        return kExitFailure;
    }
    return kExitOk;
}

int CliMeasure(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const std::atomic<bool>* stop) {
    Args a = ParseArgs(args, {"--sim-speed", "--axis-error", "--exposure", "--average", "--preheat", "-o", "--csv"},
                       {"--simulator"});
    if (a.help) return Help(out, kMeasureUsage);
    if (!a.error.empty()) return Usage(err, a.error, kMeasureUsage);
    if (!a.positional.empty()) return Usage(err, "Unexpected argument " + a.positional[0] + ".", kMeasureUsage);
    if (a.get("-o").empty()) return Usage(err, "-o is needed.", kMeasureUsage);
    if (!OutputAllowed(a.get("-o"), {}, err) || !OutputAllowed(a.get("--csv"), {a.get("-o")}, err)) return kExitFailure;
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

    double axisError = 0.0;
    if (a.has("--axis-error")) {
        if (!simulated) return Usage(err, "--axis-error needs --simulator.", kMeasureUsage);
        std::string text = a.get("--axis-error");
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), axisError);
        if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !(std::abs(axisError) <= 100.0))
            return Usage(err, "The axis error is a number of cm-1 from -100 to 100.", kMeasureUsage);
    }

    Instrument instrument;
    if (speed > 1)
        instrument.clock = std::make_unique<ScaledClock>(speed);
    else
        instrument.clock = std::make_unique<SteadyClock>();
    Clock& clock = *instrument.clock;
    if (simulated) {
        auto bridge = std::make_unique<SimulatedBridge>();
        auto virtualInstrument = std::make_shared<VirtualInstrument>(clock, *model, SimSample::Polystyrene,
                                                                     static_cast<std::uint64_t>(clock.tickCount()) + 1);
        virtualInstrument->setAxisError(axisError);
        bridge->attach(virtualInstrument);
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
    CheckResult check = CheckConnection(link, clock, *state);
    if (check.newlyIdentified) {
        RefreshSpectralAxis(state->measurement.spectrum, state->device);
        if (check.showCalibrationMissing) err << kCalibrationMissingMessage << "\n";
    }
    if (check.showDeviceRefused) err << kDeviceRefusedMessage << "\n";
    if (link.takeAccessDeniedNotice()) err << kBridgeAccessDeniedMessage << "\n";

    CaptureInputs inputs{a.get("--exposure", "3000"), a.get("--average", "1"), a.get("--preheat", "20000"), "100",
                         true};
    CaptureCheck capture = CheckCapture(inputs, state->measurement, state->device, false);
    if (capture.conversionError) {
        err << *capture.conversionError << "\n";
        return kExitFailure;
    }
    if (capture.code != CaptureCode::Start) {
        err << CaptureMessage(capture.code) << "\n";
        return kExitFailure;
    }

    state->device.pixelCount = state->device.deviceType == 1
                                   ? 256
                                   : static_cast<std::uint16_t>(state->device.pixelLast - state->device.pixelFirst + 1);
    state->measurement.measureState.store(1, std::memory_order_release);
    state->measurement.measureStatus.store(2, std::memory_order_relaxed);
    AcquisitionContext ctx{link, clock, state->measurement, state->device, stop};
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        RunMeasurement(ctx);
        returned.store(true, std::memory_order_release);
    });
    int shown = -1;
    while (!returned.load(std::memory_order_acquire)) {
        int percent = MeasureProgressPercent(state->measurement, clock.tickCount());
        if (percent != shown) {
            err << "progress: " << percent << "%\n" << std::flush;
            shown = percent;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    worker.join();
    state->measurement.measureState.store(0, std::memory_order_release);
    if (ctx.stopRequested()) {
        err << kMeasureStopped << "\n";
        return kExitStopped;
    }
    if (state->measurement.measureStatus.load(std::memory_order_relaxed) != 1) {
        err << kMeasureFailed << "\n";
        return kExitFailure;
    }
    if (shown != 100) err << "progress: 100%\n";

    if (const char* refusal = SaveRawRefusal(state->measurement, state->device)) {
        err << refusal << "\n";
        return kExitFailure;
    }
    std::string path = a.get("-o");
    std::string fileName = std::filesystem::path(path).filename().string();
    RawFileRecord saved = state->measurement.rawFile;
    std::string bytes =
        BuildRawSpectrumFile(state->measurement, state->device, fileName, CurrentLocalDateTime(), saved);
    if (!Save(path, bytes, err)) return kExitFailure;
    if (!a.has("--csv")) return kExitOk;
    // The CSV is the saved file exported, so the two can never disagree.
    auto file = std::make_unique<SpectrumFile>();
    if (DecodeRawSpectrumFile(bytes, file->raw) != RawFileCheck::Ok) {
        err << Shown(path) << ": " << kUnknownRawFormat << "\n";
        return kExitFailure;
    }
    file->header = file->raw.header;
    return Emit(CsvText(DrawnPoints(*file)), a.get("--csv"), out, err);
}

int CliConvert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Args a = ParseArgs(args, {"--jcamp-form", "--laser"});
    if (a.help) return Help(out, kConvertUsage);
    if (!a.error.empty()) return Usage(err, a.error, kConvertUsage);
    if (a.positional.size() != 2) return Usage(err, "Give the input and the output file.", kConvertUsage);
    const std::string& in = a.positional[0];
    const std::string& outPath = a.positional[1];
    InterchangeFormat target = FormatOfFileName(outPath);
    if (target == InterchangeFormat::Raw || target == InterchangeFormat::Unknown)
        return Usage(err, "Unknown output format of " + Shown(outPath) + "; use " + kForeignExtensions + ".",
                     kConvertUsage);
    std::string form = a.get("--jcamp-form", "affn");
    if (form != "affn" && form != "difdup") return Usage(err, "Unknown JCAMP-DX form " + form + ".", kConvertUsage);
    const double laser = LaserOption(a);
    if (laser < 0) return Usage(err, "The laser wavelength is a number of nm above 0.", kConvertUsage);
    if (!OutputAllowed(outPath, {in}, err)) return kExitFailure;
    auto file = std::make_unique<SpectrumFile>();
    if (!LoadAnySpectrum(in, laser, *file, err)) return kExitFailure;
    std::vector<Point> points = DrawnPoints(*file);
    std::string text = points.empty() ? std::string()
                                      : ExportText(target, form == "difdup" ? JcampForm::DifDup : JcampForm::Affn,
                                                   TitleOf(*file, in), points);
    if (text.empty()) {
        err << Shown(in) << ": no points to export.\n";
        return kExitFailure;
    }
    if (!WriteFileAtomically(outPath, text)) {
        err << Shown(outPath) << ": " << kSaveFailed << "\n";
        return kExitFailure;
    }
    return kExitOk;
}

int CliImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Args a = ParseArgs(args, {"--folder", "--laser"});
    if (a.help) return Help(out, kImportUsage);
    if (!a.error.empty()) return Usage(err, a.error, kImportUsage);
    if (a.positional.size() != 2) return Usage(err, "Give the spectrum file and the library name.", kImportUsage);
    if (!a.has("--folder") || a.get("--folder").empty()) return Usage(err, "--folder is needed.", kImportUsage);
    const double laser = LaserOption(a);
    if (laser < 0) return Usage(err, "The laser wavelength is a number of nm above 0.", kImportUsage);
    const std::string& name = a.positional[1];
    if (name.empty()) {
        err << kInvalidNameMessage << "\n";
        return kExitNameRefused;
    }
    auto file = std::make_unique<SpectrumFile>();
    if (!LoadAnySpectrum(a.positional[0], laser, *file, err)) return kExitInputRefused;
    std::vector<Point> points = DrawnPoints(*file);
    if (points.empty()) {
        err << Shown(a.positional[0]) << ": " << kNoDataToMakeLibrary << "\n";
        return kExitInputRefused;
    }
    // The entry is made as the window makes one of an opened spectrum.
    bool resampled = false;
    InterchangeSpectrum shown = FitForStore(AsSpectrum(TitleOf(*file, a.positional[0]), points), resampled);
    if (resampled)
        err << Shown(a.positional[0]) << ": " << points.size() << " points resampled to " << kMaxShownPoints << ".\n";
    auto state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);
    ApplyInterchangeSpectrum(shown, shown.title, state->measurement, state->device);
    return MakeLibraryIn(a.get("--folder"), name, *state, err);
}

// ---- identification -----------------------------------------------------------

namespace {

constexpr const char* kIdentifyUsage =
    "Usage: veltrane-cli identify FILE [--library DIR]... [--top N] [--min-hqi H] [--range LO:HI]\n"
    "                             [--index FILE]\n"
    "                             [--laser NM]\n"
    "Removes the fluorescence baseline of FILE (a raw spectrum, a PC library, a device\n"
    "record, or a CSV, JCAMP-DX or SPC spectrum; --laser gives the laser wavelength for\n"
    "one whose X is in nm or um) and ranks the libraries of each DIR (default: the PC library folder of the\n"
    "application) by hit quality index over Raman shifts LO to HI (default: from 100 up\n"
    "to where the shorter of the two spectra ends).\n"
    "Prints the best N hits (default 5), one per line: rank, HQI, name, file, separated by\n"
    "tabs, then the verdict on standard error. Files that take no part go to standard error\n"
    "with the reason. The prepared libraries are kept in an index in the cache folder\n"
    "(--index names another file, which must be a library index or not exist yet); when\n"
    "the index cannot be written, the search is made in memory and says so.\n"
    "Exit status 0 for a Match, 3 for a Possible match, 2 for No match; with --min-hqi,\n"
    "0 when the best hit reaches H and 2 when it does not. A spectrum without signal\n"
    "exits 1, a library with no entry to search 2.\n";
constexpr const char* kBaselineUsage =
    "Usage: veltrane-cli baseline FILE [--laser NM] [-o OUT]\n"
    "Resamples a raw spectrum, library, or CSV, JCAMP-DX or SPC spectrum onto whole wavenumbers and removes its "
    "fluorescence\n"
    "baseline (arPLS). Writes CSV: Raman shift, corrected intensity, baseline; standard\n"
    "output without -o.\n";
constexpr int kExitNoMatch = 2;
constexpr int kExitPossibleMatch = 3;

// The spectrum of FILE against Raman shift; messages as the other commands
// give them for a refused file.
bool LoadShiftSpectrum(const std::string& path, double laserNm, ShiftSpectrum& spectrum, std::ostream& err) {
    auto file = std::make_unique<SpectrumFile>();
    InterchangeFormat format = FormatOfFileName(path);
    if (format != InterchangeFormat::Raw && format != InterchangeFormat::Unknown) {
        // Another program's spectrum already comes against Raman shift.
        if (!LoadAnySpectrum(path, laserNm, *file, err)) return false;
        spectrum.shift.assign(file->foreign.x.begin(), file->foreign.x.end());
        spectrum.intensity.assign(file->foreign.y.begin(), file->foreign.y.end());
        return true;
    }
    if (!LoadSpectrumFile(path, *file, err)) return false;
    std::string bytes;
    if (!ReadInput(path, bytes, err)) return false;
    ShiftRead read = ReadShiftSpectrum(bytes, spectrum);
    if (read != ShiftRead::Ok) {
        err << Shown(path) << ": " << ShiftReadReason(read) << "\n";
        return false;
    }
    return true;
}

// Two decimals: HQIs and Raman shifts as the tool prints them.
std::string Fixed(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    return buffer;
}

bool ParseWhole(const std::string& text, std::size_t& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
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
    Args a = ParseArgs(rest, {"--top", "--min-hqi", "--range", "--index", "--library", "--laser"});
    if (a.help) return Help(out, kIdentifyUsage);
    if (!a.error.empty()) return Usage(err, a.error, kIdentifyUsage);
    if (a.positional.size() != 1) return Usage(err, "Give exactly one file.", kIdentifyUsage);
    std::size_t top = 5;
    if (a.has("--top") && (!ParseWhole(a.get("--top"), top) || top == 0))
        return Usage(err, "The number of hits is a whole number of at least 1.", kIdentifyUsage);
    double minHqi = 0.0;
    const bool byScoreAlone = a.has("--min-hqi");
    if (byScoreAlone) {
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
            err << Shown(folder) << ": " << kNoFolder << "\n";
            return kExitFailure;
        }
    }

    ShiftSpectrum spectrum;
    const double laser = LaserOption(a);
    if (laser < 0) return Usage(err, "The laser wavelength is a number of nm above 0.", kIdentifyUsage);
    if (!LoadShiftSpectrum(a.positional[0], laser, spectrum, err)) return kExitFailure;
    UnknownSpectrum unknown = PrepareUnknown(spectrum.shift, spectrum.intensity);
    if (unknown.grid.values.empty()) {
        err << kNoUsableSignal << "\n";
        return kExitFailure;
    }

    LibraryIndex index(a.get("--index", IdentifyIndexPath(paths)));
    auto library = std::make_unique<IndexedLibrary>();
    unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    IndexUpdate report;
    if (!index.refresh(libraries, *library, threads, nullptr, nullptr, &report)) {
        if (report.foreign)
            err << kNotLibraryIndex << Shown(index.path()) << "\n";
        else
            err << Shown(index.path()) << ": Can not write the library index!\n";
        return kExitFailure;
    }
    if (!report.notKept.empty()) err << Shown(index.path()) << ": " << IndexNotKeptText(report.notKept) << "\n";
    for (const IndexSkip& skip : library->skipped)
        err << Shown(skip.path) << ": " << skip.reason << "\n";
    if (library->prepared.size() == 0) {
        err << kNoLibraryEntries << "\n";
        return kExitNoMatch;
    }
    // The whole library is ranked: the verdict looks past the printed hits
    // for the best one of another name.
    Ranking ranking = RankLibrary(unknown, library->prepared, range);
    for (std::size_t entry : ranking.tooFewPoints)
        err << Shown(library->info[entry].path) << ": fewer than " << kMinCommonPoints
            << " points in common with the spectrum\n";
    for (std::size_t rank = 0; rank < std::min(top, ranking.hits.size()); ++rank) {
        const RankedHit& hit = ranking.hits[rank];
        const IndexedEntryInfo& info = library->info[hit.entry];
        out << rank + 1 << "\t" << Fixed(hit.hqi) << "\t" << Shown(info.name) << "\t" << Shown(info.path) << "\n";
    }
    if (byScoreAlone) return !ranking.hits.empty() && ranking.hits[0].hqi >= minHqi ? kExitOk : kExitNoMatch;
    IdentifyVerdict verdict =
        DecideVerdict(ranking.hits, [&](std::size_t entry) -> const std::string& { return library->info[entry].name; });
    auto nameAt = [&](std::optional<std::size_t> at) {
        return at ? Shown(library->info[ranking.hits[*at].entry].name) : std::string();
    };
    err << VerdictText(verdict, nameAt(verdict.best), nameAt(verdict.runnerUp),
                       verdict.runnerUp ? ranking.hits[*verdict.runnerUp].hqi : 0.0)
        << "\n";
    switch (verdict.verdict) {
    case Verdict::Match:
        return kExitOk;
    case Verdict::PossibleMatch:
        return kExitPossibleMatch;
    case Verdict::NoMatch:
        break;
    }
    return kExitNoMatch;
}

int CliBaseline(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Args a = ParseArgs(args, {"-o", "--laser"});
    if (a.help) return Help(out, kBaselineUsage);
    if (!a.error.empty()) return Usage(err, a.error, kBaselineUsage);
    if (a.positional.size() != 1) return Usage(err, "Give exactly one file.", kBaselineUsage);
    if (!OutputAllowed(a.get("-o"), a.positional, err)) return kExitFailure;
    ShiftSpectrum spectrum;
    const double laser = LaserOption(a);
    if (laser < 0) return Usage(err, "The laser wavelength is a number of nm above 0.", kBaselineUsage);
    if (!LoadShiftSpectrum(a.positional[0], laser, spectrum, err)) return kExitFailure;
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

// ---- the Raman-shift axis --------------------------------------------------------

namespace {

constexpr const char* kCheckAxisUsage =
    "Usage: veltrane-cli check-axis FILE [--standard NAME|FILE] [--tolerance CM] [--laser NM]\n"
    "Finds the bands of a reference standard (polystyrene, cyclohexane or acetaminophen, or\n"
    "a text file: its name, then one Raman shift a line, optionally with a weight) in the\n"
    "spectrum of FILE and prints one line per band: reference, found, deviation in cm-1\n"
    "(found and deviation \"-\" for a band skipped, with the reason on standard error); then\n"
    "offset (the mean deviation), rms, largest, and result: pass when the largest deviation\n"
    "is within the tolerance (default 1.5). Default standard: polystyrene.\n"
    "Exit status 0 on pass, 2 on fail, 1 when fewer than 4 bands are found.\n";

} // namespace

int CliCheckAxis(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Args a = ParseArgs(args, {"--standard", "--tolerance", "--laser"});
    if (a.help) return Help(out, kCheckAxisUsage);
    if (!a.error.empty()) return Usage(err, a.error, kCheckAxisUsage);
    if (a.positional.size() != 1) return Usage(err, "Give exactly one file.", kCheckAxisUsage);
    AxisCheckSettings settings;
    if (a.has("--tolerance")) {
        std::string text = a.get("--tolerance");
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), settings.tolerance);
        if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !(settings.tolerance > 0.0) ||
            settings.tolerance > 100.0)
            return Usage(err, "The tolerance is a number of cm-1 above 0.", kCheckAxisUsage);
    }
    const double laser = LaserOption(a);
    if (laser < 0) return Usage(err, "The laser wavelength is a number of nm above 0.", kCheckAxisUsage);
    // A built-in standard by name, else a file of one.
    std::optional<ReferenceStandard> standard = FindStandard(a.get("--standard", "Polystyrene"));
    if (!standard) {
        std::string path = a.get("--standard"), text, error;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec))
            return Usage(err, "No standard " + path + ": polystyrene, cyclohexane, acetaminophen or a file.",
                         kCheckAxisUsage);
        if (!ReadInput(path, text, err)) return kExitFailure;
        standard = ParseStandard(text, error);
        if (!standard) {
            err << Shown(path) << ": " << error << "\n";
            return kExitFailure;
        }
    }
    ShiftSpectrum spectrum;
    if (!LoadShiftSpectrum(a.positional[0], laser, spectrum, err)) return kExitFailure;
    AxisCheck check = CheckAxis(spectrum.shift, spectrum.intensity, *standard, settings);
    std::string text;
    for (const BandCheck& b : check.bands) {
        bool found = b.outcome == BandOutcome::Found;
        text += Fixed(b.reference) + "\t" + (found ? Fixed(b.found) : "-") + "\t" + (found ? Fixed(b.deviation) : "-") +
                "\n";
        if (!found) err << Fixed(b.reference) << ": " << BandOutcomeText(b.outcome) << "\n";
    }
    if (!check.enoughBands) {
        err << Shown(a.positional[0]) << ": too few bands of " << Shown(standard->name) << " found (" << check.found
            << " of at least " << kMinBandsForCheck << ")\n";
        Emit(text, "", out, err);
        return kExitFailure;
    }
    text += "offset: " + Fixed(check.offset) + "\nrms: " + Fixed(check.rms) + "\nlargest: " + Fixed(check.largest) +
            "\nresult: " + (check.pass ? "pass" : "fail") + "\n";
    int status = Emit(text, "", out, err);
    if (status != kExitOk) return status;
    if (check.spread > settings.tolerance)
        err << "The bands found scatter by " << Fixed(check.spread) << " cm-1 about their mean: is this "
            << Shown(standard->name) << "?\n";
    return check.pass ? kExitOk : kExitNoMatch;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::atomic<bool>* stop) {
    if (args.empty()) return Usage(err, "No command given.", kMainUsage);
    const std::string& command = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--help" || command == "-h" || command == "help") return Help(out, kMainUsage);
    if (command == "info") return CliInfo(rest, out, err);
    if (command == "export") return CliExport(rest, out, err);
    if (command == "convert") return CliConvert(rest, out, err);
    if (command == "import") return CliImport(rest, out, err);
    if (command == "smooth") return CliSmooth(rest, out, err);
    if (command == "make-library") return CliMakeLibrary(rest, out, err);
    if (command == "to-device") return CliToDevice(rest, out, err);
    if (command == "list") return CliList(rest, out, err);
    if (command == "measure") return CliMeasure(rest, out, err, stop);
    if (command == "identify") return CliIdentify(rest, out, err);
    if (command == "baseline") return CliBaseline(rest, out, err);
    if (command == "check-axis") return CliCheckAxis(rest, out, err);
    return Usage(err, "Unknown command " + command + ".", kMainUsage);
}

} // namespace veltrane
