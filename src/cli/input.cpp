#include "cli/input.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iterator>

#include "interchange/delimited_text.h"
#include "interchange/measurement_facts.h"
#include "interchange/spc_file.h"
#include "library/library_drawing.h"
#include "library/library_file.h"
#include "measure/sample_sidecar.h"
#include "platform/byte_order.h"
#include "platform/display_text.h"
#include "platform/file_io.h"

namespace veltrane {

namespace {

constexpr const char* kUnknownFileFormat = "Unknown file format!";
constexpr const char* kStandardInput = "-";

bool IsStandardInput(const std::string& path) {
    return path == kStandardInput;
}

// A message about a file on standard error; false, as most are refusals.
bool Tell(const std::string& path, const std::string& message, const CliStreams& io) {
    io.err << (IsStandardInput(path) ? "standard input" : Shown(path)) << ": " << message << "\n";
    return false;
}

// Standard input has no name to tell its format by: one of the program's
// own layouts has a size of its own, a JCAMP-DX file starts with a label,
// an SPC file with its two flag and version bytes; anything else is read as
// delimited text.
InterchangeFormat FormatOfContent(const std::string& bytes) {
    if (bytes.size() == kPcLibrarySize || bytes.size() == kDeviceRecordSize) return InterchangeFormat::Raw;
    if (bytes.size() >= kHeaderSize + 4) {
        std::int32_t n = GetI32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + kHeaderSize);
        if (RawFilePixelCount(n) != 0) return InterchangeFormat::Raw;
    }
    std::size_t text = bytes.find_first_not_of(" \t\r\n");
    if (text != std::string::npos && bytes.compare(text, 2, "##") == 0) return InterchangeFormat::Jcamp;
    if (bytes.size() >= 2 && (bytes[1] == 0x4B || bytes[1] == 0x4C || bytes[1] == 0x4D)) return InterchangeFormat::Spc;
    return InterchangeFormat::Csv;
}

// The layout is told by the size alone: the two library layouts have fixed
// sizes, and a raw file is 140 + 8N bytes for the N it carries.
bool DecodeOwnLayout(const std::string& path, const std::string& bytes, SpectrumFile& file, const CliStreams& io) {
    if (bytes.size() == kPcLibrarySize || bytes.size() == kDeviceRecordSize) {
        LibraryView view = bytes.size() == kPcLibrarySize ? LibraryView::Pc : LibraryView::Device;
        file.kind = view == LibraryView::Pc ? FileKind::PcLibrary : FileKind::DeviceLibrary;
        file.intensity.assign(LibraryPoints(view), 0.0f);
        file.axis.assign(LibraryPoints(view), 0.0f);
        if (DecodeLibraryCurve(bytes, view, file.header, file.intensity.data(), file.axis.data()) != CurveRead::Ok)
            return Tell(path, kUnknownFileFormat, io);
        return true;
    }
    if (bytes.size() < kHeaderSize + 4) return Tell(path, kUnknownFileFormat, io);
    std::int32_t n = GetI32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + kHeaderSize);
    if (RawFilePixelCount(n) == 0) return Tell(path, kUnknownFileFormat, io);
    if (bytes.size() < RawFileSize(n)) return Tell(path, kIncompleteRawFile, io);
    if (bytes.size() > RawFileSize(n)) return Tell(path, kUnknownRawFormat, io);
    switch (DecodeRawSpectrumFile(bytes, file.raw)) {
    case RawFileCheck::Ok:
        break;
    case RawFileCheck::UnknownFormat:
        return Tell(path, kUnknownRawFormat, io);
    case RawFileCheck::Incomplete:
        return Tell(path, kIncompleteRawFile, io);
    case RawFileCheck::WindowOutside:
        return Tell(path, kRawWindowOutside, io);
    }
    file.kind = FileKind::Raw;
    file.header = file.raw.header;
    // Standard input has no name and so no sidecar; a damaged one is told
    // and left out, the spectrum read all the same.
    RawFileSidecar beside;
    if (!IsStandardInput(path) && ReadSampleSidecar(path, beside) == SidecarRead::Damaged)
        Tell(path, kSidecarDamaged, io);
    file.sample = beside.sample;
    file.capture = beside.capture;
    return true;
}

// The bytes of any spectrum and the format they are read in.
// Beyond the limit of other programs' files a file is too large for any
// reader; beyond that of the program's own it is none of them.
const char* TooLargeMessage(std::size_t maxBytes) {
    return maxBytes >= kMaxInterchangeFileBytes ? kFileTooLargeMessage : kUnknownFileFormat;
}

bool ReadAnySpectrumBytes(const std::string& path, std::string& bytes, InterchangeFormat& format,
                          const CliStreams& io) {
    if (IsStandardInput(path)) {
        if (!ReadInput(path, bytes, io, kMaxInterchangeFileBytes)) return false;
        format = FormatOfContent(bytes);
        return true;
    }
    format = FormatOfFileName(path);
    bool own = format == InterchangeFormat::Raw || format == InterchangeFormat::Unknown;
    return ReadInput(path, bytes, io, own ? kMaxInputBytes : kMaxInterchangeFileBytes);
}

bool DecodeAnySpectrum(const std::string& path, const std::string& bytes, InterchangeFormat format,
                       const ReadChoices& read, SpectrumFile& file, const CliStreams& io) {
    if (format == InterchangeFormat::Raw || format == InterchangeFormat::Unknown)
        return DecodeOwnLayout(path, bytes, file, io);
    ReadOutcome outcome =
        ReadInterchangeSpectrum(bytes, format, read.laserNm, file.foreign, ColumnChoiceOf(read.columns));
    if (!outcome.ok) return Tell(path, outcome.message + (outcome.needsLaser ? " Give it with --laser NM." : ""), io);
    file.kind = FileKind::Foreign;
    file.format = format;
    file.sample = SampleInfoOf(file.foreign);
    file.notice = outcome.notice;
    if (!outcome.notice.empty()) Tell(path, Shown(outcome.notice), io);
    return true;
}

} // namespace

std::string Shown(const std::string& text) {
    return EscapeControlCharacters(text);
}

bool ReadInput(const std::string& path, std::string& bytes, const CliStreams& io, std::size_t maxBytes) {
    if (IsStandardInput(path)) {
        bytes.clear();
        char buffer[65536];
        while (io.in.read(buffer, sizeof buffer) || io.in.gcount() > 0) {
            bytes.append(buffer, static_cast<std::size_t>(io.in.gcount()));
            if (bytes.size() > maxBytes) return Tell(path, TooLargeMessage(maxBytes), io);
        }
        if (io.in.bad()) return Tell(path, kOpenFailed, io);
        return true;
    }
    LoadResult loaded = ReadWholeFile(path, bytes, maxBytes);
    if (loaded == LoadResult::Loaded) return true;
    const char* message = loaded == LoadResult::TooLarge     ? TooLargeMessage(maxBytes)
                          : loaded == LoadResult::NotRegular ? kNotRegularFileMessage
                                                             : kOpenFailed;
    return Tell(path, message, io);
}

bool LoadSpectrumFile(const std::string& path, SpectrumFile& file, const CliStreams& io) {
    std::string bytes;
    return ReadInput(path, bytes, io) && DecodeOwnLayout(path, bytes, file, io);
}

ColumnChoice ColumnChoiceOf(const std::string& columns) {
    ColumnChoice choice;
    const std::size_t comma = columns.find(',');
    choice.x = columns.substr(0, comma);
    if (comma != std::string::npos) choice.y = columns.substr(comma + 1);
    return choice;
}

bool LoadAnySpectrum(const std::string& path, const ReadChoices& read, SpectrumFile& file, const CliStreams& io) {
    std::string bytes;
    InterchangeFormat format = InterchangeFormat::Unknown;
    return ReadAnySpectrumBytes(path, bytes, format, io) && DecodeAnySpectrum(path, bytes, format, read, file, io);
}

bool LoadShiftSpectrum(const std::string& path, const ReadChoices& read, ShiftSpectrum& spectrum,
                       const CliStreams& io) {
    std::string bytes;
    InterchangeFormat format = InterchangeFormat::Unknown;
    auto file = std::make_unique<SpectrumFile>();
    if (!ReadAnySpectrumBytes(path, bytes, format, io) || !DecodeAnySpectrum(path, bytes, format, read, *file, io))
        return false;
    if (file->kind == FileKind::Foreign) {
        // Another program's spectrum already comes against Raman shift.
        spectrum.shift.assign(file->foreign.x.begin(), file->foreign.x.end());
        spectrum.intensity.assign(file->foreign.y.begin(), file->foreign.y.end());
        return true;
    }
    ShiftRead shiftRead = ReadShiftSpectrum(bytes, spectrum);
    if (shiftRead != ShiftRead::Ok) return Tell(path, ShiftReadReason(shiftRead), io);
    return true;
}

void ChartOrder(std::vector<Point>& points) {
    std::stable_sort(points.begin(), points.end(), [](const Point& a, const Point& b) { return a.x < b.x; });
}

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

InterchangeSpectrum ExportFacts(const SpectrumFile& file, const std::string& title, InterchangeFormat format) {
    InterchangeSpectrum facts;
    facts.title = title;
    // Another program's title is no sample name of ours: it stays the title.
    SampleInfo sample = file.sample;
    if (file.kind == FileKind::Foreign) sample.sampleName.clear();
    if (format == InterchangeFormat::Csv && sample.empty()) return facts;
    if (file.kind == FileKind::Raw) {
        auto state = OpenedRawState(file.raw);
        state->measurement.sample = sample;
        state->measurement.shownCapture = file.capture;
        DescribeShownSpectrum(facts, state->measurement, state->device);
    } else if (file.kind == FileKind::Foreign) {
        const InterchangeSpectrum& f = file.foreign;
        facts.laserNm = f.laserNm;
        facts.integrationMs = f.integrationMs;
        facts.averages = f.averages;
        facts.date = f.date;
        facts.instrument = f.instrument;
        facts.serial = f.serial;
        AddSampleInfo(facts, sample);
    }
    return facts;
}

std::string ExportText(InterchangeFormat format, JcampForm form, const InterchangeSpectrum& facts,
                       const std::vector<Point>& points) {
    InterchangeSpectrum spectrum = facts;
    for (const Point& p : points) {
        spectrum.x.push_back(p.x);
        spectrum.y.push_back(p.y);
    }
    switch (format) {
    case InterchangeFormat::Csv:
        return WriteCsvSpectrum(spectrum);
    case InterchangeFormat::Jcamp:
        // The title is the one free text in the file: escaped, a name can
        // neither start a new label nor reach a terminal's control codes.
        spectrum.title = Shown(spectrum.title);
        return WriteJcampSpectrum(spectrum, form);
    case InterchangeFormat::Spc:
        return spectrum.x.empty() ? std::string() : WriteSpcSpectrum(spectrum);
    case InterchangeFormat::Raw:
    case InterchangeFormat::Unknown:
        break;
    }
    return {};
}

std::string TitleOf(const SpectrumFile& file, const std::string& path) {
    std::string title = file.kind == FileKind::Foreign ? file.foreign.title : file.header.name();
    if (!title.empty() || IsStandardInput(path)) return title;
    return std::filesystem::path(path).stem().string();
}

} // namespace veltrane
