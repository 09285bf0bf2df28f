#pragma once

#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

namespace veltrane {

// A spectrum on whole wavenumbers: value k belongs to Raman shift start + k.
struct GridSpectrum {
    std::int32_t start = 0;
    std::vector<float> values;
    std::int32_t end() const { return start + static_cast<std::int32_t>(values.size()); }
};

// Asymmetrically reweighted penalised least squares (arPLS, Baek et al. 2015),
// the refinement of Eilers and Boelens' asymmetric least squares that needs
// no asymmetry parameter. `lambda` is the smoothness of the baseline on a
// 1 cm-1 grid; iteration stops when the weights change by less than `ratio`
// (relative norm) or after `maxIterations` solves.
struct BaselineParams {
    double lambda = 1e6;
    double ratio = 0.01;
    int maxIterations = 30;
};

// The baseline of `y` into `baseline` (same length). Fewer than 3 points
// leave the baseline equal to y.
void ArplsBaseline(std::span<const double> y, std::span<double> baseline, const BaselineParams& params = {});

// Linear interpolation of (x, y) onto every whole wavenumber between the
// smallest and largest finite x. Points need not be in order; points with a
// non-finite x or y are left out. Empty when fewer than two points remain.
GridSpectrum ResampleToWholeWavenumbers(std::span<const double> x, std::span<const double> y);

// The baseline-removed spectrum of the grid, scaled so its largest
// magnitude is 1: the form both an unknown and a library entry are compared
// in, rounded to steps of 1/kPreparedSteps. `baselineOut`, when given,
// receives the baseline before scaling. The values are empty when nothing
// stands above the baseline by more than kSignalFloor of the spectrum's
// largest magnitude (a constant, a straight line, all zeros) or the
// spectrum overflows: such a spectrum has no signal to compare.
constexpr double kSignalFloor = 1e-6;
GridSpectrum RemoveBaseline(const GridSpectrum& grid, const BaselineParams& params = {},
                            std::vector<double>* baselineOut = nullptr);

// RemoveBaseline of several grids; those of one length are solved side by
// side, which is quicker than one after another and gives identical results.
std::vector<GridSpectrum> RemoveBaselines(std::span<const GridSpectrum> grids, const BaselineParams& params = {});

// Prepared spectra are rounded to steps of 1/kPreparedSteps (16-bit
// integers), the form the index stores them in.
constexpr double kPreparedSteps = 32767.0;
std::int16_t QuantizePrepared(double value);
inline float DequantizePrepared(std::int16_t q) {
    return static_cast<float>(q) * static_cast<float>(1.0 / kPreparedSteps);
}

// Resampling and baseline removal together.
GridSpectrum PrepareSpectrum(std::span<const double> x, std::span<const double> y);

// The form spectra are compared in: the square root of the prepared value,
// what lies below the baseline taken as 0. Real spectra of one material
// differ most in their bands' relative heights (crystal orientation, grain
// size, the instrument's response), so the root keeps the strongest band
// from deciding the score alone; it is applied to the stored 16-bit values,
// so an unknown and an entry made of the same spectrum still agree exactly.
inline float CompressForComparison(float prepared) {
    return prepared > 0.0f ? std::sqrt(prepared) : 0.0f;
}
GridSpectrum CompressedForComparison(GridSpectrum prepared);

} // namespace veltrane
