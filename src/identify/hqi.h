#pragma once

#include <cstdint>
#include <limits>
#include <memory>
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

// How far apart the bands that agree lie: over [first, last], each band of
// either side with a band of the other within kBandTolerance cm-1 counts its
// distance to the nearest such band, and the mean is weighted as the band
// agreement weighs them. Two samples of one material keep their bands within
// a cm-1 or two; a related material (another member of a solid solution, a
// polytype) often has every band there but a few cm-1 away, which the
// correlation and the agreement forgive and the verdict should not. Infinite
// when no band agrees.
double BandOffset(const BandList& a, const BandList& b, std::int32_t first, std::int32_t last);

// How many bands pair up one to one over [first, last]: a band of a and a
// band of b count once when each is the other's nearest (of two as near, the
// lower) and they lie within kBandTolerance cm-1. Many bands in place are
// evidence a score cannot give: the score of two samples of one material
// falls with their bands' relative heights, which crystal orientation and
// the instrument change, but a material that merely resembles the spectrum
// seldom has many bands where the spectrum has them.
std::size_t SharedBands(const BandList& a, const BandList& b, std::int32_t first, std::int32_t last);

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

// Where a search finds the full spectra of the entries it scores exactly,
// when the library keeps only their compact form in memory (the index on
// disk holds the rest).
class StoredSpectra {
public:
    virtual ~StoredSpectra() = default;
    // The comparison-form values stored under each key, in order; empty for
    // a key the store no longer has.
    virtual void fetch(const std::vector<std::int64_t>& keys, std::vector<std::vector<float>>& values) const = 0;
};

// The compact form a search scans every entry in: the mean of each run of
// kCoarseBlock grid points from the entry's start, in steps of 1/255 of the
// comparison form's peak. A quarter of the points at a quarter of the bytes
// each is what lets a search of 100,000 entries read 70 MB instead of a
// gigabyte; the best of them by this coarse score are then scored exactly.
constexpr std::size_t kCoarseBlock = 4;
constexpr float kCoarseSteps = 255.0f;
inline std::size_t CoarseCount(std::size_t count) {
    return (count + kCoarseBlock - 1) / kCoarseBlock;
}
std::vector<std::uint8_t> CoarseForm(const float* values, std::size_t count);

// How many entries a search scores exactly at full resolution: the best by
// the coarse score. A library no larger is scored exactly throughout.
constexpr std::size_t kExactCandidates = 500;

// The prepared entries of a search: for each its place on the grid, its
// compact form and its bands; the full values either in memory (add) or in
// a StoredSpectra (addStored).
class PreparedLibrary {
public:
    void clear();
    void reserve(std::size_t entries, std::size_t coarseBytes, std::size_t bands = 0);
    // An entry kept whole in memory; returns its index.
    std::size_t add(std::int32_t start, const float* values, std::size_t count);
    // An entry whose full values the store keeps under `key`.
    std::size_t addStored(std::int32_t start, std::size_t count, std::int64_t key, const std::uint8_t* coarse,
                          const BandList& bands);
    void dropLast();
    void setStore(std::shared_ptr<const StoredSpectra> store) { m_store = std::move(store); }

    std::size_t size() const { return m_starts.size(); }
    std::int32_t start(std::size_t i) const { return m_starts[i]; }
    std::size_t count(std::size_t i) const { return m_counts[i]; }
    // Full values held in memory, or nullptr for a stored entry.
    const float* values(std::size_t i) const {
        return m_valueOffsets[i + 1] > m_valueOffsets[i] ? m_values.data() + m_valueOffsets[i] : nullptr;
    }
    // The full values of entries from memory or the store; an entry the
    // store lost gets an empty vector.
    void fullValues(const std::vector<std::size_t>& entries, std::vector<std::vector<float>>& out) const;
    const std::uint8_t* coarse(std::size_t i) const { return m_coarse.data() + m_coarseOffsets[i]; }
    const std::int32_t* bandPositions(std::size_t i) const { return m_bandPositions.data() + m_bandOffsets[i]; }
    const float* bandWeights(std::size_t i) const { return m_bandWeights.data() + m_bandOffsets[i]; }
    std::size_t bandCount(std::size_t i) const { return m_bandOffsets[i + 1] - m_bandOffsets[i]; }
    std::size_t bytes() const;

private:
    std::vector<std::int32_t> m_starts;
    std::vector<std::uint32_t> m_counts;
    std::vector<std::int64_t> m_keys;
    std::vector<float> m_values;
    std::vector<std::size_t> m_valueOffsets{0};
    std::vector<std::uint8_t> m_coarse;
    std::vector<std::size_t> m_coarseOffsets{0};
    std::vector<std::int32_t> m_bandPositions;
    std::vector<float> m_bandWeights;
    std::vector<std::size_t> m_bandOffsets{0};
    std::shared_ptr<const StoredSpectra> m_store;
};

// An unknown as a search sees it. From a sensor whose pixels lie further
// apart than the library's bands are wide (the 256-pixel class spans about
// 100 cm-1 per pixel), a clean library entry would not resemble it at all;
// such an unknown keeps its pixel positions, and every entry is compared as
// those pixels would have recorded it.
struct UnknownSpectrum {
    GridSpectrum grid; // empty when the spectrum holds no usable signal
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
    // BandOffset of the unknown and the entry; NaN for an unknown from a
    // coarse sensor, whose pixels cannot place a band to a few cm-1.
    double bandOffset = std::numeric_limits<double>::quiet_NaN();
    // SharedBands of the unknown and the entry; 0 for a coarse unknown.
    std::size_t sharedBands = 0;
};

struct Ranking {
    // Best first; ties keep entry order. Every entry of a library of up to
    // kExactCandidates, else the kExactCandidates best by the coarse score,
    // each scored exactly.
    std::vector<RankedHit> hits;
    std::vector<std::size_t> tooFewPoints; // entries with fewer than kMinCommonPoints in common
};

// Scores the library against the unknown and keeps the best `top` (all
// that were scored exactly when 0).
Ranking RankLibrary(const GridSpectrum& unknown, const PreparedLibrary& library, SearchRange range,
                    std::size_t top = 0);
Ranking RankLibrary(const UnknownSpectrum& unknown, const PreparedLibrary& library, SearchRange range,
                    std::size_t top = 0);

} // namespace veltrane
