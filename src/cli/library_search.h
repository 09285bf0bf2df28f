#pragma once

// The search identify and report share: the spectrum read and prepared, the
// index of the library folders brought up to date, the whole library ranked.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/input.h"
#include "identify/hqi.h"
#include "identify/library_index.h"
#include "identify/verdict.h"

namespace veltrane {

// The exit statuses of a search's verdict: 0 for a Match.
constexpr int kExitNoMatch = 2;
constexpr int kExitPossibleMatch = 3;
inline int VerdictStatus(Verdict verdict) {
    return verdict == Verdict::Match ? kExitOk : verdict == Verdict::PossibleMatch ? kExitPossibleMatch : kExitNoMatch;
}

struct LibrarySearchRequest {
    std::string input;
    ReadChoices read;
    std::vector<std::string> folders; // empty: the PC library folder
    std::string index;                // empty: the index in the cache folder
    double axisOffset = 0.0;
    SearchRange range;
};

struct LibrarySearch {
    std::vector<std::string> folders; // as searched
    ShiftSpectrum spectrum;
    UnknownSpectrum unknown;
    std::unique_ptr<IndexedLibrary> library;
    Ranking ranking;
};

enum class SearchOutcome : std::uint8_t {
    Ranked,    // `ranking` holds every entry's score
    NoEntries, // told: no entry to search
    Failed,    // told: the exit status is kExitFailure
};

// Every file that takes no part goes to `skipped` with its reason.
SearchOutcome SearchLibraries(const LibrarySearchRequest& request, LibrarySearch& out,
                              const std::function<void(const std::string& path, const std::string& reason)>& skipped,
                              const CliStreams& io);

} // namespace veltrane
