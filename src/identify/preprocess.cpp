#include "identify/preprocess.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace veltrane {

namespace {

// Solves (W + lambda D'D) z = W y for the second-difference matrix D. The
// system is pentadiagonal and positive definite, so an LDL' factorisation in
// the band costs O(n) per solve; factorisation and forward substitution run
// in one pass. The arrays carry two zero entries in front so the first rows
// need no branches, and are reused across iterations.
class PentadiagonalSolver {
public:
    PentadiagonalSolver(std::size_t n, double lambda) : m_n(n), m_p0(n), m_p1(n), m_d(n + 2), m_l1(n + 2), m_l2(n + 2) {
        // Band of lambda D'D: 1 5 6 ... 6 5 1 on the diagonal, -2 -4 ... -4 -2
        // beside it, 1 two places out.
        for (std::size_t i = 0; i < n; ++i) {
            double diag = (i == 0 || i == n - 1) ? 1.0 : (i == 1 || i == n - 2) ? 5.0 : 6.0;
            m_p0[i] = lambda * diag;
            m_p1[i] = i + 1 < n ? lambda * ((i == 0 || i == n - 2) ? -2.0 : -4.0) : 0.0;
        }
        m_lambda = lambda;
    }

    void solve(const double* w, const double* y, double* z) {
        const std::size_t n = m_n;
        // Row i of the factors lives at k = i + 2; rows -1 and -2 are zero
        // factors over a unit pivot.
        double* d = m_d.data();
        double* l1 = m_l1.data();
        double* l2 = m_l2.data();
        l1[0] = l1[1] = l2[0] = l2[1] = 0.0;
        d[0] = d[1] = 1.0;
        double zPrev1 = 0.0, zPrev2 = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t k = i + 2;
            double di = w[i] + m_p0[i] - l1[k - 1] * l1[k - 1] * d[k - 1] - l2[k - 2] * l2[k - 2] * d[k - 2];
            double inv = 1.0 / di;
            d[k] = di;
            l1[k] = (m_p1[i] - l2[k - 1] * d[k - 1] * l1[k - 1]) * inv;
            l2[k] = i + 2 < n ? m_lambda * inv : 0.0;
            double zi = w[i] * y[i] - l1[k - 1] * zPrev1 - l2[k - 2] * zPrev2;
            z[i] = zi;
            zPrev2 = zPrev1;
            zPrev1 = zi;
        }
        double next1 = 0.0, next2 = 0.0;
        for (std::size_t i = n; i-- > 0;) {
            const std::size_t k = i + 2;
            double zi = z[i] / d[k] - l1[k] * next1 - l2[k] * next2;
            z[i] = zi;
            next2 = next1;
            next1 = zi;
        }
    }

private:
    std::size_t m_n;
    double m_lambda = 0.0;
    std::vector<double> m_p0, m_p1, m_d, m_l1, m_l2;
};

} // namespace

void ArplsBaseline(std::span<const double> y, std::span<double> baseline, const BaselineParams& params) {
    const std::size_t n = y.size();
    if (n < 4) {
        std::copy(y.begin(), y.end(), baseline.begin());
        return;
    }
    std::vector<double> w(n, 1.0);
    PentadiagonalSolver solver(n, params.lambda);
    for (int iteration = 0; iteration < params.maxIterations; ++iteration) {
        solver.solve(w.data(), y.data(), baseline.data());
        double sum = 0.0, sumSq = 0.0;
        std::size_t negatives = 0;
        for (std::size_t i = 0; i < n; ++i) {
            double r = y[i] - baseline[i];
            bool below = r < 0.0;
            sum += below ? r : 0.0;
            sumSq += below ? r * r : 0.0;
            negatives += below;
        }
        // Nothing below the baseline any more: it already lies under every point.
        if (negatives < 2) break;
        double mean = sum / static_cast<double>(negatives);
        double sigma = std::sqrt(std::max(0.0, sumSq / static_cast<double>(negatives) - mean * mean));
        if (!(sigma > 0.0)) break;
        // Points well above the noise of the negative residuals are peaks
        // and lose their weight; the logistic keeps the change smooth.
        const double scale = 2.0 / sigma;
        const double offset = 2.0 * sigma - mean;
        double change = 0.0, norm = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            // Single precision is ample for a weight and twice as quick.
            float t = static_cast<float>(std::min((y[i] - baseline[i] - offset) * scale, 80.0));
            double next = 1.0 / (1.0 + static_cast<double>(std::exp(t)));
            change += (next - w[i]) * (next - w[i]);
            norm += w[i] * w[i];
            w[i] = next;
        }
        if (change < params.ratio * params.ratio * norm) break;
    }
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
    GridSpectrum out;
    out.start = grid.start;
    out.values.resize(y.size());
    double peak = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i)
        peak = std::max(peak, std::abs(y[i] - baseline[i]));
    double scale = peak > 0.0 ? 1.0 / peak : 1.0;
    for (std::size_t i = 0; i < y.size(); ++i)
        out.values[i] = static_cast<float>((y[i] - baseline[i]) * scale);
    if (baselineOut) *baselineOut = std::move(baseline);
    return out;
}

GridSpectrum PrepareSpectrum(std::span<const double> x, std::span<const double> y) {
    return RemoveBaseline(ResampleToWholeWavenumbers(x, y));
}

} // namespace veltrane
