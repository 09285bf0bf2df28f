#include "identify/verdict.h"

#include <cmath>
#include <cstdio>

namespace veltrane {

// Chosen by bench/identify_eval.py --calibrate on the development spectra.
const VerdictThresholds kVerdictThresholds{70.0, 4.0, 70.0, 3.0, 10, 44.0, 3.0};

namespace {

std::string Folded(const std::string& text) {
    std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    std::size_t last = text.find_last_not_of(" \t");
    std::string out = text.substr(first, last - first + 1);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string OneDecimal(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", value);
    return buffer;
}

} // namespace

bool SameMaterial(const std::string& a, const std::string& b) {
    return Folded(a) == Folded(b);
}

IdentifyVerdict DecideVerdict(const std::vector<RankedHit>& hits,
                              const std::function<const std::string&(std::size_t entry)>& nameOf,
                              const VerdictThresholds& thresholds) {
    IdentifyVerdict v;
    if (hits.empty()) return v;
    v.best = 0;
    v.hqi = hits[0].hqi;
    v.margin = v.hqi;
    const std::string bestName = Folded(nameOf(hits[0].entry));
    for (std::size_t i = 1; i < hits.size(); ++i) {
        if (Folded(nameOf(hits[i].entry)) != bestName) {
            v.runnerUp = i;
            v.margin = v.hqi - hits[i].hqi;
            break;
        }
    }
    const double offset = hits[0].bandOffset;
    const bool bandsInPlace = std::isnan(offset) || offset <= thresholds.matchBandOffset;
    // A lower score with many bands in place: two samples of one material
    // whose bands differ in height more than in place.
    const bool manyBandsInPlace = hits[0].sharedBands >= thresholds.manyBands &&
                                  v.hqi >= thresholds.manyBandsHqi && offset <= thresholds.manyBandsOffset;
    if (v.margin >= thresholds.matchMargin && ((v.hqi >= thresholds.matchHqi && bandsInPlace) || manyBandsInPlace))
        v.verdict = Verdict::Match;
    else if (v.hqi >= thresholds.possibleHqi)
        v.verdict = Verdict::PossibleMatch;
    return v;
}

const char* VerdictWord(Verdict verdict) {
    switch (verdict) {
    case Verdict::Match:
        return "Match";
    case Verdict::PossibleMatch:
        return "Possible match";
    case Verdict::NoMatch:
        break;
    }
    return "No match";
}

std::string VerdictText(const IdentifyVerdict& verdict, const std::string& bestName, const std::string& runnerUpName,
                        double runnerUpHqi) {
    std::string text = VerdictWord(verdict.verdict);
    if (!verdict.best) return text;
    // A No match still tells what came closest, but not as if it were the answer.
    if (verdict.verdict == Verdict::NoMatch)
        return text + " (closest " + bestName + ", HQI " + OneDecimal(verdict.hqi) + ")";
    text += ": " + bestName + ", HQI " + OneDecimal(verdict.hqi);
    if (verdict.runnerUp) text += ", next " + runnerUpName + " " + OneDecimal(runnerUpHqi);
    return text;
}

} // namespace veltrane
