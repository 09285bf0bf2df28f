#pragma once

#include <cstddef>
#include <cstdint>

namespace veltrane {

constexpr int kSmoothWindow = 21;
constexpr int kMaxSmoothLevel = 10;

// Number of polynomial coefficients of a smoothing level: 22 - 2 x level for
// levels 1 to 10 (a straight line at 10), 1 (a plain copy) at level 0.
std::uint8_t SmoothCoefficients(int level);

// Least-squares polynomial smoothing over an n-point window (n is 21): every
// output point is the value at its own position of the polynomial with k
// coefficients fitted to 21 neighbouring inputs, centred in the interior and
// the first or last 21 inputs for the ten points at either end. k = 1, n = 0
// or fewer than n points copy the input.
void SmoothSpectrum(std::uint8_t k, std::uint8_t n, const float* input, float* output, std::size_t count);

// The weights of the fitted polynomial's value at window position p (0..n-1)
// for each of the n inputs, for k coefficients and n = 21.
const double* SmoothWeights(std::uint8_t k, int position);

} // namespace veltrane
