#include "cli/library_search.h"

#include <algorithm>
#include <filesystem>
#include <thread>

#include "device/axis_correction.h"
#include "identify/verdict.h"
#include "platform/paths.h"

namespace veltrane {

namespace {
constexpr const char* kNoFolder = "Can not open folder!";
}

SearchOutcome SearchLibraries(const LibrarySearchRequest& request, LibrarySearch& out,
                              const std::function<void(const std::string&, const std::string&)>& skipped,
                              const CliStreams& io) {
    // The application's folders: they lie beside both programs, or under XDG
    // for an installed copy.
    std::filesystem::path exe = ExecutablePath();
    AppPaths paths = ResolveAppPaths((exe.parent_path() / "veltrane").string());
    out.folders = request.folders;
    if (out.folders.empty()) out.folders.push_back(paths.pcLibraryFolder());
    for (const std::string& folder : out.folders) {
        std::error_code ec;
        if (!std::filesystem::is_directory(folder, ec)) {
            io.err << Shown(folder) << ": " << kNoFolder << "\n";
            return SearchOutcome::Failed;
        }
    }

    if (!LoadShiftSpectrum(request.input, request.read, out.spectrum, io)) return SearchOutcome::Failed;
    // A known error of the instrument's axis, found by checking it against
    // a reference material: corrected as the window corrects its axis.
    const AxisCorrection correction{AxisCorrectionKind::Offset, request.axisOffset};
    for (double& shift : out.spectrum.shift)
        shift = CorrectedShift(correction, shift);
    out.unknown = PrepareUnknown(out.spectrum.shift, out.spectrum.intensity);
    if (out.unknown.grid.values.empty()) {
        io.err << kNoUsableSignal << "\n";
        return SearchOutcome::Failed;
    }

    LibraryIndex index(request.index.empty() ? IdentifyIndexPath(paths) : request.index);
    out.library = std::make_unique<IndexedLibrary>();
    unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    IndexUpdate report;
    if (!index.refresh(out.folders, *out.library, threads, nullptr, nullptr, &report)) {
        if (report.foreign)
            io.err << kNotLibraryIndex << Shown(index.path()) << "\n";
        else
            io.err << Shown(index.path()) << ": Can not write the library index!\n";
        return SearchOutcome::Failed;
    }
    if (!report.notKept.empty()) io.err << Shown(index.path()) << ": " << IndexNotKeptText(report.notKept) << "\n";
    for (const IndexSkip& skip : out.library->skipped)
        skipped(skip.path, skip.reason);
    if (out.library->prepared.size() == 0) {
        io.err << kNoLibraryEntries << "\n";
        return SearchOutcome::NoEntries;
    }
    // The whole library is ranked: the verdict looks past the printed hits
    // for the best one of another name.
    out.ranking = RankLibrary(out.unknown, out.library->prepared, request.range);
    for (std::size_t entry : out.ranking.tooFewPoints)
        skipped(out.library->info[entry].path,
                "fewer than " + std::to_string(kMinCommonPoints) + " points in common with the spectrum");
    return SearchOutcome::Ranked;
}

} // namespace veltrane
