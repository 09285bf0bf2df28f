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

// The correlation coefficient of the two over the points both have inside
// the range; empty with too few such points or a flat side.
std::optional<double> Correlation(const float* u, std::int32_t uStart, std::int32_t uEnd, const float* l,
                                  std::int32_t lStart, std::int32_t lEnd, SearchRange range, std::int32_t& common) {
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
    return cov / std::sqrt(vu * vl);
}

// `agreement` below 0 leaves the bands out (an unknown from a coarse
// sensor, whose pixels blur band positions beyond any tolerance).
double CombinedHqi(double r, double agreement) {
    if (!(r > 0.0)) return 0.0;
    double c = agreement < 0.0 ? r : (r + kBandAgreementWeight * agreement) / (1.0 + kBandAgreementWeight);
    // Rounding cannot make a correlation exceed 1 by more than a hair, and
    // a score above 100 would only confuse.
    return 100.0 * std::min(c * c, 1.0);
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
    // and renormalised. Every entry of a library goes through this when a
    // search loads it, so the inner loop is kept plain enough to vectorise.
    constexpr int kRadius = 6;
    constexpr float kSigma = 1.5f;
    // The kernel sums to 1; near the ends, where part of it falls on the
    // zeros beyond the spectrum, the sum is renormalised.
    float kernel[2 * kRadius + 1];
    float full = 0.0f;
    for (int k = -kRadius; k <= kRadius; ++k)
        full += kernel[k + kRadius] = std::exp(-0.5f * (k / kSigma) * (k / kSigma));
    for (float& w : kernel)
        w /= full;
    const std::size_t n = count;
    std::vector<float> intensity(n + 2 * kRadius, 0.0f), s(n);
    for (std::size_t i = 0; i < n; ++i)
        intensity[i + kRadius] = values[i] * values[i];
    // One pass per kernel tap: each is a plain multiply-add over the whole
    // spectrum, which vectorises.
    for (int k = 0; k <= 2 * kRadius; ++k) {
        const float w = kernel[k];
        const float* in = intensity.data() + k;
        for (std::size_t i = 0; i < n; ++i)
            s[i] += w * in[i];
    }
    auto renormalise = [&](std::size_t i) {
        float weight = 0.0f;
        for (int k = -kRadius; k <= kRadius; ++k) {
            std::ptrdiff_t at = static_cast<std::ptrdiff_t>(i) + k;
            if (at >= 0 && at < static_cast<std::ptrdiff_t>(n)) weight += kernel[k + kRadius];
        }
        s[i] /= weight;
    };
    const std::size_t edge = std::min<std::size_t>(n, kRadius);
    for (std::size_t i = 0; i < edge; ++i)
        renormalise(i);
    for (std::size_t i = std::max<std::size_t>(edge, n - edge); i < n; ++i)
        renormalise(i);
    // The largest value in eight independent lanes, so the comparisons do
    // not wait on one another.
    float lanes[8] = {};
    std::size_t i8 = 0;
    for (; i8 + 8 <= n; i8 += 8)
        for (std::size_t k = 0; k < 8; ++k)
            lanes[k] = s[i8 + k] > lanes[k] ? s[i8 + k] : lanes[k];
    float top = 0.0f;
    for (; i8 < n; ++i8)
        top = s[i8] > top ? s[i8] : top;
    for (float v : lanes)
        top = v > top ? v : top;
    if (!(top > 0.0f)) return bands;
    // Prominence as topographers define it: the height above the higher of
    // the two lowest points on the way, left and right, to higher ground
    // (or the end). Values are not negative, so only maxima at least as
    // high as the least prominence can have it, and few are.
    const float minimum = static_cast<float>(kBandProminence) * top;
    for (std::size_t i = 1; i + 1 < n;) {
        if (!(s[i] > s[i - 1]) || s[i] < minimum) {
            ++i;
            continue;
        }
        // A flat top counts once, at its middle.
        std::size_t j = i;
        while (j + 1 < n && s[j + 1] == s[i])
            ++j;
        if (j + 1 < n && s[j + 1] < s[i]) {
            const float height = s[i];
            float left = height, right = height;
            for (std::size_t k = i; k-- > 0 && s[k] <= height;)
                left = std::min(left, s[k]);
            for (std::size_t k = j + 1; k < n && s[k] <= height; ++k)
                right = std::min(right, s[k]);
            if (height - std::max(left, right) >= minimum) {
                bands.positions.push_back(start + static_cast<std::int32_t>((i + j) / 2));
                bands.weights.push_back(std::sqrt(height / top));
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
    auto r = Correlation(unknown.values.data(), unknown.start, unknown.end(), entry.values.data(), entry.start,
                         entry.end(), range, n);
    if (common) *common = n;
    if (!r) return std::nullopt;
    std::int32_t first = std::max({unknown.start, entry.start, range.low});
    std::int32_t last = std::min({unknown.end(), entry.end(), range.high + 1}) - 1;
    return CombinedHqi(*r,
                       BandAgreement(FindBands(unknown.start, unknown.values.data(), unknown.values.size()),
                                     FindBands(entry.start, entry.values.data(), entry.values.size()), first, last));
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
    // Correlations by entry; NaN marks an entry without one.
    std::vector<double> correlations(library.size());
    std::vector<std::int32_t> commons(library.size());
    auto scoreRange = [&](std::size_t first, std::size_t end) {
        for (std::size_t i = first; i < end; ++i) {
            std::int32_t common = 0;
            std::int32_t start = library.start(i);
            std::optional<double> r;
            if (coarse) {
                GridSpectrum seen = ThroughPixels(start, library.values(i), library.count(i), unknownSpectrum.pixels);
                r = Correlation(unknown.values.data(), unknown.start, unknown.end(), seen.values.data(), seen.start,
                                seen.end(), range, common);
            } else {
                r = Correlation(unknown.values.data(), unknown.start, unknown.end(), library.values(i), start,
                                start + static_cast<std::int32_t>(library.count(i)), range, common);
            }
            correlations[i] = r ? *r : std::nan("");
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
    std::vector<std::size_t> order;
    order.reserve(library.size());
    for (std::size_t i = 0; i < library.size(); ++i) {
        if (!std::isnan(correlations[i]))
            order.push_back(i);
        else if (commons[i] < kMinCommonPoints)
            ranking.tooFewPoints.push_back(i);
    }
    auto better = [](const RankedHit& a, const RankedHit& b) {
        return a.hqi != b.hqi ? a.hqi > b.hqi : a.entry < b.entry;
    };
    if (coarse) {
        for (std::size_t i : order)
            ranking.hits.push_back({i, CombinedHqi(correlations[i], -1.0)});
    } else {
        // Band agreement adds at most kBandAgreementWeight to the
        // correlation, so the entries are taken by falling correlation and
        // the walk ends where even full agreement could not reach the worst
        // of the best `top` found so far.
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return correlations[a] != correlations[b] ? correlations[a] > correlations[b] : a < b;
        });
        const std::size_t keep = top > 0 ? top : order.size();
        std::vector<RankedHit> best; // a heap, the worst of them first
        for (std::size_t i : order) {
            double r = correlations[i];
            if (best.size() == keep && CombinedHqi(r, 1.0) < best.front().hqi) break;
            double hqi = 0.0;
            if (r > 0.0) {
                std::int32_t start = library.start(i);
                std::int32_t first = std::max({unknown.start, start, range.low});
                std::int32_t last =
                    std::min({unknown.end(), start + static_cast<std::int32_t>(library.count(i)), range.high + 1}) - 1;
                BandList bands = FindBands(start, library.values(i), library.count(i));
                hqi = CombinedHqi(r, Agreement(ViewOf(unknownSpectrum.bands), ViewOf(bands), first, last));
            }
            RankedHit hit{i, hqi};
            if (best.size() < keep) {
                best.push_back(hit);
                std::push_heap(best.begin(), best.end(), better);
            } else if (better(hit, best.front())) {
                std::pop_heap(best.begin(), best.end(), better);
                best.back() = hit;
                std::push_heap(best.begin(), best.end(), better);
            }
        }
        ranking.hits = std::move(best);
    }
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
