#include "identify/hqi.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <thread>
#include <tuple>

#include "platform/memory_advice.h"

namespace veltrane {

namespace {

struct Sums {
    double u = 0, uu = 0, l = 0, ll = 0, ul = 0;
};

// Float sums in eight independent lanes: the compiler vectorises them, and
// the spectra are scaled to a peak of 1, so float keeps ample precision
// over a few thousand points. Identical inputs give identical sums, which
// is what makes an entry against itself score exactly 100.
Sums SumProducts(const float* u, const float* l, std::size_t n) {
    constexpr std::size_t kLanes = 8;
    float su[kLanes] = {}, suu[kLanes] = {}, sl[kLanes] = {}, sll[kLanes] = {}, sul[kLanes] = {};
    std::size_t i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        for (std::size_t k = 0; k < kLanes; ++k) {
            float a = u[i + k], b = l[i + k];
            su[k] += a;
            suu[k] += a * a;
            sl[k] += b;
            sll[k] += b * b;
            sul[k] += a * b;
        }
    }
    Sums s;
    for (std::size_t k = 0; k < kLanes; ++k) {
        s.u += su[k];
        s.uu += suu[k];
        s.l += sl[k];
        s.ll += sll[k];
        s.ul += sul[k];
    }
    for (; i < n; ++i) {
        double a = u[i], b = l[i];
        s.u += a;
        s.uu += a * a;
        s.l += b;
        s.ll += b * b;
        s.ul += a * b;
    }
    return s;
}

struct BandView {
    const std::int32_t* positions = nullptr;
    const float* weights = nullptr;
    std::size_t count = 0;
};

BandView ViewOf(const BandList& bands) {
    return {bands.positions.data(), bands.weights.data(), bands.positions.size()};
}

// The share of a's band weight inside [first, last] that has a band of b
// within the tolerance; both lists ascend. Total weight into `total`.
double MatchedShare(const BandView& a, const BandView& b, std::int32_t first, std::int32_t last, double& total) {
    double matched = 0.0;
    total = 0.0;
    std::size_t j = 0;
    while (j < b.count && b.positions[j] < first)
        ++j;
    for (std::size_t i = 0; i < a.count; ++i) {
        std::int32_t x = a.positions[i];
        if (x < first) continue;
        if (x > last) break;
        total += a.weights[i];
        while (j < b.count && b.positions[j] < x - kBandTolerance)
            ++j;
        if (j < b.count && b.positions[j] <= std::min(x + kBandTolerance, last)) matched += a.weights[i];
    }
    return matched;
}

double Agreement(const BandView& a, const BandView& b, std::int32_t first, std::int32_t last) {
    double totalA = 0.0, totalB = 0.0;
    double matchedA = MatchedShare(a, b, first, last, totalA);
    double matchedB = MatchedShare(b, a, first, last, totalB);
    if (!(totalA > 0.0) || !(totalB > 0.0)) return 0.0;
    return 0.5 * (matchedA / totalA + matchedB / totalB);
}

// The weighted distances from a's bands inside [first, last] to the nearest
// band of b within the tolerance, added to `distance` and `weight`. Its walk
// repeats MatchedShare's on purpose: folded into one walk with a callback,
// the agreement on the search's hot path got slower (ranking 100,000 entries
// took 35 ms instead of 25).
void AddNearestDistances(const BandView& a, const BandView& b, std::int32_t first, std::int32_t last, double& distance,
                         double& weight) {
    std::size_t j = 0;
    while (j < b.count && b.positions[j] < first)
        ++j;
    for (std::size_t i = 0; i < a.count; ++i) {
        std::int32_t x = a.positions[i];
        if (x < first) continue;
        if (x > last) break;
        while (j < b.count && b.positions[j] < x - kBandTolerance)
            ++j;
        std::int32_t nearest = kBandTolerance + 1;
        for (std::size_t k = j; k < b.count && b.positions[k] <= std::min(x + kBandTolerance, last); ++k)
            nearest = std::min(nearest, std::abs(b.positions[k] - x));
        if (nearest <= kBandTolerance) {
            distance += a.weights[i] * static_cast<double>(nearest);
            weight += a.weights[i];
        }
    }
}

double Offset(const BandView& a, const BandView& b, std::int32_t first, std::int32_t last) {
    double distance = 0.0, weight = 0.0;
    AddNearestDistances(a, b, first, last, distance, weight);
    AddNearestDistances(b, a, first, last, distance, weight);
    return weight > 0.0 ? distance / weight : std::numeric_limits<double>::infinity();
}

// The band of v nearest to x among [lo, hi) (positions ascending), the lower
// of two as near; hi when the span is empty.
std::size_t Nearest(const BandView& v, std::size_t lo, std::size_t hi, std::int32_t x) {
    if (lo >= hi) return hi;
    std::size_t k = static_cast<std::size_t>(std::lower_bound(v.positions + lo, v.positions + hi, x) - v.positions);
    if (k == hi) return hi - 1;
    if (k == lo) return lo;
    return x - v.positions[k - 1] <= v.positions[k] - x ? k - 1 : k;
}

std::size_t Shared(const BandView& a, const BandView& b, std::int32_t first, std::int32_t last) {
    auto span = [&](const BandView& v) {
        auto lo = std::lower_bound(v.positions, v.positions + v.count, first) - v.positions;
        auto hi = std::upper_bound(v.positions, v.positions + v.count, last) - v.positions;
        return std::pair<std::size_t, std::size_t>(static_cast<std::size_t>(lo), static_cast<std::size_t>(hi));
    };
    auto [aLo, aHi] = span(a);
    auto [bLo, bHi] = span(b);
    if (bLo >= bHi) return 0;
    std::size_t shared = 0;
    for (std::size_t i = aLo; i < aHi; ++i) {
        std::size_t j = Nearest(b, bLo, bHi, a.positions[i]);
        if (std::abs(b.positions[j] - a.positions[i]) <= kBandTolerance && Nearest(a, aLo, aHi, b.positions[j]) == i)
            ++shared;
    }
    return shared;
}

// `bands` null compares the spectra alone (an unknown from a coarse sensor,
// whose pixels blur band positions beyond any tolerance).
std::optional<double> Score(const float* u, std::int32_t uStart, std::int32_t uEnd, const float* l, std::int32_t lStart,
                            std::int32_t lEnd, SearchRange range, std::int32_t& common, const BandView* uBands,
                            const BandView* lBands) {
    std::int32_t first = std::max({uStart, lStart, range.low});
    std::int32_t end = std::min({uEnd, lEnd, range.high + 1});
    common = std::max(0, end - first);
    if (common < kMinCommonPoints) return std::nullopt;
    Sums s = SumProducts(u + (first - uStart), l + (first - lStart), static_cast<std::size_t>(common));
    double n = common;
    double cov = s.ul - s.u * s.l / n;
    double vu = s.uu - s.u * s.u / n;
    double vl = s.ll - s.l * s.l / n;
    if (!(vu > 0.0) || !(vl > 0.0)) return std::nullopt;
    if (!(cov > 0.0)) return 0.0;
    double r = cov / std::sqrt(vu * vl);
    if (uBands && lBands)
        r = (r + kBandAgreementWeight * Agreement(*uBands, *lBands, first, end - 1)) / (1.0 + kBandAgreementWeight);
    // Rounding cannot make a correlation exceed 1 by more than a hair, and
    // a score above 100 would only confuse.
    return 100.0 * std::min(r * r, 1.0);
}

bool ParseNumber(const std::string& text, double& value) {
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

} // namespace

std::optional<SearchRange> ParseSearchRange(const std::string& text) {
    std::size_t colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    double low = 0, high = 0;
    if (!ParseNumber(text.substr(0, colon), low) || !ParseNumber(text.substr(colon + 1), high)) return std::nullopt;
    if (!(low < high) || std::abs(low) > 1e6 || std::abs(high) > 1e6) return std::nullopt;
    SearchRange range{static_cast<std::int32_t>(std::ceil(low)), static_cast<std::int32_t>(std::floor(high))};
    if (range.high < range.low) return std::nullopt;
    return range;
}

BandList FindBands(std::int32_t start, const float* values, std::size_t count) {
    BandList bands;
    if (count < 3) return bands;
    // Intensity, smoothed by a Gaussian of 1.5 cm-1 so that noise does not
    // split a band into several maxima; near the ends the kernel is cut
    // and renormalised.
    constexpr int kRadius = 6;
    constexpr double kSigma = 1.5;
    double kernel[2 * kRadius + 1];
    for (int k = -kRadius; k <= kRadius; ++k)
        kernel[k + kRadius] = std::exp(-0.5 * (k / kSigma) * (k / kSigma));
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(count);
    std::vector<double> s(count);
    double top = 0.0;
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        double sum = 0.0, weight = 0.0;
        for (std::ptrdiff_t k = std::max<std::ptrdiff_t>(-kRadius, -i); k <= kRadius && i + k < n; ++k) {
            double v = values[i + k];
            sum += kernel[k + kRadius] * v * v;
            weight += kernel[k + kRadius];
        }
        s[static_cast<std::size_t>(i)] = sum / weight;
        top = std::max(top, s[static_cast<std::size_t>(i)]);
    }
    if (!(top > 0.0)) return bands;
    // Prominence as topographers define it: the height above the higher of
    // the two lowest points on the way, left and right, to higher ground
    // (or the end). The nearest higher points come from a stack, the
    // lowest between from a sparse table, so a noisy spectrum with a
    // thousand maxima costs no more than a clean one.
    std::vector<std::ptrdiff_t> higherLeft(count), higherRight(count), stack;
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        while (!stack.empty() && s[static_cast<std::size_t>(stack.back())] <= s[static_cast<std::size_t>(i)])
            stack.pop_back();
        higherLeft[static_cast<std::size_t>(i)] = stack.empty() ? -1 : stack.back();
        stack.push_back(i);
    }
    stack.clear();
    for (std::ptrdiff_t i = n - 1; i >= 0; --i) {
        while (!stack.empty() && s[static_cast<std::size_t>(stack.back())] <= s[static_cast<std::size_t>(i)])
            stack.pop_back();
        higherRight[static_cast<std::size_t>(i)] = stack.empty() ? n : stack.back();
        stack.push_back(i);
    }
    std::vector<std::vector<double>> lowest{s};
    for (std::size_t width = 2; width <= count; width *= 2) {
        const std::vector<double>& prev = lowest.back();
        std::vector<double> next(count - width + 1);
        for (std::size_t i = 0; i < next.size(); ++i)
            next[i] = std::min(prev[i], prev[i + width / 2]);
        lowest.push_back(std::move(next));
    }
    auto lowestIn = [&](std::ptrdiff_t a, std::ptrdiff_t b) { // both ends included, a <= b
        std::size_t len = static_cast<std::size_t>(b - a + 1);
        std::size_t level = static_cast<std::size_t>(std::bit_width(len) - 1);
        return std::min(lowest[level][static_cast<std::size_t>(a)],
                        lowest[level][static_cast<std::size_t>(b) + 1 - (std::size_t{1} << level)]);
    };
    const double minimum = kBandProminence * top;
    for (std::ptrdiff_t i = 1; i + 1 < n;) {
        if (!(s[static_cast<std::size_t>(i)] > s[static_cast<std::size_t>(i - 1)])) {
            ++i;
            continue;
        }
        // A flat top counts once, at its middle.
        std::ptrdiff_t j = i;
        while (j + 1 < n && s[static_cast<std::size_t>(j + 1)] == s[static_cast<std::size_t>(i)])
            ++j;
        if (j + 1 < n && s[static_cast<std::size_t>(j + 1)] < s[static_cast<std::size_t>(i)]) {
            std::ptrdiff_t peak = (i + j) / 2;
            double height = s[static_cast<std::size_t>(peak)];
            double left = lowestIn(higherLeft[static_cast<std::size_t>(i)] + 1, i);
            double right = lowestIn(j, higherRight[static_cast<std::size_t>(j)] - 1);
            if (height - std::max(left, right) >= minimum) {
                bands.positions.push_back(start + static_cast<std::int32_t>(peak));
                bands.weights.push_back(static_cast<float>(std::sqrt(height / top)));
            }
        }
        i = j + 1;
    }
    return bands;
}

double BandAgreement(const BandList& a, const BandList& b, std::int32_t first, std::int32_t last) {
    return Agreement(ViewOf(a), ViewOf(b), first, last);
}

double BandOffset(const BandList& a, const BandList& b, std::int32_t first, std::int32_t last) {
    return Offset(ViewOf(a), ViewOf(b), first, last);
}

std::size_t SharedBands(const BandList& a, const BandList& b, std::int32_t first, std::int32_t last) {
    return Shared(ViewOf(a), ViewOf(b), first, last);
}

std::optional<double> HitQualityIndex(const GridSpectrum& unknown, const GridSpectrum& entry, SearchRange range,
                                      std::int32_t* common) {
    std::int32_t n = 0;
    BandList unknownBands = FindBands(unknown.start, unknown.values.data(), unknown.values.size());
    BandList entryBands = FindBands(entry.start, entry.values.data(), entry.values.size());
    BandView u = ViewOf(unknownBands), e = ViewOf(entryBands);
    auto hqi = Score(unknown.values.data(), unknown.start, unknown.end(), entry.values.data(), entry.start, entry.end(),
                     range, n, &u, &e);
    if (common) *common = n;
    return hqi;
}

std::vector<std::uint8_t> CoarseForm(const float* values, std::size_t count) {
    std::vector<std::uint8_t> coarse(CoarseCount(count));
    for (std::size_t b = 0; b < coarse.size(); ++b) {
        std::size_t first = b * kCoarseBlock, end = std::min(count, first + kCoarseBlock);
        float sum = 0.0f;
        for (std::size_t k = first; k < end; ++k)
            sum += values[k];
        float mean = sum / static_cast<float>(end - first);
        coarse[b] = static_cast<std::uint8_t>(std::lrint(std::clamp(mean, 0.0f, 1.0f) * kCoarseSteps));
    }
    return coarse;
}

void PreparedLibrary::clear() {
    m_starts.clear();
    m_counts.clear();
    m_keys.clear();
    m_values.clear();
    m_valueOffsets.assign(1, 0);
    m_coarse.clear();
    m_coarseOffsets.assign(1, 0);
    m_bandPositions.clear();
    m_bandWeights.clear();
    m_bandOffsets.assign(1, 0);
    m_store.reset();
}

void PreparedLibrary::reserve(std::size_t entries, std::size_t coarseBytes, std::size_t bands) {
    m_bandPositions.reserve(bands);
    m_bandWeights.reserve(bands);
    m_starts.reserve(entries);
    m_counts.reserve(entries);
    m_keys.reserve(entries);
    m_valueOffsets.reserve(entries + 1);
    m_coarseOffsets.reserve(entries + 1);
    m_bandOffsets.reserve(entries + 1);
    m_coarse.reserve(coarseBytes);
    // A search of a large index fills these once, from end to end.
    AdviseHugePages(m_coarse.data(), m_coarse.capacity());
    AdviseHugePages(m_bandPositions.data(), m_bandPositions.capacity() * sizeof(std::int32_t));
    AdviseHugePages(m_bandWeights.data(), m_bandWeights.capacity() * sizeof(float));
}

std::size_t PreparedLibrary::add(std::int32_t start, const float* values, std::size_t count) {
    std::vector<std::uint8_t> coarse = CoarseForm(values, count);
    std::size_t i = addStored(start, count, -1, coarse.data(), FindBands(start, values, count));
    m_values.insert(m_values.end(), values, values + count);
    m_valueOffsets.back() = m_values.size();
    return i;
}

std::size_t PreparedLibrary::addStored(std::int32_t start, std::size_t count, std::int64_t key,
                                       const std::uint8_t* coarse, const BandList& bands) {
    m_starts.push_back(start);
    m_counts.push_back(static_cast<std::uint32_t>(count));
    m_keys.push_back(key);
    m_valueOffsets.push_back(m_values.size());
    m_coarse.insert(m_coarse.end(), coarse, coarse + CoarseCount(count));
    m_coarseOffsets.push_back(m_coarse.size());
    m_bandPositions.insert(m_bandPositions.end(), bands.positions.begin(), bands.positions.end());
    m_bandWeights.insert(m_bandWeights.end(), bands.weights.begin(), bands.weights.end());
    m_bandOffsets.push_back(m_bandPositions.size());
    return m_starts.size() - 1;
}

void PreparedLibrary::dropLast() {
    if (m_starts.empty()) return;
    m_starts.pop_back();
    m_counts.pop_back();
    m_keys.pop_back();
    m_valueOffsets.pop_back();
    m_values.resize(m_valueOffsets.back());
    m_coarseOffsets.pop_back();
    m_coarse.resize(m_coarseOffsets.back());
    m_bandOffsets.pop_back();
    m_bandPositions.resize(m_bandOffsets.back());
    m_bandWeights.resize(m_bandOffsets.back());
}

void PreparedLibrary::fullValues(const std::vector<std::size_t>& entries, std::vector<std::vector<float>>& out) const {
    out.assign(entries.size(), {});
    std::vector<std::int64_t> keys;
    std::vector<std::size_t> at;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        if (const float* v = values(entries[k])) {
            out[k].assign(v, v + count(entries[k]));
        } else if (m_store) {
            keys.push_back(m_keys[entries[k]]);
            at.push_back(k);
        }
    }
    if (keys.empty()) return;
    std::vector<std::vector<float>> fetched;
    m_store->fetch(keys, fetched);
    for (std::size_t k = 0; k < at.size() && k < fetched.size(); ++k)
        if (fetched[k].size() == count(entries[at[k]])) out[at[k]] = std::move(fetched[k]);
}

std::size_t PreparedLibrary::bytes() const {
    return m_starts.capacity() * sizeof(std::int32_t) + m_counts.capacity() * sizeof(std::uint32_t) +
           m_keys.capacity() * sizeof(std::int64_t) + m_values.capacity() * sizeof(float) +
           m_valueOffsets.capacity() * sizeof(std::size_t) + m_coarse.capacity() +
           m_coarseOffsets.capacity() * sizeof(std::size_t) + m_bandPositions.capacity() * sizeof(std::int32_t) +
           m_bandWeights.capacity() * sizeof(float) + m_bandOffsets.capacity() * sizeof(std::size_t);
}

UnknownSpectrum PrepareUnknown(std::span<const double> x, std::span<const double> y) {
    UnknownSpectrum unknown;
    unknown.grid = CompressedForComparison(PrepareSpectrum(x, y));
    if (unknown.grid.values.empty()) return unknown;
    unknown.bands = FindBands(unknown.grid.start, unknown.grid.values.data(), unknown.grid.values.size());
    std::vector<double> sorted;
    for (std::size_t i = 0; i < std::min(x.size(), y.size()); ++i)
        if (std::isfinite(x[i]) && std::isfinite(y[i]) && std::abs(x[i]) < 1e6) sorted.push_back(x[i]);
    std::sort(sorted.begin(), sorted.end());
    if (sorted.size() < 3) return unknown;
    std::vector<double> gaps;
    for (std::size_t i = 1; i < sorted.size(); ++i)
        gaps.push_back(sorted[i] - sorted[i - 1]);
    std::nth_element(gaps.begin(), gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 2), gaps.end());
    if (gaps[gaps.size() / 2] > kCoarseSpacing) {
        unknown.pixels = std::move(sorted);
        unknown.bands = {};
    }
    return unknown;
}

GridSpectrum ThroughPixels(std::int32_t start, const float* values, std::size_t count,
                           const std::vector<double>& pixels) {
    // A pixel adds up intensity, so the compressed values are squared back
    // first. Running sums make each pixel's mean O(1) whatever its width.
    std::vector<double> sums(count + 1, 0.0);
    for (std::size_t k = 0; k < count; ++k)
        sums[k + 1] = sums[k] + static_cast<double>(values[k]) * values[k];
    auto sumUpTo = [&](double x) { // integral of the step function from `start` to x
        double t = std::clamp(x - start + 0.5, 0.0, static_cast<double>(count));
        std::size_t whole = static_cast<std::size_t>(t);
        double part = whole < count ? (t - static_cast<double>(whole)) * values[whole] * values[whole] : 0.0;
        return sums[whole] + part;
    };
    double first = start, last = start + static_cast<double>(count) - 1.0;
    std::vector<double> px, py;
    for (std::size_t j = 0; j < pixels.size(); ++j) {
        double centre = pixels[j];
        if (centre < first || centre > last) continue;
        double lo = j > 0 ? 0.5 * (pixels[j - 1] + centre) : centre - 0.5 * (pixels[1] - centre);
        double hi = j + 1 < pixels.size() ? 0.5 * (centre + pixels[j + 1]) : centre + 0.5 * (centre - pixels[j - 1]);
        lo = std::max(lo, first - 0.5);
        hi = std::min(hi, last + 0.5);
        if (!(hi > lo)) continue;
        px.push_back(centre);
        py.push_back((sumUpTo(hi) - sumUpTo(lo)) / (hi - lo));
    }
    return CompressedForComparison(ResampleToWholeWavenumbers(px, py));
}

Ranking RankLibrary(const GridSpectrum& unknown, const PreparedLibrary& library, SearchRange range, std::size_t top) {
    return RankLibrary(
        UnknownSpectrum{unknown, {}, FindBands(unknown.start, unknown.values.data(), unknown.values.size())}, library,
        range, top);
}

namespace {

std::size_t PositiveMod(std::int64_t a, std::int64_t b) {
    return static_cast<std::size_t>(((a % b) + b) % b);
}

// The part of an entry a coarse unknown's pixels see: from the first pixel
// centre on the entry to the last, as ThroughPixels resamples it.
std::pair<std::int32_t, std::int32_t> SeenSpan(std::int32_t start, std::size_t count,
                                               const std::vector<double>& pixels) {
    double last = start + static_cast<double>(count) - 1.0;
    auto lo = std::lower_bound(pixels.begin(), pixels.end(), static_cast<double>(start));
    auto hi = std::upper_bound(pixels.begin(), pixels.end(), last);
    if (hi - lo < 2) return {0, 0};
    return {static_cast<std::int32_t>(std::ceil(*lo)), static_cast<std::int32_t>(std::floor(*(hi - 1))) + 1};
}

// The coarse score of entries against an unknown: the correlation of the
// compact forms (with the band agreement, exact, for a fine unknown),
// combined as the HQI combines them. It only picks which entries are
// scored exactly, so it need not equal the HQI, only rank like it.
class CoarseScorer {
public:
    CoarseScorer(const UnknownSpectrum& unknown, const PreparedLibrary& library, SearchRange range)
        : m_unknown(unknown), m_library(library), m_range(range), m_bands(ViewOf(unknown.bands)) {
        const GridSpectrum& g = unknown.grid;
        if (!unknown.pixels.empty()) {
            preparePixels();
            return;
        }
        // The unknown's block means for each of the kCoarseBlock alignments
        // an entry's blocks can have, with running sums for the common range.
        for (std::size_t o = 0; o < kCoarseBlock; ++o) {
            Aligned& a = m_aligned[o];
            a.base = g.start - static_cast<std::int32_t>(PositiveMod(g.start - static_cast<std::int64_t>(o), kCoarseBlock));
            std::size_t blocks = (static_cast<std::size_t>(g.end() - a.base) + kCoarseBlock - 1) / kCoarseBlock;
            a.means.resize(blocks);
            a.sum.assign(blocks + 1, 0.0);
            a.sumSq.assign(blocks + 1, 0.0);
            for (std::size_t k = 0; k < blocks; ++k) {
                std::int32_t from = std::max(g.start, a.base + static_cast<std::int32_t>(k * kCoarseBlock));
                std::int32_t to = std::min(g.end(), a.base + static_cast<std::int32_t>((k + 1) * kCoarseBlock));
                float sum = 0.0f;
                for (std::int32_t x = from; x < to; ++x)
                    sum += g.values[static_cast<std::size_t>(x - g.start)];
                auto q = static_cast<std::int16_t>(std::lrint(std::clamp(sum / static_cast<float>(to - from), 0.0f, 1.0f) * kUnknownSteps));
                a.means[k] = q;
                a.sum[k + 1] = a.sum[k] + q;
                a.sumSq[k + 1] = a.sumSq[k] + static_cast<double>(q) * q;
            }
        }
    }

    // The coarse score of entry i, or -1 when it has no spread to correlate.
    double score(std::size_t i) const {
        return m_unknown.pixels.empty() ? scoreFine(i) : scoreThroughPixels(i);
    }

private:
    static constexpr float kUnknownSteps = 4096.0f;
    struct Aligned {
        std::int32_t base = 0;
        std::vector<std::int16_t> means;
        std::vector<double> sum, sumSq;
    };

    static double Combine(double cov, double vu, double vl, double agreement) {
        if (!(vu > 0.0) || !(vl > 0.0)) return -1.0;
        if (!(cov > 0.0)) return 0.0;
        double r = cov / std::sqrt(vu * vl);
        r = (r + kBandAgreementWeight * agreement) / (1.0 + kBandAgreementWeight);
        return r * r;
    }

    double scoreFine(std::size_t i) const {
        const GridSpectrum& g = m_unknown.grid;
        const std::int32_t s = m_library.start(i);
        std::int32_t first = std::max({g.start, s, m_range.low});
        std::int32_t end = std::min({g.end(), s + static_cast<std::int32_t>(m_library.count(i)), m_range.high + 1});
        const Aligned& a = m_aligned[PositiveMod(s, kCoarseBlock)];
        const std::size_t jLo = static_cast<std::size_t>(first - s) / kCoarseBlock;
        const std::size_t jHi = static_cast<std::size_t>(end - 1 - s) / kCoarseBlock;
        const std::size_t k0 = static_cast<std::size_t>(s + static_cast<std::int32_t>(jLo * kCoarseBlock) - a.base) / kCoarseBlock;
        const std::size_t n = jHi - jLo + 1;
        const std::uint8_t* m = m_library.coarse(i) + jLo;
        const std::int16_t* u = a.means.data() + k0;
        // Whole numbers: 255 x 4096 x a few thousand blocks stays well
        // inside 32 bits, and integer lanes vectorise without reordering
        // anything that rounds.
        std::int32_t sm = 0, smm = 0, sum = 0;
        for (std::size_t k = 0; k < n; ++k) {
            std::int32_t v = m[k];
            sm += v;
            smm += v * v;
            sum += v * u[k];
        }
        double blocks = static_cast<double>(n);
        double su = a.sum[k0 + n] - a.sum[k0], suu = a.sumSq[k0 + n] - a.sumSq[k0];
        BandView bands{m_library.bandPositions(i), m_library.bandWeights(i), m_library.bandCount(i)};
        return Combine(sum - su * sm / blocks, suu - su * su / blocks, smm - static_cast<double>(sm) * sm / blocks,
                       Agreement(m_bands, bands, first, end - 1));
    }

    void preparePixels() {
        const GridSpectrum& g = m_unknown.grid;
        const std::vector<double>& p = m_unknown.pixels;
        for (std::size_t j = 0; j < p.size(); ++j) {
            double lo = j > 0 ? 0.5 * (p[j - 1] + p[j]) : p[j] - 0.5 * (p[1] - p[j]);
            double hi = j + 1 < p.size() ? 0.5 * (p[j] + p[j + 1]) : p[j] + 0.5 * (p[j] - p[j - 1]);
            double t = p[j] - g.start;
            double value = 0.0;
            if (t >= 0.0 && t <= static_cast<double>(g.values.size()) - 1.0) {
                std::size_t k = std::min(static_cast<std::size_t>(t), g.values.size() - 1);
                double frac = t - static_cast<double>(k);
                value = k + 1 < g.values.size() ? g.values[k] + frac * (g.values[k + 1] - g.values[k]) : g.values[k];
            }
            m_pixelLo.push_back(lo);
            m_pixelHi.push_back(hi);
            m_pixelValue.push_back(value);
        }
    }

    // The entry's compact form as the unknown's pixels would record it,
    // correlated with the unknown at its pixels.
    double scoreThroughPixels(std::size_t i) const {
        const GridSpectrum& g = m_unknown.grid;
        const std::vector<double>& p = m_unknown.pixels;
        const std::int32_t s = m_library.start(i);
        const std::size_t count = m_library.count(i), blocks = CoarseCount(count);
        auto [seenStart, seenEnd] = SeenSpan(s, count, p);
        double first = std::max({g.start, seenStart, m_range.low});
        double last = std::min({g.end(), seenEnd, m_range.high + 1}) - 1.0;
        thread_local std::vector<double> integral;
        integral.assign(blocks + 1, 0.0);
        const std::uint8_t* m = m_library.coarse(i);
        auto width = [&](std::size_t b) {
            return static_cast<double>(std::min(count, (b + 1) * kCoarseBlock) - b * kCoarseBlock);
        };
        for (std::size_t b = 0; b < blocks; ++b) {
            double v = m[b] / static_cast<double>(kCoarseSteps);
            integral[b + 1] = integral[b] + v * v * width(b);
        }
        const double origin = s - 0.5, endX = s + static_cast<double>(count) - 0.5;
        auto integralTo = [&](double x) {
            double t = std::clamp(x, origin, endX) - origin;
            std::size_t b = std::min(static_cast<std::size_t>(t / kCoarseBlock), blocks - 1);
            double part = t - static_cast<double>(b * kCoarseBlock);
            return integral[b] + (integral[b + 1] - integral[b]) * std::min(1.0, part / width(b));
        };
        double su = 0, suu = 0, sl = 0, sll = 0, sul = 0;
        std::size_t n = 0;
        for (std::size_t j = 0; j < p.size(); ++j) {
            if (p[j] < first || p[j] > last) continue;
            double lo = std::max(m_pixelLo[j], origin), hi = std::min(m_pixelHi[j], endX);
            if (!(hi > lo)) continue;
            double l = std::sqrt(std::max(0.0, (integralTo(hi) - integralTo(lo)) / (hi - lo)));
            double u = m_pixelValue[j];
            su += u;
            suu += u * u;
            sl += l;
            sll += l * l;
            sul += u * l;
            ++n;
        }
        if (n < 2) return -1.0;
        double k = static_cast<double>(n);
        double cov = sul - su * sl / k, vu = suu - su * su / k, vl = sll - sl * sl / k;
        if (!(vu > 0.0) || !(vl > 0.0)) return -1.0;
        if (!(cov > 0.0)) return 0.0;
        return cov * cov / (vu * vl);
    }

    const UnknownSpectrum& m_unknown;
    const PreparedLibrary& m_library;
    SearchRange m_range;
    BandView m_bands;
    Aligned m_aligned[kCoarseBlock];
    std::vector<double> m_pixelLo, m_pixelHi, m_pixelValue;
};

// Runs body(first, end) over [0, n) split between the cores once each
// share is worth a thread.
template <typename Body> void SplitBetweenCores(std::size_t n, std::size_t perThread, Body body) {
    unsigned threads = static_cast<unsigned>(std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()),
                                                                   std::max<std::size_t>(1, n / perThread)));
    std::vector<std::thread> pool;
    std::size_t chunk = (n + threads - 1) / threads;
    for (unsigned t = 1; t < threads; ++t)
        pool.emplace_back(body, std::min(n, t * chunk), std::min(n, (t + 1) * chunk));
    body(0, std::min(n, chunk));
    for (std::thread& t : pool)
        t.join();
}

} // namespace

Ranking RankLibrary(const UnknownSpectrum& unknownSpectrum, const PreparedLibrary& library, SearchRange range,
                    std::size_t top) {
    const GridSpectrum& unknown = unknownSpectrum.grid;
    const bool coarse = !unknownSpectrum.pixels.empty();
    const BandView unknownBands = ViewOf(unknownSpectrum.bands);
    Ranking ranking;
    // Which entries share enough points is told by where they lie alone.
    std::vector<std::size_t> eligible;
    eligible.reserve(library.size());
    for (std::size_t i = 0; i < library.size(); ++i) {
        std::int32_t start = library.start(i), end = start + static_cast<std::int32_t>(library.count(i));
        if (coarse) std::tie(start, end) = SeenSpan(start, library.count(i), unknownSpectrum.pixels);
        std::int32_t first = std::max({unknown.start, start, range.low});
        std::int32_t last = std::min({unknown.end(), end, range.high + 1});
        if (last - first < kMinCommonPoints)
            ranking.tooFewPoints.push_back(i);
        else
            eligible.push_back(i);
    }

    // A large library is first scored on the compact forms, split between
    // the cores; only the best of that are read in full.
    std::vector<std::size_t> candidates = eligible;
    if (eligible.size() > kExactCandidates) {
        CoarseScorer scorer(unknownSpectrum, library, range);
        std::vector<double> coarseScores(eligible.size());
        SplitBetweenCores(eligible.size(), 4000, [&](std::size_t first, std::size_t end) {
            for (std::size_t k = first; k < end; ++k)
                coarseScores[k] = scorer.score(eligible[k]);
        });
        std::vector<std::size_t> order(eligible.size());
        for (std::size_t k = 0; k < order.size(); ++k)
            order[k] = k;
        std::nth_element(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(kExactCandidates), order.end(),
                         [&](std::size_t a, std::size_t b) {
                             return coarseScores[a] != coarseScores[b] ? coarseScores[a] > coarseScores[b] : a < b;
                         });
        order.resize(kExactCandidates);
        std::sort(order.begin(), order.end());
        candidates.clear();
        for (std::size_t k : order)
            candidates.push_back(eligible[k]);
    }

    std::vector<std::vector<float>> values;
    std::vector<std::size_t> stored;
    for (std::size_t i : candidates)
        if (!library.values(i)) stored.push_back(i);
    library.fullValues(stored, values);
    std::vector<const float*> full(candidates.size());
    for (std::size_t k = 0, s = 0; k < candidates.size(); ++k) {
        if (const float* v = library.values(candidates[k])) {
            full[k] = v;
        } else {
            full[k] = values[s].empty() ? nullptr : values[s].data();
            ++s;
        }
    }
    // Scores by candidate; NaN marks one without a score, common < 0 one
    // whose full values are gone from the store.
    std::vector<double> scores(candidates.size());
    std::vector<double> offsets(candidates.size(), std::numeric_limits<double>::quiet_NaN());
    std::vector<std::size_t> shared(candidates.size(), 0);
    std::vector<std::int32_t> commons(candidates.size());
    SplitBetweenCores(candidates.size(), coarse ? 200 : 2000, [&](std::size_t first, std::size_t end) {
        for (std::size_t k = first; k < end; ++k) {
            const std::size_t i = candidates[k];
            std::int32_t common = 0;
            std::int32_t start = library.start(i);
            std::optional<double> hqi;
            if (!full[k]) {
                common = -1;
            } else if (coarse) {
                GridSpectrum seen = ThroughPixels(start, full[k], library.count(i), unknownSpectrum.pixels);
                hqi = Score(unknown.values.data(), unknown.start, unknown.end(), seen.values.data(), seen.start,
                            seen.end(), range, common, nullptr, nullptr);
            } else {
                BandView entryBands{library.bandPositions(i), library.bandWeights(i), library.bandCount(i)};
                const std::int32_t end = start + static_cast<std::int32_t>(library.count(i));
                hqi = Score(unknown.values.data(), unknown.start, unknown.end(), full[k], start, end, range, common,
                            &unknownBands, &entryBands);
                if (hqi) {
                    const std::int32_t firstX = std::max({unknown.start, start, range.low});
                    const std::int32_t lastX = std::min({unknown.end(), end, range.high + 1}) - 1;
                    offsets[k] = Offset(unknownBands, entryBands, firstX, lastX);
                    shared[k] = Shared(unknownBands, entryBands, firstX, lastX);
                }
            }
            scores[k] = hqi ? *hqi : std::nan("");
            commons[k] = common;
        }
    });

    ranking.hits.reserve(candidates.size());
    for (std::size_t k = 0; k < candidates.size(); ++k) {
        if (!std::isnan(scores[k]))
            ranking.hits.push_back({candidates[k], scores[k], offsets[k], shared[k]});
        else if (commons[k] >= 0 && commons[k] < kMinCommonPoints)
            ranking.tooFewPoints.push_back(candidates[k]);
    }
    std::sort(ranking.tooFewPoints.begin(), ranking.tooFewPoints.end());
    auto better = [](const RankedHit& a, const RankedHit& b) {
        return a.hqi != b.hqi ? a.hqi > b.hqi : a.entry < b.entry;
    };
    if (top > 0 && top < ranking.hits.size()) {
        std::partial_sort(ranking.hits.begin(), ranking.hits.begin() + static_cast<std::ptrdiff_t>(top),
                          ranking.hits.end(), better);
        ranking.hits.resize(top);
    } else {
        std::sort(ranking.hits.begin(), ranking.hits.end(), better);
    }
    return ranking;
}

} // namespace veltrane
