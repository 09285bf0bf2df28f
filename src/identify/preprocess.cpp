#include "identify/preprocess.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <type_traits>

namespace veltrane {

namespace {

// Solves (W + lambda D'D) z = W y for the second-difference matrix D, for K
// spectra of one length at a time. The system is pentadiagonal and positive
// definite, so an LDL' factorisation in the band costs O(n) per solve. Each
// row's pivot needs the reciprocal of the one before, a chain of divisions
// no single spectrum can hurry; K independent spectra side by side (values
// interleaved, row by row) keep the divider busy with K chains at once. Every
// spectrum sees exactly the same operations whatever K is, so a spectrum
// solved alone and one solved in a batch get identical baselines.
template <std::size_t K> class PentadiagonalSolver {
public:
    PentadiagonalSolver(std::size_t n, double lambda)
        : m_n(n), m_a(n), m_b(n), m_c(n), m_inv((n + 4) * K), m_l1((n + 4) * K), m_l2((n + 4) * K) {
        // Band of lambda D'D: 1 5 6 ... 6 5 1 on the diagonal, -2 -4 ... -4 -2
        // beside it, 1 two places out. m_b and m_c are the row's entries left
        // of the diagonal (zero where the row has none).
        for (std::size_t i = 0; i < n; ++i) {
            double diag = (i == 0 || i == n - 1) ? 1.0 : (i == 1 || i == n - 2) ? 5.0 : 6.0;
            m_a[i] = lambda * diag;
            m_b[i] = i == 0 ? 0.0 : lambda * ((i == 1 || i == n - 1) ? -2.0 : -4.0);
            m_c[i] = i < 2 ? 0.0 : lambda;
        }
    }

    // w, y and z hold row i of spectrum j at i * K + j.
    void solve(const double* w, const double* y, double* z) {
        const std::size_t n = m_n;
        // Row i of the factors lives at k = i + 2; the two rows before the
        // first and after the last are zero.
        double* invD = m_inv.data();
        double* l1 = m_l1.data();
        double* l2 = m_l2.data();
        // One spectrum keeps the previous rows' factors in registers: reading
        // them back from memory would add a store-to-load delay to every step
        // of its chain. Four spectra have too many to keep, and their chains
        // overlap the delay anyway; the arithmetic is the same either way.
        double u1[K] = {}, u2[K] = {}, inv1[K] = {}, inv2[K] = {}, l1Prev[K] = {};
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t k = (i + 2) * K;
            const double a = m_a[i], b = m_b[i], c = m_c[i];
            for (std::size_t j = 0; j < K; ++j) {
                if constexpr (K > 1) {
                    inv1[j] = invD[k - K + j];
                    inv2[j] = invD[k - 2 * K + j];
                    l1Prev[j] = l1[k - K + j];
                }
                // L(i,i-2) = c / d(i-2); L(i,i-1) d(i-1) = g = b - c L(i-1,i-2);
                // d(i) = a + w - c L(i,i-2) - g^2 / d(i-1).
                double lo2 = c * inv2[j];
                double g = b - c * l1Prev[j];
                double lo1 = g * inv1[j];
                double d = (a + w[i * K + j] - c * lo2) - (g * g) * inv1[j];
                double inv = 1.0 / d;
                invD[k + j] = inv;
                l1[k + j] = lo1;
                l2[k + j] = lo2;
                if constexpr (K == 1) {
                    inv2[j] = inv1[j];
                    inv1[j] = inv;
                    l1Prev[j] = lo1;
                }
                double u = w[i * K + j] * y[i * K + j] - lo1 * u1[j] - lo2 * u2[j];
                z[i * K + j] = u;
                u2[j] = u1[j];
                u1[j] = u;
            }
        }
        double next1[K] = {}, next2[K] = {};
        for (std::size_t i = n; i-- > 0;) {
            const std::size_t k = (i + 2) * K;
            for (std::size_t j = 0; j < K; ++j) {
                double zi = z[i * K + j] * invD[k + j] - l1[k + K + j] * next1[j] - l2[k + 2 * K + j] * next2[j];
                z[i * K + j] = zi;
                next2[j] = next1[j];
                next1[j] = zi;
            }
        }
    }

private:
    std::size_t m_n;
    std::vector<double> m_a, m_b, m_c, m_inv, m_l1, m_l2;
};

// GCC keeps the selections below as branches while floating-point
// exceptions might trap, and then will not vectorise the weight loops; the
// program never traps them, and the results are the same either way.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC push_options
#pragma GCC optimize("no-trapping-math")
#endif

// e^t for t <= 80 to about 2e-7 relative, written so the weight loop
// vectorises (the library's expf is a call per point); below -87 it gives
// e^-87, which makes a weight of 1 all the same.
inline float ExpOfWeight(float t) {
    float x = (t > -87.0f ? t : -87.0f) * 1.44269504f; // log2(e)
    // Rounds to the nearest whole number without a library call.
    float whole = (x + 12582912.0f) - 12582912.0f;
    float f = (x - whole) * 0.693147181f; // in [-0.35, 0.35]
    float p = 1.0f + f * (1.0f + f * (0.5f + f * (1.0f / 6 + f * (1.0f / 24 + f * (1.0f / 120 + f * (1.0f / 720))))));
    std::int32_t bits = (static_cast<std::int32_t>(whole) + 127) << 23;
    float power;
    std::memcpy(&power, &bits, sizeof power);
    return p * power;
}

// The logistic weights of K interleaved spectra.
template <std::size_t K>
void NextWeights(const double* y, const double* z, const double* offset, const double* scale, float* next,
                 std::size_t n) {
    for (std::size_t i = 0; i < n * K; i += K) {
        for (std::size_t j = 0; j < K; ++j) {
            double r = (y[i + j] - z[i + j] - offset[j]) * scale[j];
            float t = static_cast<float>(r < 80.0 ? r : 80.0);
            next[i + j] = 1.0f / (1.0f + ExpOfWeight(t));
        }
    }
}

// arPLS on K spectra of length n >= 4 at once; each stops on its own test
// and keeps the baseline of the solve it stopped at.
template <std::size_t K>
void ArplsLanes(std::size_t n, const double* const* ys, double* const* baselines, const BaselineParams& params) {
    std::vector<double> y(n * K), w(n * K, 1.0), z(n * K);
    std::vector<float> next(n * K);
    for (std::size_t j = 0; j < K; ++j)
        for (std::size_t i = 0; i < n; ++i)
            y[i * K + j] = ys[j][i];
    bool active[K];
    std::fill(active, active + K, true);
    std::size_t left = K;
    auto finish = [&](std::size_t j) {
        for (std::size_t i = 0; i < n; ++i)
            baselines[j][i] = z[i * K + j];
        active[j] = false;
        --left;
    };
    PentadiagonalSolver<K> solver(n, params.lambda);
    for (int iteration = 0; iteration < params.maxIterations && left > 0; ++iteration) {
        solver.solve(w.data(), y.data(), z.data());
        // All lanes are swept together, finished ones too (their figures
        // are ignored), so the loops run over contiguous memory.
        double sum[K] = {}, sumSq[K] = {};
        std::size_t negatives[K] = {};
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t j = 0; j < K; ++j) {
                double r = y[i * K + j] - z[i * K + j];
                bool below = r < 0.0;
                sum[j] += below ? r : 0.0;
                sumSq[j] += below ? r * r : 0.0;
                negatives[j] += below;
            }
        }
        double scale[K] = {}, offset[K] = {};
        for (std::size_t j = 0; j < K; ++j) {
            if (!active[j]) continue;
            // Nothing below the baseline any more: it already lies under every point.
            if (negatives[j] < 2) {
                finish(j);
                continue;
            }
            double mean = sum[j] / static_cast<double>(negatives[j]);
            double sigma = std::sqrt(std::max(0.0, sumSq[j] / static_cast<double>(negatives[j]) - mean * mean));
            if (!(sigma > 0.0)) {
                finish(j);
                continue;
            }
            // Points well above the noise of the negative residuals are peaks
            // and lose their weight; the logistic keeps the change smooth.
            scale[j] = 2.0 / sigma;
            offset[j] = 2.0 * sigma - mean;
        }
        if (left == 0) break;
        // The new weights first, in a loop without sums so it vectorises.
        NextWeights<K>(y.data(), z.data(), offset, scale, next.data(), n);
        double change[K] = {}, norm[K] = {};
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t j = 0; j < K; ++j) {
                double& wi = w[i * K + j];
                double nw = next[i * K + j];
                change[j] += (nw - wi) * (nw - wi);
                norm[j] += wi * wi;
                wi = nw;
            }
        }
        for (std::size_t j = 0; j < K; ++j)
            if (active[j] && change[j] < params.ratio * params.ratio * norm[j]) finish(j);
    }
    for (std::size_t j = 0; j < K; ++j)
        if (active[j]) finish(j);
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC pop_options
#endif

// The baseline-removed grid scaled to a largest magnitude of 1 and rounded
// to steps of 1/32767: the index keeps prepared spectra as 16-bit integers,
// and an unknown rounded alike compares with an entry made of the same
// spectrum exactly as two copies of one spectrum.
GridSpectrum ScaledDifference(const GridSpectrum& grid, const std::vector<double>& y,
                              const std::vector<double>& baseline) {
    GridSpectrum out;
    out.start = grid.start;
    double peak = 0.0, level = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        peak = std::max(peak, std::abs(y[i] - baseline[i]));
        level = std::max(level, std::abs(y[i]));
    }
    // A flat or straight spectrum leaves only the solve's rounding above its
    // baseline; scaled to a peak of 1, that noise would rank like bands.
    if (!(peak > kSignalFloor * level) || !std::isfinite(peak) || !std::isfinite(level)) return out;
    out.values.resize(y.size());
    double scale = 1.0 / peak;
    for (std::size_t i = 0; i < y.size(); ++i)
        out.values[i] = DequantizePrepared(QuantizePrepared((y[i] - baseline[i]) * scale));
    return out;
}

} // namespace

std::int16_t QuantizePrepared(double value) {
    return static_cast<std::int16_t>(std::lrint(std::clamp(value, -1.0, 1.0) * kPreparedSteps));
}

void ArplsBaseline(std::span<const double> y, std::span<double> baseline, const BaselineParams& params) {
    const std::size_t n = y.size();
    if (n < 4) {
        std::copy(y.begin(), y.end(), baseline.begin());
        return;
    }
    const double* ys[1] = {y.data()};
    double* out[1] = {baseline.data()};
    ArplsLanes<1>(n, ys, out, params);
}

GridSpectrum ResampleToWholeWavenumbers(std::span<const double> x, std::span<const double> y) {
    std::vector<std::pair<double, double>> points;
    points.reserve(std::min(x.size(), y.size()));
    for (std::size_t i = 0; i < std::min(x.size(), y.size()); ++i)
        if (std::isfinite(x[i]) && std::isfinite(y[i]) && std::abs(x[i]) < 1e6) points.emplace_back(x[i], y[i]);
    std::stable_sort(points.begin(), points.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    GridSpectrum grid;
    if (points.size() < 2) return grid;
    double first = std::ceil(points.front().first);
    double last = std::floor(points.back().first);
    if (last < first) return grid;
    grid.start = static_cast<std::int32_t>(first);
    grid.values.resize(static_cast<std::size_t>(last - first) + 1);
    std::size_t j = 0;
    for (std::size_t k = 0; k < grid.values.size(); ++k) {
        double shift = first + static_cast<double>(k);
        while (j + 2 < points.size() && points[j + 1].first < shift)
            ++j;
        const auto& a = points[j];
        const auto& b = points[j + 1];
        double span = b.first - a.first;
        double t = span > 0.0 ? (shift - a.first) / span : 0.0;
        t = std::clamp(t, 0.0, 1.0);
        grid.values[k] = static_cast<float>(a.second + t * (b.second - a.second));
    }
    return grid;
}

GridSpectrum RemoveBaseline(const GridSpectrum& grid, const BaselineParams& params, std::vector<double>* baselineOut) {
    std::vector<double> y(grid.values.begin(), grid.values.end());
    std::vector<double> baseline(y.size());
    ArplsBaseline(y, baseline, params);
    GridSpectrum out = ScaledDifference(grid, y, baseline);
    if (baselineOut) *baselineOut = std::move(baseline);
    return out;
}

std::vector<GridSpectrum> RemoveBaselines(std::span<const GridSpectrum> grids, const BaselineParams& params) {
    constexpr std::size_t kMostLanes = 4;
    std::vector<GridSpectrum> out(grids.size());
    std::vector<std::vector<double>> y(grids.size()), baseline(grids.size());
    for (std::size_t g = 0; g < grids.size(); ++g) {
        y[g].assign(grids[g].values.begin(), grids[g].values.end());
        baseline[g].resize(y[g].size());
    }
    // Spectra of one length go together, four at a time, then two, then one.
    // (Eight at a time is slower: the lanes no longer fit the registers.)
    auto solve = [&](const std::vector<std::size_t>& lanes, std::size_t first, auto width) {
        constexpr std::size_t K = decltype(width)::value;
        const double* ys[K];
        double* bs[K];
        for (std::size_t j = 0; j < K; ++j) {
            ys[j] = y[lanes[first + j]].data();
            bs[j] = baseline[lanes[first + j]].data();
        }
        ArplsLanes<K>(y[lanes[first]].size(), ys, bs, params);
    };
    std::vector<bool> done(grids.size());
    for (std::size_t g = 0; g < grids.size(); ++g) {
        if (done[g]) continue;
        std::vector<std::size_t> lanes{g};
        for (std::size_t h = g + 1; h < grids.size() && lanes.size() < kMostLanes; ++h)
            if (!done[h] && y[h].size() == y[g].size()) lanes.push_back(h);
        for (std::size_t l : lanes)
            done[l] = true;
        if (y[g].size() < 4) {
            for (std::size_t l : lanes)
                ArplsBaseline(y[l], baseline[l], params);
            continue;
        }
        std::size_t first = 0;
        for (; lanes.size() - first >= 4; first += 4)
            solve(lanes, first, std::integral_constant<std::size_t, 4>{});
        for (; lanes.size() - first >= 2; first += 2)
            solve(lanes, first, std::integral_constant<std::size_t, 2>{});
        for (; first < lanes.size(); ++first)
            solve(lanes, first, std::integral_constant<std::size_t, 1>{});
    }
    for (std::size_t g = 0; g < grids.size(); ++g)
        out[g] = ScaledDifference(grids[g], y[g], baseline[g]);
    return out;
}

GridSpectrum PrepareSpectrum(std::span<const double> x, std::span<const double> y) {
    return RemoveBaseline(ResampleToWholeWavenumbers(x, y));
}

GridSpectrum CompressedForComparison(GridSpectrum prepared) {
    for (float& v : prepared.values)
        v = CompressForComparison(v);
    return prepared;
}

} // namespace veltrane
