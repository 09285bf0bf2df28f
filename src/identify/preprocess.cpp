#include "identify/preprocess.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace veltrane {

namespace {

// Solves (W + lambda D'D) z = W y for the second-difference matrix D. The
// system is pentadiagonal and positive definite, so an LDL' factorisation in
// the band costs O(n) per solve; the buffers are reused across iterations.
struct PentadiagonalSolver {
    std::vector<double> d, l1, l2;

    void solve(std::span<const double> w, std::span<const double> y, double lambda, std::span<double> z) {
        const std::size_t n = y.size();
        d.resize(n);
        l1.resize(n);
        l2.resize(n);
        auto diag = [&](std::size_t i) {
            double p = (i == 0 || i == n - 1) ? 1.0 : (i == 1 || i == n - 2) ? 5.0 : 6.0;
            return w[i] + lambda * p;
        };
        auto off1 = [&](std::size_t i) { return lambda * ((i == 0 || i == n - 2) ? -2.0 : -4.0); };
        const double off2 = lambda;
        for (std::size_t i = 0; i < n; ++i) {
            double di = diag(i);
            if (i >= 1) di -= l1[i - 1] * l1[i - 1] * d[i - 1];
            if (i >= 2) di -= l2[i - 2] * l2[i - 2] * d[i - 2];
            d[i] = di;
            if (i + 1 < n) {
                double a = off1(i);
                if (i >= 1) a -= l2[i - 1] * d[i - 1] * l1[i - 1];
                l1[i] = a / di;
            }
            if (i + 2 < n) l2[i] = off2 / di;
        }
        for (std::size_t i = 0; i < n; ++i) {
            double v = w[i] * y[i];
            if (i >= 1) v -= l1[i - 1] * z[i - 1];
            if (i >= 2) v -= l2[i - 2] * z[i - 2];
            z[i] = v;
        }
        for (std::size_t i = 0; i < n; ++i)
            z[i] /= d[i];
        for (std::size_t i = n; i-- > 0;) {
            if (i + 1 < n) z[i] -= l1[i] * z[i + 1];
            if (i + 2 < n) z[i] -= l2[i] * z[i + 2];
        }
    }
};

} // namespace

void ArplsBaseline(std::span<const double> y, std::span<double> baseline, const BaselineParams& params) {
    const std::size_t n = y.size();
    if (n < 3) {
        std::copy(y.begin(), y.end(), baseline.begin());
        return;
    }
    std::vector<double> w(n, 1.0), next(n);
    PentadiagonalSolver solver;
    for (int iteration = 0; iteration < params.maxIterations; ++iteration) {
        solver.solve(w, y, params.lambda, baseline);
        double sum = 0.0, sumSq = 0.0;
        std::size_t negatives = 0;
        for (std::size_t i = 0; i < n; ++i) {
            double r = y[i] - baseline[i];
            if (r < 0.0) {
                sum += r;
                sumSq += r * r;
                ++negatives;
            }
        }
        // Nothing below the baseline any more: it already lies under every point.
        if (negatives < 2) break;
        double mean = sum / static_cast<double>(negatives);
        double sigma = std::sqrt(std::max(0.0, sumSq / static_cast<double>(negatives) - mean * mean));
        if (!(sigma > 0.0)) break;
        double change = 0.0, norm = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            double r = y[i] - baseline[i];
            // Points well above the noise of the negative residuals are
            // peaks and lose their weight; the logistic keeps it smooth.
            double t = 2.0 * (r - (2.0 * sigma - mean)) / sigma;
            next[i] = t > 700.0 ? 0.0 : 1.0 / (1.0 + std::exp(t));
            change += (next[i] - w[i]) * (next[i] - w[i]);
            norm += w[i] * w[i];
        }
        w.swap(next);
        if (std::sqrt(change) < params.ratio * std::sqrt(norm)) break;
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
