#include "identify/mixture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace veltrane {

namespace {

constexpr std::size_t kMaxComponents = 3;

// The least-squares problem of the candidates on the sample's span, as
// inner products: everything a fit of any few of them needs.
struct Normal {
    std::vector<std::vector<double>> gram; // candidate · candidate
    std::vector<double> cross;             // candidate · sample
    double sampleSquare = 0.0;
};

struct Fit {
    std::array<std::size_t, kMaxComponents> members{}; // candidate indices
    std::array<double, kMaxComponents> weights{};
    std::size_t size = 0;
    double residual = 0.0; // squared norm of sample - fit
    double hqi = 0.0;
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
Fit FitColumns(const Normal& n, const std::array<std::size_t, kMaxComponents>& columns, std::size_t count) {
    Fit best;
    best.residual = n.sampleSquare; // the empty fit
    for (unsigned mask = 1; mask < (1u << count); ++mask) {
        std::array<std::size_t, kMaxComponents> support{};
        std::size_t k = 0;
        for (std::size_t j = 0; j < count; ++j)
            if (mask & (1u << j)) support[k++] = columns[j];
        std::array<std::array<double, kMaxComponents>, kMaxComponents> a{};
        std::array<double, kMaxComponents> b{}, x{};
        for (std::size_t r = 0; r < k; ++r) {
            b[r] = n.cross[support[r]];
            for (std::size_t q = 0; q < k; ++q)
                a[r][q] = n.gram[support[r]][support[q]];
        }
        if (!Solve(k, a, b, x)) continue;
        if (std::any_of(x.begin(), x.begin() + static_cast<long>(k), [](double w) { return !(w > 0.0); })) continue;
        double residual = n.sampleSquare;
        for (std::size_t r = 0; r < k; ++r) {
            residual -= 2.0 * x[r] * b[r];
            for (std::size_t q = 0; q < k; ++q)
                residual += x[r] * x[q] * a[r][q];
        }
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
        }
    };
    load(0);

    // What the best single hit leaves unexplained names further candidates:
    // a second material's bands stand out in it.
    {
        const std::vector<double>& best = columns.front();
        const double ee = std::inner_product(best.begin(), best.end(), best.begin(), 0.0);
        const double es = std::inner_product(best.begin(), best.end(), sample.begin(), 0.0);
        const double w = ee > 0.0 ? std::max(0.0, es / ee) : 0.0;
        GridSpectrum residual{first, std::vector<float>(span)};
        double left = 0.0;
        for (std::size_t k = 0; k < span; ++k) {
            const double r = std::max(0.0, sample[k] - w * best[k]);
            residual.values[k] = static_cast<float>(std::sqrt(r));
            left = std::max(left, r);
        }
        if (left > 0.0) {
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
    Normal normal;
    normal.gram.assign(m, std::vector<double>(m, 0.0));
    normal.cross.assign(m, 0.0);
    normal.sampleSquare = std::inner_product(sample.begin(), sample.end(), sample.begin(), 0.0);
    for (std::size_t i = 0; i < m; ++i) {
        normal.cross[i] = std::inner_product(columns[i].begin(), columns[i].end(), sample.begin(), 0.0);
        for (std::size_t j = i; j < m; ++j)
            normal.gram[i][j] = normal.gram[j][i] =
                std::inner_product(columns[i].begin(), columns[i].end(), columns[j].begin(), 0.0);
    }

    // Every set of one to three candidates, kept per size by residual; only
    // sets whose best fit uses all their members count for their size.
    constexpr std::size_t kJudged = 40;
    const std::size_t maxSize = std::clamp<std::size_t>(settings.maxComponents, 1, kMaxComponents);
    std::array<std::vector<Fit>, kMaxComponents + 1> bySize;
    auto consider = [&](const std::array<std::size_t, kMaxComponents>& set, std::size_t count) {
        Fit fit = FitColumns(normal, set, count);
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
            consider({a, b, 0}, 2);
            if (maxSize < 3) continue;
            for (std::size_t c = b + 1; c < m; ++c)
                consider({a, b, c}, 3);
        }
    }

    // The HQI of a fitted sum, as a single hit is scored.
    auto judge = [&](Fit& fit) {
        GridSpectrum sum{first, std::vector<float>(span)};
        double peak = 0.0;
        for (std::size_t k = 0; k < span; ++k) {
            double v = 0.0;
            for (std::size_t r = 0; r < fit.size; ++r)
                v += fit.weights[r] * columns[fit.members[r]][k];
            peak = std::max(peak, v);
            sum.values[k] = static_cast<float>(v);
        }
        if (!(peak > 0.0)) return;
        for (float& v : sum.values)
            v = CompressForComparison(static_cast<float>(v / peak));
        fit.hqi = HitQualityIndex(u, sum, range).value_or(0.0);
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
        double total = 0.0;
        for (std::size_t r = 0; r < fit.size; ++r) {
            const std::vector<double>& c = columns[fit.members[r]];
            const double weight = fit.weights[r];
            const double area = weight * std::accumulate(c.begin(), c.end(), 0.0);
            parts.push_back({candidates[fit.members[r]], area, weight});
            total += area;
        }
        for (MixtureComponent& p : parts)
            p.share = total > 0.0 ? p.share / total : 0.0;
        std::sort(parts.begin(), parts.end(), [](const auto& a, const auto& b) { return a.share > b.share; });
        return parts;
    };
    MixtureResult result;
    for (std::size_t size = 1; size <= maxSize && best[size]; ++size) {
        result.hqiBySize.push_back(best[size]->hqi);
        result.componentsBySize.push_back(sharesOf(*best[size]));
    }
    const std::size_t size = ChooseMixtureSize(result, settings);
    result.components = result.componentsBySize[size - 1];
    result.fitHqi = result.hqiBySize[size - 1];
    result.singleHqi = result.hqiBySize.front();
    result.candidates = candidates;
    return result;
}

std::size_t ChooseMixtureSize(const MixtureResult& fits, const MixtureSettings& settings) {
    const std::vector<double>& hqiBySize = fits.hqiBySize;
    const auto& componentsBySize = fits.componentsBySize;
    // Fewer components unless one more clearly fits better and is no trace.
    std::size_t chosen = 1;
    for (std::size_t size = 2; size <= hqiBySize.size(); ++size) {
        const double gain = hqiBySize[size - 1] - hqiBySize[chosen - 1];
        if (gain < settings.componentGain) break;
        if (componentsBySize[size - 1].back().share < settings.minShare) break;
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
