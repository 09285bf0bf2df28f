// Chooses the mixture search's decision settings by cross-validation on the
// development data's real spectra: the species are split in two halves by
// a hash of their names; the settings chosen on one half are reported with
// their figures on the other, and the other way round.
//
// Of the three targets (binary both found 90 %, their shares 80 %, a pure
// sample kept single 95 %) only the last is within reach on these data, so
// the settings chosen are those that find the most binary mixtures while
// keeping 95 % of the pure samples single on the half they are chosen on.
//
//   mixture_eval [DATA-FOLDER]
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "support/mixture_trials.h"

using namespace veltrane;

namespace {

unsigned Fnv(const std::string& s) {
    unsigned h = 2166136261u;
    for (unsigned char c : s)
        h = (h ^ c) * 16777619u;
    return h;
}

double Percent(int part, int whole) {
    return 100.0 * part / std::max(1, whole);
}

// Binary mixtures found, among settings that keep the pure target; below
// it, the nearer to it the better.
double Score(const test::MixtureFigures& f) {
    const double pure = Percent(f.pureSingle, f.pure);
    return pure >= 95.0 ? Percent(f.binaryBoth, f.binary) : pure - 95.0 - 100.0;
}

void Print(const char* what, const MixtureSettings& s, const test::MixtureFigures& f) {
    std::printf("%s gain=%.1f novelty=%.2f lead=%.1f minShare=%.2f: binary both %.1f%% shares %.1f%% (%d), "
                "ternary all %.1f%% (%d), pure single %.1f%% (%d)\n",
                what, s.componentGain, s.noveltyWeight, s.minLead, s.minShare, Percent(f.binaryBoth, f.binary),
                Percent(f.binaryShares, f.binary), f.binary, Percent(f.ternaryAll, f.ternary), f.ternary,
                Percent(f.pureSingle, f.pure), f.pure);
}

} // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : test::RamanDevFolder();
    if (folder.empty()) {
        std::fprintf(stderr, "no development data\n");
        return 77;
    }
    const test::MixtureRig rig = test::LoadMixtureRig(folder);
    std::vector<test::MixtureTrial> halves[2];
    for (unsigned half = 0; half < 2; ++half) {
        auto use = [half](const std::string& m) { return Fnv(m) % 2 == half; };
        for (std::size_t parts : {2u, 3u, 1u})
            for (auto& t : test::RunMixtureTrials(rig, MixtureSettings{}, use, parts,
                                                  parts == 2 ? 150 : parts == 3 ? 40 : 0, 100 + half))
                halves[half].push_back(std::move(t));
    }
    auto choose = [&](const std::vector<test::MixtureTrial>& trials) {
        MixtureSettings best;
        double bestScore = -1e9;
        for (double gain = 0.0; gain <= 20.0; gain += 1.0)
            for (double novelty : {0.0, 0.2, 0.4})
                for (double lead : {0.0, 0.5, 1.0, 2.0, 3.0, 4.0})
                    for (double share : {0.05, 0.10, 0.15}) {
                        MixtureSettings s;
                        s.componentGain = gain;
                        s.noveltyWeight = novelty;
                        s.minLead = lead;
                        s.minShare = share;
                        const double score = Score(test::ScoreMixtureTrials(rig, trials, s));
                        if (score > bestScore) bestScore = score, best = s;
                    }
        return best;
    };
    for (unsigned chooseOn = 0; chooseOn < 2; ++chooseOn) {
        const MixtureSettings best = choose(halves[chooseOn]);
        Print(chooseOn == 0 ? "chosen on half 0," : "chosen on half 1,", best,
              test::ScoreMixtureTrials(rig, halves[chooseOn], best));
        Print("  reported on the other half:", best, test::ScoreMixtureTrials(rig, halves[1 - chooseOn], best));
    }
    std::vector<test::MixtureTrial> both = halves[0];
    both.insert(both.end(), halves[1].begin(), halves[1].end());
    const MixtureSettings onBoth = choose(both);
    Print("chosen on both halves (ship these),", onBoth, test::ScoreMixtureTrials(rig, both, onBoth));
    // Upper bounds: how often the best pair holds both materials of a
    // binary mixture, and the candidates hold both.
    int inCandidates = 0, pairs = 0, pairsRight = 0, triplesRight = 0;
    for (const auto& half : halves)
        for (const test::MixtureTrial& t : half) {
            if (t.materials.size() != 2 || !t.result || t.result->componentsBySize.size() < 2) continue;
            ++pairs;
            int tried = 0;
            for (std::size_t c : t.result->candidates)
                for (const std::string& material : t.materials)
                    tried += rig.names[c] == material ? 1 : 0;
            auto holdsBoth = [&](std::size_t size) {
                if (t.result->componentsBySize.size() < size) return false;
                int found = 0;
                for (const MixtureComponent& m : t.result->componentsBySize[size - 1])
                    for (const std::string& material : t.materials)
                        found += rig.names[m.entry] == material ? 1 : 0;
                return found == 2;
            };
            inCandidates += tried >= 2 ? 1 : 0;
            pairsRight += holdsBoth(2) ? 1 : 0;
            triplesRight += holdsBoth(3) ? 1 : 0;
        }
    std::printf("best pair holds both: %.1f%% of %d; best three hold both: %.1f%%; candidates hold both: %.1f%%\n",
                Percent(pairsRight, pairs), pairs, Percent(triplesRight, pairs), Percent(inCandidates, pairs));
    // What a second component adds to the fit of a pure sample.
    std::vector<double> gains;
    for (const auto& half : halves)
        for (const test::MixtureTrial& t : half)
            if (t.materials.size() == 1 && t.singleRight && t.result && t.result->hqiBySize.size() > 1)
                gains.push_back(t.result->hqiBySize[1] - t.result->hqiBySize[0]);
    std::sort(gains.begin(), gains.end());
    if (!gains.empty())
        std::printf("fit HQI a second component adds to a pure sample: median %.1f, 90th percentile %.1f\n",
                    gains[gains.size() / 2], gains[gains.size() * 9 / 10]);
    Print("shipped settings, both halves:", MixtureSettings{}, test::ScoreMixtureTrials(rig, both, MixtureSettings{}));
    return 0;
}
