#include "identify/hqi.h"

#include <algorithm>
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

std::optional<double> Score(const float* u, std::int32_t uStart, std::int32_t uEnd, const float* l, std::int32_t lStart,
                            std::int32_t lEnd, SearchRange range, std::int32_t& common) {
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
    double hqi = 100.0 * cov * cov / (vu * vl);
    // Rounding cannot make a correlation exceed 1 by more than a hair, and
    // a score above 100 would only confuse.
    return std::min(hqi, 100.0);
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

std::optional<double> HitQualityIndex(const GridSpectrum& unknown, const GridSpectrum& entry, SearchRange range,
                                      std::int32_t* common) {
    std::int32_t n = 0;
    auto hqi = Score(unknown.values.data(), unknown.start, unknown.end(), entry.values.data(), entry.start, entry.end(),
                     range, n);
    if (common) *common = n;
    return hqi;
}

void PreparedLibrary::clear() {
    m_values.clear();
    m_offsets.assign(1, 0);
    m_starts.clear();
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
    return m_starts.size() - 1;
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
    m_starts.pop_back();
    m_offsets.pop_back();
    m_values.resize(m_offsets.back());
}

std::size_t PreparedLibrary::bytes() const {
    return m_values.capacity() * sizeof(float) + m_offsets.capacity() * sizeof(std::size_t) +
           m_starts.capacity() * sizeof(std::int32_t);
}

UnknownSpectrum PrepareUnknown(std::span<const double> x, std::span<const double> y) {
    UnknownSpectrum unknown;
    unknown.grid = PrepareSpectrum(x, y);
    std::vector<double> sorted;
    for (std::size_t i = 0; i < std::min(x.size(), y.size()); ++i)
        if (std::isfinite(x[i]) && std::isfinite(y[i]) && std::abs(x[i]) < 1e6) sorted.push_back(x[i]);
    std::sort(sorted.begin(), sorted.end());
    if (sorted.size() < 3) return unknown;
    std::vector<double> gaps;
    for (std::size_t i = 1; i < sorted.size(); ++i)
        gaps.push_back(sorted[i] - sorted[i - 1]);
    std::nth_element(gaps.begin(), gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 2), gaps.end());
    if (gaps[gaps.size() / 2] > kCoarseSpacing) unknown.pixels = std::move(sorted);
    return unknown;
}

GridSpectrum ThroughPixels(std::int32_t start, const float* values, std::size_t count,
                           const std::vector<double>& pixels) {
    // Running sums make each pixel's mean O(1) whatever its width.
    std::vector<double> sums(count + 1, 0.0);
    for (std::size_t k = 0; k < count; ++k)
        sums[k + 1] = sums[k] + values[k];
    auto sumUpTo = [&](double x) { // integral of the step function from `start` to x
        double t = std::clamp(x - start + 0.5, 0.0, static_cast<double>(count));
        std::size_t whole = static_cast<std::size_t>(t);
        double part = whole < count ? (t - static_cast<double>(whole)) * values[whole] : 0.0;
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
    return ResampleToWholeWavenumbers(px, py);
}

Ranking RankLibrary(const GridSpectrum& unknown, const PreparedLibrary& library, SearchRange range, std::size_t top) {
    return RankLibrary(UnknownSpectrum{unknown, {}}, library, range, top);
}

Ranking RankLibrary(const UnknownSpectrum& unknownSpectrum, const PreparedLibrary& library, SearchRange range,
                    std::size_t top) {
    const GridSpectrum& unknown = unknownSpectrum.grid;
    const bool coarse = !unknownSpectrum.pixels.empty();
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
                            seen.end(), range, common);
            } else {
                hqi = Score(unknown.values.data(), unknown.start, unknown.end(), library.values(i), start,
                            start + static_cast<std::int32_t>(library.count(i)), range, common);
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
