#include "identify/hqi.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <thread>

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

void PreparedLibrary::clear() {
    m_values.clear();
    m_offsets.assign(1, 0);
    m_starts.clear();
    m_bandPositions.clear();
    m_bandWeights.clear();
    m_bandOffsets.assign(1, 0);
}

void PreparedLibrary::reserve(std::size_t entries, std::size_t values) {
    m_values.reserve(values);
    m_offsets.reserve(entries + 1);
    m_starts.reserve(entries);
}

std::size_t PreparedLibrary::add(std::int32_t start, const float* values, std::size_t count) {
    m_values.insert(m_values.end(), values, values + count);
    m_offsets.push_back(m_values.size());
    m_starts.push_back(start);
    findBands();
    return m_starts.size() - 1;
}

void PreparedLibrary::findBands() {
    for (std::size_t i = m_bandOffsets.size() - 1; i < m_starts.size(); ++i) {
        BandList bands = FindBands(m_starts[i], values(i), count(i));
        m_bandPositions.insert(m_bandPositions.end(), bands.positions.begin(), bands.positions.end());
        m_bandWeights.insert(m_bandWeights.end(), bands.weights.begin(), bands.weights.end());
        m_bandOffsets.push_back(m_bandPositions.size());
    }
}

float* PreparedLibrary::append(std::int32_t start, std::size_t count) {
    std::size_t at = m_values.size();
    m_values.resize(at + count);
    m_offsets.push_back(m_values.size());
    m_starts.push_back(start);
    return m_values.data() + at;
}

void PreparedLibrary::dropLast() {
    if (m_starts.empty()) return;
    if (m_bandOffsets.size() == m_starts.size() + 1) {
        m_bandOffsets.pop_back();
        m_bandPositions.resize(m_bandOffsets.back());
        m_bandWeights.resize(m_bandOffsets.back());
    }
    m_starts.pop_back();
    m_offsets.pop_back();
    m_values.resize(m_offsets.back());
}

std::size_t PreparedLibrary::bytes() const {
    return m_values.capacity() * sizeof(float) + m_offsets.capacity() * sizeof(std::size_t) +
           m_starts.capacity() * sizeof(std::int32_t) + m_bandPositions.capacity() * sizeof(std::int32_t) +
           m_bandWeights.capacity() * sizeof(float) + m_bandOffsets.capacity() * sizeof(std::size_t);
}

UnknownSpectrum PrepareUnknown(std::span<const double> x, std::span<const double> y) {
    UnknownSpectrum unknown;
    unknown.grid = CompressedForComparison(PrepareSpectrum(x, y));
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

Ranking RankLibrary(const UnknownSpectrum& unknownSpectrum, const PreparedLibrary& library, SearchRange range,
                    std::size_t top) {
    const GridSpectrum& unknown = unknownSpectrum.grid;
    const bool coarse = !unknownSpectrum.pixels.empty();
    const BandView unknownBands = ViewOf(unknownSpectrum.bands);
    // Entries appended without their bands get them here, for this search.
    PreparedLibrary withBands;
    const PreparedLibrary* bandSource = &library;
    if (!coarse && !library.hasBands()) {
        for (std::size_t i = 0; i < library.size(); ++i)
            withBands.add(library.start(i), library.values(i), library.count(i));
        bandSource = &withBands;
    }
    // Scores by entry; NaN marks an entry without one, common < 0 one with
    // too few points.
    std::vector<double> scores(library.size());
    std::vector<std::int32_t> commons(library.size());
    auto scoreRange = [&](std::size_t first, std::size_t end) {
        for (std::size_t i = first; i < end; ++i) {
            std::int32_t common = 0;
            std::int32_t start = library.start(i);
            std::optional<double> hqi;
            if (coarse) {
                GridSpectrum seen = ThroughPixels(start, library.values(i), library.count(i), unknownSpectrum.pixels);
                hqi = Score(unknown.values.data(), unknown.start, unknown.end(), seen.values.data(), seen.start,
                            seen.end(), range, common, nullptr, nullptr);
            } else {
                BandView entryBands{bandSource->bandPositions(i), bandSource->bandWeights(i), bandSource->bandCount(i)};
                hqi = Score(unknown.values.data(), unknown.start, unknown.end(), library.values(i), start,
                            start + static_cast<std::int32_t>(library.count(i)), range, common, &unknownBands,
                            &entryBands);
            }
            scores[i] = hqi ? *hqi : std::nan("");
            commons[i] = common;
        }
    };
    // A large library is split between the cores: the scan is one pass over
    // every stored value, and two cores stream memory faster than one.
    constexpr std::size_t kEntriesPerThread = 2000;
    unsigned threads = std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()),
                                             std::max<std::size_t>(1, library.size() / kEntriesPerThread));
    std::vector<std::thread> pool;
    std::size_t chunk = (library.size() + threads - 1) / threads;
    for (unsigned t = 1; t < threads; ++t)
        pool.emplace_back(scoreRange, std::min(library.size(), t * chunk), std::min(library.size(), (t + 1) * chunk));
    scoreRange(0, std::min(library.size(), chunk));
    for (std::thread& t : pool)
        t.join();

    Ranking ranking;
    ranking.hits.reserve(library.size());
    for (std::size_t i = 0; i < library.size(); ++i) {
        if (!std::isnan(scores[i]))
            ranking.hits.push_back({i, scores[i]});
        else if (commons[i] < kMinCommonPoints)
            ranking.tooFewPoints.push_back(i);
    }
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
