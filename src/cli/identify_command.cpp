#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <thread>

#include "cli/commands.h"
#include "cli/input.h"
#include "cli/library_search.h"
#include "cli/output.h"
#include "identify/library_index.h"
#include "identify/mixture.h"
#include "identify/verdict.h"
#include "platform/paths.h"

namespace veltrane {

namespace {


struct IdentifyValues {
    std::string input, range, index;
    std::vector<std::string> libraries;
    std::size_t top = 5;
    const CLI::Option* minHqiOption = nullptr;
    double minHqi = 0.0;
    ReadChoices read;
    double axisOffset = 0.0;
    bool mixture = false;
    std::size_t components = 3;
    bool json = false;
};

// A fitted mixture counts as the answer from this HQI up. It stays at the
// score a single Match needed before the verdict also weighed band offsets:
// a sum of entries has no offset of its own, and the mixtures were never
// measured against the lower score single hits now need.
constexpr double kMixtureMatchHqi = 75.0;

// The mixture result: "MIX" lines on standard output, its text on standard
// error, the exit status by whether the fit reaches a Match's score.
int ReportMixture(const IdentifyValues& v, const UnknownSpectrum& unknown, const IndexedLibrary& library,
                  const Ranking& ranking, SearchRange range, Json& result, const CliStreams& io) {
    MixtureSettings settings;
    settings.maxComponents = v.components;
    settings.sameMaterial = [&library](std::size_t a, std::size_t b) {
        return SameMaterial(library.info[a].name, library.info[b].name);
    };
    std::optional<MixtureResult> mixture = FindMixture(unknown, library.prepared, ranking, range, settings);
    if (!mixture) {
        io.err << "No mixture result: the spectrum is too coarse or nothing was found.\n";
        return kExitNoMatch;
    }
    Json parts = Json::array();
    for (const MixtureComponent& c : mixture->components) {
        const IndexedEntryInfo& info = library.info[c.entry];
        parts.push_back({{"name", info.name}, {"file", info.path}, {"share", c.share}});
        if (!v.json)
            io.out << "MIX\t" << TwoDecimals(mixture->fitHqi) << "\t" << Shown(info.name) << "\t"
                   << TwoDecimals(100.0 * c.share) << "\n";
    }
    io.err << Shown(MixtureText(*mixture, [&](std::size_t entry) { return library.info[entry].name; })) << "\n";
    result["mixture"] = {{"fit_hqi", JsonFloat(static_cast<float>(mixture->fitHqi))},
                         {"single_hqi", JsonFloat(static_cast<float>(mixture->singleHqi))},
                         {"components", parts}};
    return mixture->fitHqi >= kMixtureMatchHqi ? kExitOk : kExitNoMatch;
}

// A file that takes no part, with its reason: on standard error always, and
// in the JSON document.
void Skip(Json& skipped, const std::string& path, const std::string& reason, const CliStreams& io) {
    io.err << Shown(path) << ": " << reason << "\n";
    skipped.push_back({{"file", path}, {"reason", reason}});
}

int RunIdentify(const IdentifyValues& v, const CliStreams& io) {
    LibrarySearchRequest request{v.input, v.read, v.libraries, v.index, v.axisOffset, {}};
    if (!v.range.empty()) request.range = *ParseSearchRange(v.range);
    Json result{{"hits", Json::array()}, {"skipped", Json::array()}, {"verdict", nullptr}};
    LibrarySearch search;
    const SearchOutcome outcome = SearchLibraries(
        request, search, [&](const std::string& path, const std::string& reason) { Skip(result["skipped"], path, reason, io); },
        io);
    if (outcome == SearchOutcome::Failed) return kExitFailure;
    if (outcome == SearchOutcome::NoEntries) {
        if (v.json) io.out << JsonText(result);
        return kExitNoMatch;
    }
    const IndexedLibrary* library = search.library.get();
    const Ranking& ranking = search.ranking;
    const UnknownSpectrum& unknown = search.unknown;
    const SearchRange range = request.range;
    for (std::size_t rank = 0; rank < std::min(v.top, ranking.hits.size()); ++rank) {
        const RankedHit& hit = ranking.hits[rank];
        const IndexedEntryInfo& info = library->info[hit.entry];
        // No band agreeing, or a coarse sensor's spectrum: no offset to give.
        Json offset = std::isfinite(hit.bandOffset) ? Json(JsonFloat(static_cast<float>(hit.bandOffset))) : Json();
        result["hits"].push_back({{"rank", rank + 1},
                                  {"hqi", JsonFloat(static_cast<float>(hit.hqi))},
                                  {"band_offset", offset},
                                  {"shared_bands", hit.sharedBands},
                                  {"name", info.name},
                                  {"file", info.path}});
        if (!v.json)
            io.out << rank + 1 << "\t" << TwoDecimals(hit.hqi) << "\t" << Shown(info.name) << "\t" << Shown(info.path)
                   << "\n";
    }
    int status = kExitNoMatch;
    if (v.minHqiOption->count() > 0) {
        // By the score alone: no verdict.
        status = !ranking.hits.empty() && ranking.hits[0].hqi >= v.minHqi ? kExitOk : kExitNoMatch;
    } else {
        IdentifyVerdict verdict = DecideVerdict(
            ranking.hits, [&](std::size_t entry) -> const std::string& { return library->info[entry].name; });
        auto nameAt = [&](std::optional<std::size_t> at) {
            return at ? library->info[ranking.hits[*at].entry].name : std::string();
        };
        double runnerUpHqi = verdict.runnerUp ? ranking.hits[*verdict.runnerUp].hqi : 0.0;
        io.err << VerdictText(verdict, Shown(nameAt(verdict.best)), Shown(nameAt(verdict.runnerUp)), runnerUpHqi)
               << "\n";
        result["verdict"] = {
            {"verdict", VerdictWord(verdict.verdict)},
            {"text", VerdictText(verdict, nameAt(verdict.best), nameAt(verdict.runnerUp), runnerUpHqi)}};
        status = VerdictStatus(verdict.verdict);
    }
    if (v.mixture) status = ReportMixture(v, unknown, *library, ranking, range, result, io);
    if (v.json) io.out << JsonText(result);
    return status;
}

} // namespace

Command DefineIdentify(CLI::App& tool) {
    auto v = std::make_shared<IdentifyValues>();
    CLI::App* app = AddCommand(tool, "identify", "the library entries that match a spectrum best", R"(
Removes the fluorescence baseline of FILE (a raw spectrum, a PC library, a device
record, or a CSV, JCAMP-DX or SPC spectrum) and ranks the libraries of each DIR
(default: the PC library folder of the application) by hit quality index over Raman
shifts LO to HI (default: from 100 up to where the shorter of the two spectra ends).
Prints the best N hits, one per line: rank, HQI, name, file, separated by tabs, then
the verdict on standard error. Files that take no part go to standard error with
the reason. The prepared libraries are kept in an index in the cache folder; when
the index cannot be written, the search is made in memory and says so.
Exit status 0 for a Match, 3 for a Possible match, 2 for No match; with --min-hqi,
0 when the best hit reaches H and 2 when it does not. A spectrum without signal
exits 1, a library with no entry to search 2.
With --mixture the sample is also explained as a mixture of up to N library
entries (3): lines "MIX", fit HQI, name, share of the fitted signal in percent,
largest share first, follow the hits, and the exit status is 0 when the fit's HQI
reaches a Match's score, 2 when it does not. A share is not a concentration.
--axis-offset adds a known correction of the instrument's axis to every shift.)");
    AddSpectrumInput(*app, v->input, v->read);
    app->add_option("--library", v->libraries, "a library folder; may be given several times")
        ->type_name("DIR")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app->add_option("--top", v->top, "how many hits are printed (5)")
        ->type_name("N")
        ->check(WholeIn(1, INT32_MAX, "The number of hits is a whole number of at least 1."));
    v->minHqiOption = app->add_option("--min-hqi", v->minHqi, "decide by the best HQI alone: does it reach H?")
                          ->type_name("H")
                          ->check(NumberIn(0.0, false, 100.0, false, "The HQI threshold is a number from 0 to 100."));
    app->add_option("--range", v->range, "the Raman shifts compared, in cm-1")
        ->type_name("LO:HI")
        ->check(CLI::Validator(
            [](std::string& text) {
                return ParseSearchRange(text) ? std::string() : "The range is LO:HI in cm-1 with LO below HI.";
            },
            ""));
    app->add_option("--index", v->index, "the index file, which must be a library index or not exist yet")
        ->type_name("FILE");
    app->add_flag("--mixture", v->mixture, "also explain the sample as a mixture of library entries");
    app->add_option("--components", v->components, "the most components a mixture has (3)")
        ->type_name("N")
        ->check(WholeIn(1, 3, "The number of components is a whole number from 1 to 3."));
    AddAxisOffsetOption(*app, v->axisOffset);
    AddJsonFlag(*app, v->json);
    return DefineCommand(app, v, RunIdentify);
}

} // namespace veltrane
