#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "sim/sim_model.h"

namespace veltrane::test {

// Synthetic Raman materials for identification tests: band lists drawn from
// a seeded generator, clean library curves, and "measured" unknowns with the
// band drift, fluorescence and noise a portable instrument adds.
struct SyntheticBand {
    double position; // cm-1
    double height;   // strongest band of a material is 1
    double width;    // full width at half maximum, cm-1
    double gaussian; // Voigt mix: 0 pure Lorentzian .. 1 pure Gaussian
};

using SyntheticMaterial = std::vector<SyntheticBand>;

inline SyntheticMaterial MakeSyntheticMaterial(std::mt19937_64& rng) {
    std::uniform_int_distribution<int> count(5, 30);
    std::uniform_real_distribution<double> position(200.0, 3200.0), height(0.05, 1.0), width(4.0, 20.0), unit(0.0, 1.0);
    SyntheticMaterial bands(static_cast<std::size_t>(count(rng)));
    for (SyntheticBand& b : bands) {
        b.position = position(rng);
        b.height = height(rng);
        b.width = width(rng);
        // Half the materials have pure Lorentzian bands, the rest a pseudo-Voigt mix.
        b.gaussian = unit(rng) < 0.5 ? 0.0 : unit(rng);
    }
    double top = 0.0;
    for (const SyntheticBand& b : bands)
        top = std::max(top, b.height);
    for (SyntheticBand& b : bands)
        b.height /= top;
    return bands;
}

inline double SyntheticIntensity(const SyntheticMaterial& bands, double shift) {
    double sum = 0.0;
    for (const SyntheticBand& b : bands) {
        double d = (shift - b.position) / (0.5 * b.width);
        double lorentz = 1.0 / (1.0 + d * d);
        double gauss = std::exp(-std::log(2.0) * d * d);
        sum += b.height * ((1.0 - b.gaussian) * lorentz + b.gaussian * gauss);
    }
    return sum;
}

// Mean intensity over [lo, hi]: what a pixel covering that stretch of the
// axis records. Integrated in closed form (arctan for the Lorentzian part,
// erf for the Gaussian), so coarse pixels see narrow bands as they would.
inline double SyntheticPixelMean(const SyntheticMaterial& bands, double lo, double hi) {
    if (!(hi > lo)) return SyntheticIntensity(bands, lo);
    const double ln2 = std::log(2.0);
    double sum = 0.0;
    for (const SyntheticBand& b : bands) {
        double h = 0.5 * b.width;
        double a = (lo - b.position) / h, z = (hi - b.position) / h;
        double lorentz = h * (std::atan(z) - std::atan(a));
        double gauss = h * 0.5 * std::sqrt(M_PI / ln2) * (std::erf(std::sqrt(ln2) * z) - std::erf(std::sqrt(ln2) * a));
        sum += b.height * ((1.0 - b.gaussian) * lorentz + b.gaussian * gauss);
    }
    return sum / (hi - lo);
}

// The same material as another sample and another instrument show it:
// heights +-20 %, positions +-3 cm-1, widths +-20 %.
inline SyntheticMaterial PerturbMaterial(const SyntheticMaterial& bands, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> scale(0.8, 1.2), shift(-3.0, 3.0);
    SyntheticMaterial out = bands;
    for (SyntheticBand& b : out) {
        b.height *= scale(rng);
        b.position += shift(rng);
        b.width *= scale(rng);
    }
    return out;
}

// Raman shifts of a sensor's valid pixels: its optics polynomial in nm over
// the pixel index, seen from its laser.
inline std::vector<double> SensorShiftAxis(const SimModel& model) {
    std::vector<double> axis(model.pixelCount());
    for (std::size_t j = 0; j < axis.size(); ++j) {
        double x = static_cast<double>(j), lambda = 0.0, power = 1.0;
        for (double c : model.optics) {
            lambda += c * power;
            power *= x;
        }
        axis[j] = 1e7 / model.laserNm - 1e7 / lambda;
    }
    return axis;
}

// Counts on `axis` for the material with a smooth fluorescence background
// (a broad Gaussian and a slope, peaking at up to `maxBackground` times the
// strongest band), shot noise and read noise, scaled so the strongest band
// stands `snr` times above the noise at its top.
inline std::vector<double> MeasureSynthetic(const SyntheticMaterial& bands, const std::vector<double>& axis,
                                            double maxBackground, double snr, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    double amount = maxBackground * unit(rng);
    double centre = 500.0 + 3000.0 * unit(rng);
    double sigma = 800.0 + 2500.0 * unit(rng);
    double slope = unit(rng) - 0.5;
    std::vector<double> background(axis.size());
    double bgTop = 0.0;
    for (std::size_t i = 0; i < axis.size(); ++i) {
        double g = std::exp(-0.5 * std::pow((axis[i] - centre) / sigma, 2));
        background[i] = g + 0.3 * slope * (axis[i] - 1700.0) / 1500.0 + 0.5;
        bgTop = std::max(bgTop, background[i]);
    }
    for (double& b : background)
        b = std::max(0.0, b) * (bgTop > 0.0 ? amount / bgTop : 0.0);
    constexpr double kReadNoise = 5.0;
    double b = amount;
    double peak = 0.5 * (snr * snr * (1.0 + b) +
                         std::sqrt(std::pow(snr * snr * (1.0 + b), 2) + 4.0 * snr * snr * kReadNoise * kReadNoise));
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<double> counts(axis.size());
    for (std::size_t i = 0; i < axis.size(); ++i) {
        // Each pixel reaches halfway to its neighbours.
        double lo = i > 0 ? 0.5 * (axis[i - 1] + axis[i]) : axis[i] - 0.5 * (axis[1] - axis[0]);
        double hi = i + 1 < axis.size() ? 0.5 * (axis[i] + axis[i + 1]) : axis[i] + 0.5 * (axis[i] - axis[i - 1]);
        double mean = peak * (SyntheticPixelMean(bands, std::min(lo, hi), std::max(lo, hi)) + background[i]);
        counts[i] = mean + std::sqrt(std::max(mean, 0.0)) * normal(rng) + kReadNoise * normal(rng);
    }
    return counts;
}

} // namespace veltrane::test
