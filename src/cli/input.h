#pragma once

// Reading the files the commands take: the program's own layouts by their
// size, other programs' spectra by their extension (by their content on
// standard input), and what the chart would draw of each.

#include <memory>
#include <string>
#include <vector>

#include "app/program_state.h"
#include "cli/cli.h"
#include "identify/shift_spectrum.h"
#include "interchange/interchange.h"
#include "interchange/jcamp.h"
#include "measure/raw_spectrum_file.h"
#include "measure/sample_info.h"

namespace veltrane {

// Every own layout is far below this; a larger file is refused unread.
constexpr std::size_t kMaxInputBytes = 1u << 20;

// A path or name as it may be printed: see EscapeControlCharacters.
std::string Shown(const std::string& text);

// The whole file, or standard input for "-", at most `maxBytes`; a refusal
// is told on standard error.
bool ReadInput(const std::string& path, std::string& bytes, const CliStreams& io,
               std::size_t maxBytes = kMaxInputBytes);

enum class FileKind : std::uint8_t { Raw, PcLibrary, DeviceLibrary, Foreign };

struct SpectrumFile {
    FileKind kind = FileKind::Raw;
    SpectrumHeader header;
    RawFileRecord raw;                  // for a raw file
    std::vector<float> intensity, axis; // for a library, all its points
    InterchangeSpectrum foreign;        // for another program's file
    InterchangeFormat format = InterchangeFormat::Unknown;
    std::string notice;
    // A raw file's sidecar, or what another program's file says of the
    // sample (its title, operator and notes).
    SampleInfo sample;
    // What a raw file's sidecar says of its capture.
    CaptureSettings capture;
};

struct Point {
    float x, y;
};

// How another program's spectrum is read: the laser wavelength for X in
// wavelengths (0: the one the file states, else the file is refused), and
// the columns of a table, "X,Y" by name or 1-based number (empty: chosen
// by their names).
struct ReadChoices {
    double laserNm = 0.0;
    std::string columns;
};
// "X,Y" as the reader takes it; empty for empty text.
ColumnChoice ColumnChoiceOf(const std::string& columns);

// One of the program's own layouts (a raw file or a library).
bool LoadSpectrumFile(const std::string& path, SpectrumFile& file, const CliStreams& io);
// A file of another program by its extension, else one of the program's
// own files by its size.
bool LoadAnySpectrum(const std::string& path, const ReadChoices& read, SpectrumFile& file, const CliStreams& io);
// Any readable spectrum against Raman shift, as identification reads it.
bool LoadShiftSpectrum(const std::string& path, const ReadChoices& read, ShiftSpectrum& spectrum,
                       const CliStreams& io);

// A raw file opened as the Open button does: the shown spectrum, with its
// Raman shifts as the axis.
std::unique_ptr<ProgramState> OpenedRawState(const RawFileRecord& record);

// The points the chart draws of the file, in its X order.
std::vector<Point> DrawnPoints(const SpectrumFile& file);
// The chart keeps its points in X order (stably, so equal X keep file order).
void ChartOrder(std::vector<Point>& points);

InterchangeSpectrum AsSpectrum(const std::string& title, const std::vector<Point>& points);
std::string CsvText(const std::vector<Point>& points);
// What an export of the file says besides its points: `title`, or the
// sample name when there is one; the rest of its sample information; and
// what the file knows of the measurement (laser, date, instrument...). A CSV
// gets the latter only with sample information, so that a plain export stays
// the two columns scripts read.
InterchangeSpectrum ExportFacts(const SpectrumFile& file, const std::string& title, InterchangeFormat format);
// The file text of the points in `format` with the facts of `facts`; empty
// when they cannot be written in it.
std::string ExportText(InterchangeFormat format, JcampForm form, const InterchangeSpectrum& facts,
                       const std::vector<Point>& points);
// The file's title, or for a file without one its name without folder and
// extension.
std::string TitleOf(const SpectrumFile& file, const std::string& path);

} // namespace veltrane
