#include "measure/smoothing.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>

namespace veltrane {

namespace {

constexpr int kN = kSmoothWindow;
constexpr int kHalf = (kN - 1) / 2;
constexpr int kMaxK = kN - 1; // 20 coefficients at level 1

using Matrix = std::array<std::array<double, kN>, kN>;

// The projection onto polynomials with k coefficients over the 21 window
// positions: H = Q Q^T, where the columns of Q are the discrete orthonormal
// polynomials of degree 0 .. k-1 on those positions. Row p of H holds the
// weights that give the least-squares polynomial's value at position p.
//
// The polynomials come from the three-term recurrence on the positions
// scaled to [-1, 1], each re-orthogonalised against all before it. Unlike
// inverting the normal matrix, this stays accurate to double precision up
// to degree 19, so every polynomial of the filter's degree passes through
// unchanged.
Matrix ProjectionFor(int k) {
    std::array<std::array<double, kN>, kMaxK> q{};
    std::array<double, kN> t{};
    for (int j = 0; j < kN; ++j) t[j] = static_cast<double>(j - kHalf) / kHalf;
    auto dot = [](const std::array<double, kN>& a, const std::array<double, kN>& b) {
        double sum = 0.0;
        for (int j = 0; j < kN; ++j) sum += a[j] * b[j];
        return sum;
    };
    auto normalise = [&](std::array<double, kN>& v) {
        double norm = std::sqrt(dot(v, v));
        for (double& x : v) x /= norm;
    };
    for (int c = 0; c < k; ++c) {
        std::array<double, kN> v{};
        if (c == 0) v.fill(1.0);
        else
            for (int j = 0; j < kN; ++j) v[j] = t[j] * q[c - 1][j];
        for (int pass = 0; pass < 2; ++pass) {
            for (int prev = 0; prev < c; ++prev) {
                double along = dot(v, q[prev]);
                for (int j = 0; j < kN; ++j) v[j] -= along * q[prev][j];
            }
        }
        normalise(v);
        q[c] = v;
    }
    Matrix h{};
    for (int p = 0; p < kN; ++p)
        for (int j = 0; j < kN; ++j) {
            double sum = 0.0;
            for (int c = 0; c < k; ++c) sum += q[c][p] * q[c][j];
            h[p][j] = sum;
        }
    return h;
}

// One projection per coefficient count, computed on first use.
const Matrix& Projection(int k) {
    static std::array<Matrix, kMaxK + 1> cache;
    static std::array<std::once_flag, kMaxK + 1> done;
    std::call_once(done[k], [k] { cache[k] = ProjectionFor(k); });
    return cache[k];
}

float Apply(const double* weights, const float* inputs) {
    double sum = 0.0;
    for (int j = 0; j < kN; ++j) sum += weights[j] * static_cast<double>(inputs[j]);
    return static_cast<float>(sum);
}

} // namespace

std::uint8_t SmoothCoefficients(int level) {
    level = std::clamp(level, 0, kMaxSmoothLevel);
    return level == 0 ? 1 : static_cast<std::uint8_t>(22 - 2 * level);
}

const double* SmoothWeights(std::uint8_t k, int position) {
    return Projection(std::clamp<int>(k, 1, kMaxK))[std::clamp(position, 0, kN - 1)].data();
}

void SmoothSpectrum(std::uint8_t k, std::uint8_t n, const float* input, float* output, std::size_t count) {
    // Any other window than the 21 points the program uses, a level of 0, or
    // a spectrum too short to hold one window: the input stands as it is.
    if (n != kN || k <= 1 || k > kMaxK || count < static_cast<std::size_t>(kN)) {
        std::copy_n(input, count, output);
        return;
    }
    const Matrix& h = Projection(k);
    for (std::size_t i = kHalf; i < count - kHalf; ++i)
        output[i] = Apply(h[kHalf].data(), input + i - kHalf);
    for (std::size_t i = 0; i < static_cast<std::size_t>(kHalf); ++i) {
        output[i] = Apply(h[i].data(), input);
        output[count - kHalf + i] = Apply(h[kHalf + 1 + i].data(), input + count - kN);
    }
}

} // namespace veltrane
