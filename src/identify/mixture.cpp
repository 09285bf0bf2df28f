#include "identify/mixture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace veltrane {

namespace {

constexpr std::size_t kMaxComponents = 3;

// The least-squares problem of the candidates, as inner products summed
// up to each place where a candidate's spectrum begins or ends: a set of
// candidates is fitted only where all of its members were measured, since
// a spectrum that was not recorded below 150 cm-1 says nothing about what
// lies there, and reading it as zero lets any entry with a band there
// "explain" it.
struct Normal {
    std::vector<std::int32_t> bounds; // ascending grid positions
    std::size_t m = 0;
    std::vector<std::vector<double>> gram;  // [i * m + j], i <= j: sums of candidate i * candidate j before each bound
    std::vector<std::vector<double>> cross; // [i]: candidate i * sample
    std::vector<double> sampleSquare;
    double g(std::size_t i, std::size_t j, std::size_t lo, std::size_t hi) const {
        const std::vector<double>& c = i <= j ? gram[i * m + j] : gram[j * m + i];
        return c[hi] - c[lo];
    }
};

struct Fit {
    std::array<std::size_t, kMaxComponents> members{}; // candidate indices
    std::array<double, kMaxComponents> weights{};
    std::size_t size = 0;
    std::size_t lo = 0, hi = 0; // indices into Normal::bounds: where the fit is made
    double residual = 0.0;      // squared norm of sample - fit, relative to the sample's
    double hqi = 0.0;
    // The least share of the sample's band weight one member explains
    // alone, beyond its strongest such band.
    double novelty = 0.0;
};

// The sample's bands, and for each candidate how high it stands near each
// of them where it has a band of its own there.
struct BandCover {
    std::vector<std::int32_t> position;
    std::vector<double> weight;                // in comparison form, as the band agreement weighs them
    std::vector<double> height;                // the sample's prepared intensity
    std::vector<std::vector<float>> candidate; // [candidate][band]; 0 without a band there
};

// Solves the k x k normal equations of a support by Gaussian elimination
// with partial pivoting; false when they are singular.
bool Solve(std::size_t k, std::array<std::array<double, kMaxComponents>, kMaxComponents> a,
           std::array<double, kMaxComponents> b, std::array<double, kMaxComponents>& x) {
    for (std::size_t c = 0; c < k; ++c) {
        std::size_t p = c;
        for (std::size_t r = c + 1; r < k; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
        if (std::fabs(a[p][c]) < 1e-12 * std::max(1.0, std::fabs(a[c][c]))) return false;
        std::swap(a[p], a[c]);
        std::swap(b[p], b[c]);
        for (std::size_t r = c + 1; r < k; ++r) {
            double f = a[r][c] / a[c][c];
            for (std::size_t q = c; q < k; ++q)
                a[r][q] -= f * a[c][q];
            b[r] -= f * b[c];
        }
    }
    for (std::size_t c = k; c-- > 0;) {
        double sum = b[c];
        for (std::size_t q = c + 1; q < k; ++q)
            sum -= a[c][q] * x[q];
        x[c] = sum / a[c][c];
    }
    return true;
}

// Non-negative least squares of a few columns, exactly: of every support
// (non-empty subset) whose unconstrained solution is positive, the one with
// the least residual. With at most three columns that is seven small solves,
// and unlike an iterative method there is nothing to converge. Returns a
// fit whose size is below `count` when the best uses fewer columns.
Fit FitColumns(const Normal& n, const std::array<std::size_t, kMaxComponents>& columns, std::size_t count,
               std::size_t lo, std::size_t hi) {
    Fit best;
    best.lo = lo, best.hi = hi;
    const double sampleSquare = n.sampleSquare[hi] - n.sampleSquare[lo];
    best.residual = 1.0; // the empty fit
    if (!(sampleSquare > 0.0)) return best;
    for (unsigned mask = 1; mask < (1u << count); ++mask) {
        std::array<std::size_t, kMaxComponents> support{};
        std::size_t k = 0;
        for (std::size_t j = 0; j < count; ++j)
            if (mask & (1u << j)) support[k++] = columns[j];
        std::array<std::array<double, kMaxComponents>, kMaxComponents> a{};
        std::array<double, kMaxComponents> b{}, x{};
        for (std::size_t r = 0; r < k; ++r) {
            b[r] = n.cross[support[r]][hi] - n.cross[support[r]][lo];
            for (std::size_t q = 0; q < k; ++q)
                a[r][q] = n.g(support[r], support[q], lo, hi);
        }
        if (!Solve(k, a, b, x)) continue;
        if (std::any_of(x.begin(), x.begin() + static_cast<long>(k), [](double w) { return !(w > 0.0); })) continue;
        double residual = sampleSquare;
        for (std::size_t r = 0; r < k; ++r) {
            residual -= 2.0 * x[r] * b[r];
            for (std::size_t q = 0; q < k; ++q)
                residual += x[r] * x[q] * a[r][q];
        }
        residual /= sampleSquare;
        if (residual < best.residual) {
            best.size = k;
            best.members = support;
            best.weights = x;
            best.residual = residual;
        }
    }
    return best;
}

} // namespace

std::optional<MixtureResult> FindMixture(const UnknownSpectrum& unknown, const PreparedLibrary& library,
                                         const Ranking& singles, SearchRange range, const MixtureSettings& settings) {
    const GridSpectrum& u = unknown.grid;
    if (singles.hits.empty() || u.values.empty() || !unknown.pixels.empty()) return std::nullopt;
    const std::int32_t first = std::max(u.start, range.low);
    const std::int32_t last = std::min(u.end(), range.high + 1);
    if (last - first < kMinCommonPoints) return std::nullopt;
    const auto span = static_cast<std::size_t>(last - first);

    // Signals add in the prepared intensity, the square of the comparison form.
    std::vector<double> sample(span);
    for (std::size_t k = 0; k < span; ++k) {
        double v = u.values[static_cast<std::size_t>(first - u.start) + k];
        sample[k] = v * v;
    }

    std::vector<std::size_t> candidates;
    for (std::size_t i = 0; i < singles.hits.size() && candidates.size() < kMixtureHitCandidates; ++i)
        candidates.push_back(singles.hits[i].entry);
    std::vector<std::vector<double>> columns;
    std::vector<std::pair<std::int32_t, std::int32_t>> covered; // of each candidate, within [first, last)
    auto load = [&](std::size_t from) {
        std::vector<std::size_t> wanted(candidates.begin() + static_cast<long>(from), candidates.end());
        std::vector<std::vector<float>> values;
        library.fullValues(wanted, values);
        for (std::size_t j = 0; j < wanted.size(); ++j) {
            std::vector<double> column(span, 0.0);
            const std::int32_t start = library.start(wanted[j]);
            for (std::size_t k = 0; k < values[j].size(); ++k) {
                const std::int32_t at = start + static_cast<std::int32_t>(k);
                if (at >= first && at < last)
                    column[static_cast<std::size_t>(at - first)] = double(values[j][k]) * values[j][k];
            }
            columns.push_back(std::move(column));
            const std::int32_t end = start + static_cast<std::int32_t>(values[j].size());
            covered.emplace_back(std::clamp(start, first, last), std::clamp(end, first, last));
        }
    };
    load(0);

    // What the best single hit leaves unexplained, where it was measured,
    // names further candidates: a second material's bands stand out in it.
    {
        const std::vector<double>& best = columns.front();
        const auto [from, to] = covered.front();
        double ee = 0.0, es = 0.0;
        for (auto k = static_cast<std::size_t>(from - first); k < static_cast<std::size_t>(to - first); ++k)
            ee += best[k] * best[k], es += best[k] * sample[k];
        const double w = ee > 0.0 ? std::max(0.0, es / ee) : 0.0;
        GridSpectrum residual{from, std::vector<float>(static_cast<std::size_t>(to - from))};
        double left = 0.0;
        for (std::size_t k = 0; k < residual.values.size(); ++k) {
            const std::size_t at = static_cast<std::size_t>(from - first) + k;
            const double r = std::max(0.0, sample[at] - w * best[at]);
            residual.values[k] = static_cast<float>(std::sqrt(r));
            left = std::max(left, r);
        }
        if (left > 0.0 && residual.values.size() >= static_cast<std::size_t>(kMinCommonPoints)) {
            for (float& v : residual.values)
                v = static_cast<float>(v / std::sqrt(left));
            Ranking more = RankLibrary(residual, library, range, kMixtureResidualCandidates);
            const std::size_t before = candidates.size();
            for (const RankedHit& hit : more.hits)
                if (std::find(candidates.begin(), candidates.end(), hit.entry) == candidates.end())
                    candidates.push_back(hit.entry);
            load(before);
        }
    }
    const std::size_t m = candidates.size();

    BandCover cover;
    for (std::size_t i = 0; i < unknown.bands.positions.size(); ++i) {
        const std::int32_t p = unknown.bands.positions[i];
        if (p < first || p >= last) continue;
        cover.position.push_back(p);
        cover.weight.push_back(unknown.bands.weights[i]);
        cover.height.push_back(sample[static_cast<std::size_t>(p - first)]);
    }
    cover.candidate.assign(m, std::vector<float>(cover.position.size(), 0.0f));
    for (std::size_t j = 0; j < m; ++j) {
        const std::int32_t* positions = library.bandPositions(candidates[j]);
        const std::int32_t* positionsEnd = positions + library.bandCount(candidates[j]);
        for (std::size_t i = 0; i < cover.position.size(); ++i) {
            const std::int32_t lo = cover.position[i] - kBandTolerance, hi = cover.position[i] + kBandTolerance;
            const std::int32_t* near = std::lower_bound(positions, positionsEnd, lo);
            if (near == positionsEnd || *near > hi) continue;
            float top = 0.0f;
            for (std::int32_t k = std::max(first, lo); k <= std::min(last - 1, hi); ++k)
                top = std::max(top, static_cast<float>(columns[j][static_cast<std::size_t>(k - first)]));
            cover.candidate[j][i] = top;
        }
    }

    Normal normal;
    normal.m = m;
    normal.bounds = {first, last};
    for (const auto& [from, to] : covered)
        normal.bounds.push_back(from), normal.bounds.push_back(to);
    std::sort(normal.bounds.begin(), normal.bounds.end());
    normal.bounds.erase(std::unique(normal.bounds.begin(), normal.bounds.end()), normal.bounds.end());
    auto sums = [&](const std::vector<double>& a, const std::vector<double>& b) {
        std::vector<double> out(normal.bounds.size());
        double sum = 0.0;
        std::size_t k = 0;
        for (std::size_t q = 0; q < normal.bounds.size(); ++q) {
            for (const auto to = static_cast<std::size_t>(normal.bounds[q] - first); k < to; ++k)
                sum += a[k] * b[k];
            out[q] = sum;
        }
        return out;
    };
    normal.sampleSquare = sums(sample, sample);
    normal.cross.resize(m);
    normal.gram.resize(m * m);
    for (std::size_t i = 0; i < m; ++i) {
        normal.cross[i] = sums(columns[i], sample);
        for (std::size_t j = i; j < m; ++j)
            normal.gram[i * m + j] = sums(columns[i], columns[j]);
    }
    auto boundIndex = [&](std::int32_t at) {
        return static_cast<std::size_t>(std::lower_bound(normal.bounds.begin(), normal.bounds.end(), at) -
                                        normal.bounds.begin());
    };
    std::vector<std::size_t> loOf(m), hiOf(m);
    for (std::size_t i = 0; i < m; ++i)
        loOf[i] = boundIndex(covered[i].first), hiOf[i] = boundIndex(covered[i].second);
    auto same = [&](std::size_t a, std::size_t b) {
        return settings.sameMaterial ? settings.sameMaterial(candidates[a], candidates[b])
                                     : candidates[a] == candidates[b];
    };

    // Every set of one to three candidates of different materials, kept per
    // size by residual; only sets whose best fit uses all their members
    // count for their size.
    constexpr std::size_t kJudged = 40;
    const std::size_t maxSize = std::clamp<std::size_t>(settings.maxComponents, 1, kMaxComponents);
    std::array<std::vector<Fit>, kMaxComponents + 1> bySize;
    auto consider = [&](const std::array<std::size_t, kMaxComponents>& set, std::size_t count) {
        std::size_t lo = 0, hi = normal.bounds.size() - 1;
        for (std::size_t r = 0; r < count; ++r)
            lo = std::max(lo, loOf[set[r]]), hi = std::min(hi, hiOf[set[r]]);
        if (hi <= lo || normal.bounds[hi] - normal.bounds[lo] < kMinCommonPoints) return;
        Fit fit = FitColumns(normal, set, count, lo, hi);
        if (fit.size != count) return;
        std::vector<Fit>& kept = bySize[count];
        kept.push_back(fit);
        std::sort(kept.begin(), kept.end(), [](const Fit& a, const Fit& b) { return a.residual < b.residual; });
        if (kept.size() > kJudged) kept.pop_back();
    };
    for (std::size_t a = 0; a < m; ++a) {
        consider({a, 0, 0}, 1);
        if (maxSize < 2) continue;
        for (std::size_t b = a + 1; b < m; ++b) {
            if (same(a, b)) continue;
            consider({a, b, 0}, 2);
            if (maxSize < 3) continue;
            for (std::size_t c = b + 1; c < m; ++c)
                if (!same(a, c) && !same(b, c)) consider({a, b, c}, 3);
        }
    }

    // The HQI of a fitted sum, as a single hit is scored, over where all
    // its members were measured; and the sample's bands each member
    // explains that no other does. A band counts as explained by a member
    // with a band of its own there that, at its fitted weight, reaches
    // kMixtureBandHeight of the sample's height: an entry that merely
    // raises or lowers bands the others already have explains nothing new.
    auto judge = [&](Fit& fit) {
        const std::int32_t from = normal.bounds[fit.lo], to = normal.bounds[fit.hi];
        const auto offset = static_cast<std::size_t>(from - first);
        GridSpectrum sum{from, std::vector<float>(static_cast<std::size_t>(to - from))};
        double peak = 0.0;
        for (std::size_t k = 0; k < sum.values.size(); ++k) {
            double v = 0.0;
            for (std::size_t r = 0; r < fit.size; ++r)
                v += fit.weights[r] * columns[fit.members[r]][offset + k];
            peak = std::max(peak, v);
            sum.values[k] = static_cast<float>(v);
        }
        if (!(peak > 0.0)) return;
        for (float& v : sum.values)
            v = CompressForComparison(static_cast<float>(v / peak));
        fit.hqi = HitQualityIndex(u, sum, range).value_or(0.0);

        std::array<double, kMaxComponents> alone{}, strongest{};
        double total = 0.0;
        for (std::size_t i = 0; i < cover.position.size(); ++i) {
            if (cover.position[i] < from || cover.position[i] >= to) continue;
            total += cover.weight[i];
            std::size_t by = 0, who = 0;
            for (std::size_t r = 0; r < fit.size; ++r)
                if (fit.weights[r] * cover.candidate[fit.members[r]][i] >= kMixtureBandHeight * cover.height[i])
                    ++by, who = r;
            if (by == 1) alone[who] += cover.weight[i], strongest[who] = std::max(strongest[who], cover.weight[i]);
        }
        // One band alone is weak evidence: an entry with a single strong
        // band mends a band the others have too low about anywhere.
        if (fit.size > 1)
            for (std::size_t r = 0; r < fit.size; ++r)
                alone[r] -= strongest[r];
        fit.novelty =
            total > 0.0 ? *std::min_element(alone.begin(), alone.begin() + static_cast<long>(fit.size)) / total : 0.0;
    };
    std::array<const Fit*, kMaxComponents + 1> best{};
    for (std::size_t size = 1; size <= maxSize; ++size)
        for (Fit& fit : bySize[size]) {
            judge(fit);
            if (!best[size] || fit.hqi > best[size]->hqi) best[size] = &fit;
        }
    if (!best[1]) return std::nullopt;

    auto sharesOf = [&](const Fit& fit) {
        std::vector<MixtureComponent> parts;
        std::vector<std::size_t> members;
        double total = 0.0;
        const auto from = static_cast<long>(normal.bounds[fit.lo] - first);
        const auto to = static_cast<long>(normal.bounds[fit.hi] - first);
        for (std::size_t r = 0; r < fit.size; ++r) {
            const std::vector<double>& c = columns[fit.members[r]];
            const double area = fit.weights[r] * std::accumulate(c.begin() + from, c.begin() + to, 0.0);
            parts.push_back({candidates[fit.members[r]], area, fit.weights[r]});
            total += area;
        }
        for (MixtureComponent& p : parts)
            p.share = total > 0.0 ? p.share / total : 0.0;
        std::sort(parts.begin(), parts.end(), [](const auto& a, const auto& b) { return a.share > b.share; });
        return parts;
    };
    // How far the best fit of a size leads the best that keeps all its
    // members but the smallest and puts another material in its place.
    // Two samples of one material differ in ways many entries mend about
    // equally well; a material that is there stands out from its rivals.
    auto leadOf = [&](std::size_t size) {
        const Fit& top = *best[size];
        std::size_t smallest = 0;
        {
            const std::vector<MixtureComponent> parts = sharesOf(top);
            for (std::size_t r = 0; r < top.size; ++r)
                if (candidates[top.members[r]] == parts.back().entry) smallest = top.members[r];
        }
        double rival = best[size - 1]->hqi;
        for (const Fit& fit : bySize[size]) {
            std::size_t kept = 0, other = m;
            for (std::size_t r = 0; r < fit.size; ++r) {
                const std::size_t c = fit.members[r];
                if (c != smallest && std::find(top.members.begin(), top.members.begin() + static_cast<long>(size), c) !=
                                         top.members.begin() + static_cast<long>(size))
                    ++kept;
                else
                    other = c;
            }
            if (kept == size - 1 && other != m && !same(other, smallest)) rival = std::max(rival, fit.hqi);
        }
        return top.hqi - rival;
    };
    MixtureResult result;
    for (std::size_t size = 1; size <= maxSize && best[size]; ++size) {
        result.hqiBySize.push_back(best[size]->hqi);
        result.componentsBySize.push_back(sharesOf(*best[size]));
        result.noveltyBySize.push_back(best[size]->novelty);
        result.leadBySize.push_back(size > 1 ? leadOf(size) : 0.0);
    }
    const std::size_t size = ChooseMixtureSize(result, settings);
    result.components = result.componentsBySize[size - 1];
    result.fitHqi = result.hqiBySize[size - 1];
    result.singleHqi = result.hqiBySize.front();
    result.candidates = candidates;
    return result;
}

std::size_t ChooseMixtureSize(const MixtureResult& fits, const MixtureSettings& settings) {
    // Fewer components unless one more fits clearly better, explains bands
    // nothing else does, stands out from its rivals and is no trace.
    std::size_t chosen = 1;
    for (std::size_t size = 2; size <= fits.hqiBySize.size(); ++size) {
        const double gain = fits.hqiBySize[size - 1] - fits.hqiBySize[chosen - 1];
        const double evidence = gain + 100.0 * settings.noveltyWeight * fits.noveltyBySize[size - 1];
        if (evidence < settings.componentGain) break;
        if (fits.leadBySize[size - 1] < settings.minLead) break;
        if (fits.componentsBySize[size - 1].back().share < settings.minShare) break;
        chosen = size;
    }
    return chosen;
}

std::string MixtureText(const MixtureResult& result, const std::function<std::string(std::size_t entry)>& nameOf) {
    std::string text = "Mixture: ";
    for (std::size_t i = 0; i < result.components.size(); ++i) {
        const MixtureComponent& c = result.components[i];
        char share[32];
        std::snprintf(share, sizeof share, " (%.0f %%)", 100.0 * c.share);
        text += (i > 0 ? " + " : "") + nameOf(c.entry) + share;
    }
    char fit[32];
    std::snprintf(fit, sizeof fit, ", fit HQI %.1f", result.fitHqi);
    return text + fit;
}

} // namespace veltrane
