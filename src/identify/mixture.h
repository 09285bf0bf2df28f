#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <optional>
#include <vector>

#include "identify/hqi.h"

namespace veltrane {

// A sample explained as a mixture: a non-negative sum of up to three
// library entries that fits the prepared sample best.
//
// The fit is made in the prepared (baseline-removed, linear) intensity,
// where signals add; it is judged, like a single hit, by the HQI of the
// fitted sum against the sample. A share is the part of the fitted signal
// (the area under the prepared spectrum) each component gives: not a
// concentration, since materials scatter with very different strength.
struct MixtureComponent {
    std::size_t entry = 0;
    double share = 0.0;  // 0..1
    double weight = 0.0; // the entry's prepared intensity times this is its part of the fit
};

struct MixtureResult {
    std::vector<MixtureComponent> components; // largest share first
    double fitHqi = 0.0;
    // The HQI of the best single entry fitted the same way, for comparison.
    double singleHqi = 0.0;
    // The best fit of each size tried (1, 2, 3 components): its HQI and its
    // components, whether reported or not.
    std::vector<double> hqiBySize;
    std::vector<std::vector<MixtureComponent>> componentsBySize;
    // Of each of those fits: the least share of the sample's band weight
    // that one member explains and no other does, beyond the strongest of
    // those bands; and how far its HQI leads the best fit that puts another
    // material in place of its smallest component (0 for one component).
    std::vector<double> noveltyBySize;
    std::vector<double> leadBySize;
    // The entries that were tried.
    std::vector<std::size_t> candidates;
    bool isMixture() const { return components.size() > 1; }
};

// Which entries are tried: the best single hits, and the entries that best
// explain what the best single hit leaves unexplained.
constexpr std::size_t kMixtureHitCandidates = 30;
constexpr std::size_t kMixtureResidualCandidates = 10;
// A sample band counts as explained by a component with a band of its own
// there that, at its fitted weight, reaches this part of the sample's height.
constexpr double kMixtureBandHeight = 0.2;
// A further component is reported when its evidence, the HQI it adds plus
// kMixtureNoveltyWeight times the percentage of the sample's band weight
// it alone explains (beyond its strongest such band), reaches
// kMixtureComponentGain; when its fit leads the best with another material
// in its place by kMixtureMinLead; and when its share is at least
// kMixtureMinShare. Any component raises the fit a
// little, by fitting noise and how two samples of one material differ.
constexpr double kMixtureComponentGain = 11.0;
constexpr double kMixtureNoveltyWeight = 0.4;
constexpr double kMixtureMinLead = 2.0;
constexpr double kMixtureMinShare = 0.05;

struct MixtureSettings {
    std::size_t maxComponents = 3;
    double componentGain = kMixtureComponentGain;
    double noveltyWeight = kMixtureNoveltyWeight;
    double minLead = kMixtureMinLead;
    double minShare = kMixtureMinShare;
    // Whether two entries are one material (no mixture of a material with
    // itself is tried, nor counted as its rival); by default only an entry
    // with itself.
    std::function<bool(std::size_t, std::size_t)> sameMaterial;
};

// The best mixture for the unknown of a finished single search (`singles`,
// best first, over the same library and range). Empty when there is nothing
// to fit: no hit, or an unknown from a coarse sensor, whose few pixels
// cannot tell the bands of two materials apart.
std::optional<MixtureResult> FindMixture(const UnknownSpectrum& unknown, const PreparedLibrary& library,
                                         const Ranking& singles, SearchRange range,
                                         const MixtureSettings& settings = {});

// Of the best fits of each size (from one component up), how many
// components to report, by the rule of MixtureSettings.
std::size_t ChooseMixtureSize(const MixtureResult& fits, const MixtureSettings& settings);

// "Mixture: A (62 %) + B (38 %), fit HQI 96.4": the components, largest
// share first, each share rounded to a whole percent.
std::string MixtureText(const MixtureResult& result, const std::function<std::string(std::size_t entry)>& nameOf);

} // namespace veltrane
