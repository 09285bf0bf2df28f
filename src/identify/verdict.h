#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "identify/hqi.h"

namespace veltrane {

enum class Verdict : std::uint8_t { Match, PossibleMatch, NoMatch };

// Said instead of a verdict when there is nothing to compare: a spectrum
// that is flat once its baseline is gone, or no library entry at all.
constexpr const char* kNoUsableSignal = "No usable signal in the spectrum.";
constexpr const char* kNoLibraryEntries = "No library entries to search.";

// A verdict weighs the best score and its lead over the best hit of another
// material: two entries of one material agreeing tells nothing, but a
// runner-up of another name close behind means the spectrum does not tell
// the two apart. The values are chosen on real spectra of minerals and
// polymers (see the README), so that a Match is rarely wrong and a material
// missing from the library is rarely called anything but No match.
struct VerdictThresholds {
    double matchHqi;    // a Match scores at least this...
    double matchMargin; // ...leads another name by at least this many HQI...
    double possibleHqi; // (below this it is No match whatever the lead)
    // ...and the bands it shares with the spectrum lie on average at most
    // this many cm-1 apart (RankedHit::bandOffset). A hit whose offset was
    // not measured (a coarse sensor's spectrum) is not held to it.
    double matchBandOffset;
    // A Match also when it leads by matchMargin, at least this many bands
    // pair up one to one (RankedHit::sharedBands)...
    std::size_t manyBands = std::numeric_limits<std::size_t>::max();
    double manyBandsHqi = 0.0;    // ...the best hit scores at least this...
    double manyBandsOffset = 0.0; // ...and its band offset is at most this.
};
extern const VerdictThresholds kVerdictThresholds;

struct IdentifyVerdict {
    Verdict verdict = Verdict::NoMatch;
    std::optional<std::size_t> best;     // position in the hits
    std::optional<std::size_t> runnerUp; // the first hit of another name
    double hqi = 0.0;
    double margin = 0.0; // best HQI less the runner-up's; the best HQI when there is none
};

// Names are one material when they agree apart from letter case and the
// spaces around them ("Calcite" and "calcite ").
bool SameMaterial(const std::string& a, const std::string& b);

// `hits` best first, as RankLibrary gives them; the runner-up is the first
// of another name among them.
IdentifyVerdict DecideVerdict(const std::vector<RankedHit>& hits,
                              const std::function<const std::string&(std::size_t entry)>& nameOf,
                              const VerdictThresholds& thresholds = kVerdictThresholds);

// "Match", "Possible match", "No match".
const char* VerdictWord(Verdict verdict);

// "Match: Calcite, HQI 96.2, next Aragonite 81.0", "No match (closest
// Calcite, HQI 40.2)", or "No match" alone when nothing was ranked. Names are given as they are to be shown.
std::string VerdictText(const IdentifyVerdict& verdict, const std::string& bestName, const std::string& runnerUpName,
                        double runnerUpHqi);

} // namespace veltrane
