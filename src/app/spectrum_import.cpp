#include "app/spectrum_import.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>

#include "device/axis_correction.h"
#include "device/device_info.h"
#include "interchange/interchange.h"
#include "interchange/shown_spectrum.h"
#include "library/library_file.h"
#include "library/make_library.h"
#include "measure/measurement_session.h"
#include "measure/raw_spectrum_file.h"
#include "platform/file_io.h"

namespace veltrane {

namespace fs = std::filesystem;

std::vector<std::string> SpectrumFilesIn(const std::string& dir, bool recursive, std::string& error) {
    std::vector<std::string> files;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        error = "Not a folder.";
        return files;
    }
    auto take = [&](const fs::directory_entry& entry) {
        const std::string name = entry.path().filename().string();
        std::error_code typeError;
        if (!name.empty() && name.front() != '.' && entry.is_regular_file(typeError)) files.push_back(entry.path().string());
    };
    const auto options = fs::directory_options::skip_permission_denied;
    if (recursive) {
        fs::recursive_directory_iterator it(dir, options, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            // Hidden folders (a version-control store) are not spectra.
            const std::string name = it->path().filename().string();
            if (!name.empty() && name.front() == '.' && it->is_directory(ec)) {
                it.disable_recursion_pending();
                continue;
            }
            take(*it);
        }
    } else {
        fs::directory_iterator it(dir, options, ec), end;
        for (; !ec && it != end; it.increment(ec))
            take(*it);
    }
    if (ec) {
        error = "The folder cannot be read.";
        files.clear();
        return files;
    }
    std::sort(files.begin(), files.end());
    return files;
}

SpectrumImporter::SpectrumImporter(std::string libraryFolder, ImportOptions options, LocalDateTime now)
    : folder_(std::move(libraryFolder)), options_(std::move(options)), now_(now) {
    if (folder_.empty() || folder_.back() != '/') folder_ += '/';
    taken_ = LowerCaseFileNames(folder_);
}

SpectrumImporter::~SpectrumImporter() = default;

namespace {

// A name as a library entry may carry it: no control characters or '/', at
// most `room` bytes, cut between characters, not between the bytes of one.
std::string Usable(std::string name, std::size_t room) {
    for (char& c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '/') c = '_';
    }
    const auto first = name.find_first_not_of(' ');
    name.erase(0, first == std::string::npos ? name.size() : first);
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    if (name.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.resize(cut);
        while (!name.empty() && name.back() == ' ')
            name.pop_back();
    }
    if (name == "." || name == "..") name = "_";
    return name;
}

const char* ReadFailure(LoadResult result) {
    switch (result) {
    case LoadResult::TooLarge:
        return kFileTooLargeMessage;
    case LoadResult::NotRegular:
        return kNotRegularFileMessage;
    default:
        return "The file cannot be read.";
    }
}

} // namespace

std::string SpectrumImporter::uniqueName(std::string wanted) {
    // Room for " (99999)" so that a long name still gets its number.
    constexpr std::size_t kSuffixRoom = 8;
    std::string base = Usable(std::move(wanted), kNameFieldSize);
    if (base.empty()) base = "Spectrum";
    auto free = [&](const std::string& name) { return taken_.count(LowerCase(name + kLibraryExtension)) == 0; };
    if (free(base)) return base;
    base = Usable(base, kNameFieldSize - kSuffixRoom);
    for (int n = 2;; ++n) {
        std::string candidate = base + " (" + std::to_string(n) + ")";
        if (free(candidate)) return candidate;
    }
}

ImportResult SpectrumImporter::importFile(const std::string& path) {
    ImportResult result;
    result.file = path;
    std::string bytes;
    LoadResult loaded = ReadWholeFile(path, bytes, kMaxInterchangeFileBytes);
    if (loaded != LoadResult::Loaded) {
        result.reason = ReadFailure(loaded);
        return result;
    }
    auto session = std::make_unique<MeasurementSession>();
    DeviceInfo device;
    std::string ownName;
    const InterchangeFormat format = FormatOfFileName(path);
    const AxisCorrection correction{AxisCorrectionKind::Offset, options_.axisOffset};
    if (format == InterchangeFormat::Raw) {
        RawFileRecord record;
        if (bytes.size() < kHeaderSize + 4 || DecodeRawSpectrumFile(bytes, record) != RawFileCheck::Ok) {
            result.reason = kUnknownRawFormat;
            return result;
        }
        session->rawFile = record;
        ApplyRawSpectrum(session->rawFile, *session, device);
        for (std::size_t i = 0; i < device.pixelCount && i < session->spectrum.axis.size(); ++i)
            session->spectrum.axis[i] = static_cast<float>(CorrectedShift(correction, session->spectrum.axis[i]));
        ownName = record.header.name();
    } else {
        InterchangeSpectrum read;
        ReadOutcome outcome = ReadInterchangeSpectrum(bytes, format, options_.laserNm, read, options_.columns);
        if (!outcome.ok) {
            result.reason = outcome.message;
            return result;
        }
        if (!options_.force && !RamanIntensityUnits(read.yUnits)) {
            result.reason = "Intensities in " + read.yUnits + " are not a Raman spectrum.";
            return result;
        }
        result.notice = outcome.notice;
        for (float& x : read.x)
            x = static_cast<float>(CorrectedShift(correction, x));
        ApplyInterchangeSpectrum(read, read.title, *session, device);
        if (std::string resampled = ResampledForLibraryNotice(*session); !resampled.empty()) {
            if (!result.notice.empty()) result.notice += " ";
            result.notice += resampled;
        }
        ownName = read.title;
    }
    std::string wanted = options_.nameFromHeader ? ownName : std::string();
    if (Usable(wanted, kNameFieldSize).empty()) wanted = fs::path(path).stem().string();
    result.name = uniqueName(wanted);
    MakeLibraryResult made = MakeLibraryInBatch(result.name, *session, device, folder_, now_, taken_);
    if (made != MakeLibraryResult::Made) {
        result.reason = MakeLibraryMessage(made).text;
        return result;
    }
    result.imported = true;
    return result;
}

ImportSummary SummariseImport(const std::vector<ImportResult>& results, std::size_t total, bool flushed) {
    ImportSummary summary;
    std::size_t imported = 0;
    for (const ImportResult& r : results) {
        const std::string& file = r.file;
        if (r.imported)
            ++imported;
        else
            summary.details += "skipped " + file + ": " + r.reason + "\n";
        if (!r.notice.empty()) summary.details += file + ": " + r.notice + "\n";
    }
    const std::size_t skipped = results.size() - imported;
    auto files = [](std::size_t n) { return std::to_string(n) + (n == 1 ? " file" : " files"); };
    if (results.size() < total)
        summary.headline = "Import cancelled after " + files(results.size()) + " of " + std::to_string(total) + ": " +
                           std::to_string(imported) + " imported, " + std::to_string(skipped) + " skipped.";
    else
        summary.headline = "Imported " + std::to_string(imported) + " of " + files(total) + "; " +
                           std::to_string(skipped) + " skipped.";
    if (!flushed && imported > 0) summary.headline += "\nThe new entries could not be flushed to disk.";
    return summary;
}

bool SpectrumImporter::finish() {
    return SyncFolder(folder_);
}

} // namespace veltrane
