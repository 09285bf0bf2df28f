#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "identify/preprocess.h"

namespace veltrane {

// The Raman shifts a search compares, in cm-1, both ends included. By
// default everything from 100 cm-1 up that both spectra cover: most of a
// mineral's bands lie below 400 cm-1, and below 100 cm-1 the laser line's
// filter edge is all that is left to see.
constexpr std::int32_t kLowestComparedShift = 100;
constexpr std::int32_t kHighestShift = 1000000;
struct SearchRange {
    std::int32_t low = kLowestComparedShift;
    std::int32_t high = kHighestShift;
};
// An entry sharing fewer grid points than this with the unknown is not ranked.
constexpr std::int32_t kMinCommonPoints = 200;

// "LO:HI" with whole or decimal numbers, LO below HI; decimals are rounded
// to the grid inward.
std::optional<SearchRange> ParseSearchRange(const std::string& text);

// The bands of a spectrum in comparison form: the local maxima of its
// intensity (smoothed over a few cm-1 against noise) that stand out from
// their surroundings by kBandProminence of the largest value, each weighted
// by its height in comparison form. Positions ascend.
struct BandList {
    std::vector<std::int32_t> positions;
    std::vector<float> weights;
};
constexpr double kBandProminence = 0.02;
BandList FindBands(std::int32_t start, const float* values, std::size_t count);

// How well two spectra's bands agree over [first, last]: the share of each
// side's band weight that has a band of the other within kBandTolerance
// cm-1, averaged over both sides; 0 when either has no band there.
constexpr std::int32_t kBandTolerance = 6;
double BandAgreement(const BandList& a, const BandList& b, std::int32_t first, std::int32_t last);

// The HQI weighs band agreement against the correlation of the whole
// spectra: a band moved by a few cm-1 between two samples or instruments
// costs the correlation dearly but keeps its agreement.
constexpr double kBandAgreementWeight = 0.2;

// Hit quality index of two spectra in comparison form over the grid points
// both have inside `range`: 100 times the square of the correlation
// coefficient combined with the band agreement (0.8 and 0.2), and 0 when
// they are anti-correlated (a spectrum upside down is not the same
// material). `common` receives the number of such points; below
// kMinCommonPoints, or when either side is flat there, the result is empty.
std::optional<double> HitQualityIndex(const GridSpectrum& unknown, const GridSpectrum& entry, SearchRange range,
                                      std::int32_t* common = nullptr);

// The prepared entries of a search, packed into one buffer so a ranking
// walks memory once.
class PreparedLibrary {
public:
    void clear();
    void reserve(std::size_t entries, std::size_t values);
    // Returns the entry's index.
    std::size_t add(std::int32_t start, const float* values, std::size_t count);
    // Room for an entry's values, filled by the caller; dropLast takes the
    // last entry back (a reader that finds it unsound half way).
    float* append(std::int32_t start, std::size_t count);
    void dropLast();
    std::size_t size() const { return m_starts.size(); }
    std::int32_t start(std::size_t i) const { return m_starts[i]; }
    std::size_t count(std::size_t i) const { return m_offsets[i + 1] - m_offsets[i]; }
    const float* values(std::size_t i) const { return m_values.data() + m_offsets[i]; }
    std::size_t bytes() const;

private:
    std::vector<float> m_values;
    std::vector<std::size_t> m_offsets{0};
    std::vector<std::int32_t> m_starts;
};

// An unknown as a search sees it. From a sensor whose pixels lie further
// apart than the library's bands are wide (the 256-pixel class spans about
// 100 cm-1 per pixel), a clean library entry would not resemble it at all;
// such an unknown keeps its pixel positions, and every entry is compared as
// those pixels would have recorded it.
struct UnknownSpectrum {
    GridSpectrum grid;
    std::vector<double> pixels; // sorted pixel shifts when coarse, else empty
    BandList bands;             // of the grid; a coarse unknown has none worth comparing
};
// Median pixel spacing above which an unknown counts as coarse, in cm-1.
constexpr double kCoarseSpacing = 4.0;
// The unknown prepared and in comparison form.
UnknownSpectrum PrepareUnknown(std::span<const double> x, std::span<const double> y);

// An entry (in comparison form) as the given pixels would record it: each
// pixel the mean of the entry's intensity over its share of the axis, then
// back onto whole wavenumbers, in comparison form again.
GridSpectrum ThroughPixels(std::int32_t start, const float* values, std::size_t count,
                           const std::vector<double>& pixels);

struct RankedHit {
    std::size_t entry = 0;
    double hqi = 0.0;
};

struct Ranking {
    std::vector<RankedHit> hits;           // best first; ties keep entry order
    std::vector<std::size_t> tooFewPoints; // entries with fewer than kMinCommonPoints in common
};

// Scores every entry against the unknown and keeps the best `top` (all when
// 0). The correlation is taken for every entry; the bands, which cost more,
// only for the entries whose correlation leaves them a chance of the top.
Ranking RankLibrary(const GridSpectrum& unknown, const PreparedLibrary& library, SearchRange range,
                    std::size_t top = 0);
Ranking RankLibrary(const UnknownSpectrum& unknown, const PreparedLibrary& library, SearchRange range,
                    std::size_t top = 0);

} // namespace veltrane
