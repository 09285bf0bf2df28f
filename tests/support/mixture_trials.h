#pragma once

// Mixtures made of real spectra for judging the mixture search: each
// component is a spectrum of another physical sample than the library's
// entry of its material, so no mixture is an exact sum of entries.

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <optional>
#include <random>
#include <set>

#include "identify/hqi.h"
#include "identify/mixture.h"
#include "identify/preprocess.h"
#include "identify/verdict.h"
#include "support/raman_dev_data.h"

namespace veltrane::test {

struct MixtureRig {
    PreparedLibrary library;
    std::vector<std::string> names;        // of each entry
    std::vector<DevSpectrum> queries;      // the other samples
    std::vector<GridSpectrum> queryPrepared; // positive part, unit area
};

inline MixtureRig LoadMixtureRig(const std::string& folder) {
    MixtureRig rig;
    for (DevSpectrum& s : LoadMinerals(folder)) {
        GridSpectrum prepared = PrepareSpectrum(s.x, s.y);
        if (prepared.values.empty()) continue;
        if (s.role == "library") {
            GridSpectrum compared = CompressedForComparison(prepared);
            rig.library.add(compared.start, compared.values.data(), compared.values.size());
            rig.names.push_back(s.material);
        } else {
            double area = 0.0;
            for (float& v : prepared.values)
                area += (v = std::max(v, 0.0f));
            for (float& v : prepared.values)
                v = static_cast<float>(v / area);
            rig.queryPrepared.push_back(std::move(prepared));
            rig.queries.push_back(std::move(s));
        }
    }
    return rig;
}

struct MixtureFigures {
    int binary = 0, binaryBoth = 0, binaryShares = 0;
    int ternary = 0, ternaryAll = 0;
    int pure = 0, pureSingle = 0; // of the pure samples identification gets right
};

// One sample searched: what it was made of, and what the search gave.
struct MixtureTrial {
    std::vector<std::string> materials;
    std::vector<double> shares;
    bool singleRight = false; // the best single hit names the (first) material
    std::optional<MixtureResult> result;
};

// `count` mixtures of `parts` components drawn (seeded) from the queries
// whose material `use` accepts, with shares from 20 to 80 % (binary) and a
// fluorescence-like background and noise added; with parts == 1, the first
// `count` such queries alone (all when count is 0).
inline std::vector<MixtureTrial> RunMixtureTrials(const MixtureRig& rig, const MixtureSettings& settings,
                                                  const std::function<bool(const std::string&)>& use,
                                                  std::size_t parts, int count, unsigned seed) {
    std::vector<MixtureTrial> trials;
    std::vector<std::size_t> pool;
    for (std::size_t i = 0; i < rig.queries.size(); ++i)
        if (use(rig.queries[i].material)) pool.push_back(i);
    std::mt19937 random(seed);
    MixtureSettings searched = settings;
    searched.sameMaterial = [&rig](std::size_t a, std::size_t b) { return SameMaterial(rig.names[a], rig.names[b]); };
    auto search = [&](const std::vector<double>& x, const std::vector<double>& y, MixtureTrial& trial) {
        UnknownSpectrum unknown = PrepareUnknown(x, y);
        Ranking ranking = RankLibrary(unknown, rig.library, SearchRange{});
        trial.singleRight = !ranking.hits.empty() && rig.names[ranking.hits.front().entry] == trial.materials.front();
        trial.result = FindMixture(unknown, rig.library, ranking, SearchRange{}, searched);
        trials.push_back(std::move(trial));
    };
    if (parts == 1) {
        if (count > 0 && pool.size() > static_cast<std::size_t>(count)) pool.resize(static_cast<std::size_t>(count));
        for (std::size_t i : pool) {
            MixtureTrial trial{{rig.queries[i].material}, {1.0}, false, std::nullopt};
            search(rig.queries[i].x, rig.queries[i].y, trial);
        }
        return trials;
    }
    for (int made = 0; made < count && pool.size() >= parts;) {
        std::vector<std::size_t> chosen;
        std::set<std::string> materials;
        while (chosen.size() < parts) {
            std::size_t pick = pool[std::uniform_int_distribution<std::size_t>(0, pool.size() - 1)(random)];
            if (materials.insert(rig.queries[pick].material).second) chosen.push_back(pick);
        }
        std::int32_t first = -1000000, last = 1000000;
        for (std::size_t c : chosen) {
            first = std::max(first, rig.queryPrepared[c].start);
            last = std::min(last, rig.queryPrepared[c].end());
        }
        if (last - first < 600) continue; // too little in common to mix
        MixtureTrial trial;
        trial.shares.resize(parts);
        if (parts == 2) {
            trial.shares[0] = 0.2 + 0.15 * std::uniform_int_distribution<int>(0, 4)(random);
            trial.shares[1] = 1.0 - trial.shares[0];
        } else {
            for (double& s : trial.shares)
                s = std::uniform_real_distribution<double>(0.2, 1.0)(random);
            const double sum = std::accumulate(trial.shares.begin(), trial.shares.end(), 0.0);
            for (double& s : trial.shares)
                s /= sum;
        }
        for (std::size_t c : chosen)
            trial.materials.push_back(rig.queries[c].material);
        const auto n = static_cast<std::size_t>(last - first);
        std::vector<double> x(n), y(n, 0.0);
        double peak = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            x[k] = first + static_cast<double>(k);
            for (std::size_t c = 0; c < parts; ++c) {
                const GridSpectrum& g = rig.queryPrepared[chosen[c]];
                y[k] += trial.shares[c] * g.values[static_cast<std::size_t>(first - g.start) + k];
            }
            peak = std::max(peak, y[k]);
        }
        std::normal_distribution<double> noise(0.0, 0.01 * peak);
        const double middle = 0.5 * (x.front() + x.back()), width = 0.6 * (x.back() - x.front());
        for (std::size_t k = 0; k < n; ++k)
            y[k] += 0.5 * peak * std::exp(-std::pow((x[k] - middle) / width, 2)) + noise(random);
        ++made;
        search(x, y, trial);
    }
    return trials;
}

// The figures of trials, with the number of components each reports chosen
// by `settings` from the fits the search made.
inline MixtureFigures ScoreMixtureTrials(const MixtureRig& rig, const std::vector<MixtureTrial>& trials,
                                         const MixtureSettings& settings) {
    MixtureFigures f;
    for (const MixtureTrial& t : trials) {
        std::vector<MixtureComponent> reported;
        if (t.result) {
            std::size_t size = ChooseMixtureSize(*t.result, settings);
            reported = t.result->componentsBySize[size - 1];
        }
        const std::size_t parts = t.materials.size();
        if (parts == 1) {
            if (!t.singleRight) continue;
            ++f.pure;
            f.pureSingle += reported.size() == 1 ? 1 : 0;
            continue;
        }
        std::size_t found = 0;
        bool close = true;
        for (std::size_t c = 0; c < parts; ++c) {
            bool here = false;
            for (const MixtureComponent& m : reported)
                if (rig.names[m.entry] == t.materials[c]) {
                    here = true;
                    close = close && std::fabs(m.share - t.shares[c]) <= 0.15;
                }
            found += here ? 1 : 0;
        }
        if (parts == 2) {
            ++f.binary;
            f.binaryBoth += found == 2 ? 1 : 0;
            f.binaryShares += found == 2 && close ? 1 : 0;
        } else {
            ++f.ternary;
            f.ternaryAll += found == parts ? 1 : 0;
        }
    }
    return f;
}

} // namespace veltrane::test
