#include "axis_check/axis_check.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace veltrane {

namespace {

struct Point {
    double x, y;
};

double Median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

// The vertex of the weighted least-squares parabola through the points.
std::optional<double> ParabolaVertex(const std::vector<Point>& p, const std::vector<double>& w, double centre,
                                     bool minimum) {
    // Centred on the peak so the normal equations stay well conditioned.
    double s[5] = {}, t[3] = {};
    for (std::size_t i = 0; i < p.size(); ++i) {
        double x = p[i].x - centre, xx = 1.0;
        for (int k = 0; k < 5; ++k) {
            s[k] += w[i] * xx;
            if (k < 3) t[k] += w[i] * xx * p[i].y;
            xx *= x;
        }
    }
    // Normal equations for y = c0 + c1 x + c2 x^2, by Cramer's rule.
    double m[3][3] = {{s[0], s[1], s[2]}, {s[1], s[2], s[3]}, {s[2], s[3], s[4]}};
    auto det3 = [](double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    double d = det3(m);
    if (!(std::abs(d) > 0.0)) return std::nullopt;
    double m1[3][3], m2[3][3];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            m1[r][c] = c == 1 ? t[r] : m[r][c];
            m2[r][c] = c == 2 ? t[r] : m[r][c];
        }
    double c1 = det3(m1) / d, c2 = det3(m2) / d;
    if (minimum ? !(c2 > 0.0) : !(c2 < 0.0)) return std::nullopt;
    return centre - c1 / (2.0 * c2);
}

} // namespace

const char* BandOutcomeText(BandOutcome outcome) {
    switch (outcome) {
    case BandOutcome::Found:
        return "found";
    case BandOutcome::Missing:
        return "missing";
    case BandOutcome::Saturated:
        return "saturated";
    case BandOutcome::Overlapped:
        return "overlapped";
    case BandOutcome::OutsideSpectrum:
        break;
    }
    return "outside the spectrum";
}

double NoiseLevel(std::span<const double> intensity) {
    std::vector<double> d;
    for (std::size_t i = 1; i + 1 < intensity.size(); ++i)
        d.push_back(intensity[i - 1] - 2.0 * intensity[i] + intensity[i + 1]);
    if (d.empty()) return 0.0;
    double med = Median(d);
    for (double& v : d)
        v = std::abs(v - med);
    // The second difference of white noise has sqrt(6) times its spread;
    // 1.4826 turns a median absolute deviation into a standard deviation.
    return 1.4826 * Median(d) / std::sqrt(6.0);
}

namespace {

// The points within `half` of `centre`, in shift order, with a straight
// background taken away: a line through the lowest point of each outer
// quarter of the stretch.
struct Stretch {
    std::vector<Point> p;  // as measured
    std::vector<double> y; // background removed
};
Stretch StretchAround(std::span<const double> shift, std::span<const double> intensity, double centre, double half) {
    Stretch s;
    for (std::size_t i = 0; i < std::min(shift.size(), intensity.size()); ++i)
        if (std::isfinite(shift[i]) && std::isfinite(intensity[i]) && std::abs(shift[i] - centre) <= half)
            s.p.push_back({shift[i], intensity[i]});
    std::sort(s.p.begin(), s.p.end(), [](const Point& a, const Point& b) { return a.x < b.x; });
    const std::size_t n = s.p.size();
    if (n < 7) return s;
    const std::size_t quarter = std::max<std::size_t>(1, n / 4);
    auto lowestOf = [&](std::size_t first, std::size_t end) {
        std::size_t best = first;
        for (std::size_t i = first; i < end; ++i)
            if (s.p[i].y < s.p[best].y) best = i;
        return s.p[best];
    };
    Point a = lowestOf(0, quarter), b = lowestOf(n - quarter, n);
    s.y.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        s.y[i] = s.p[i].y - (a.y + (b.y - a.y) * (s.p[i].x - a.x) / (b.x - a.x));
    return s;
}

// Maxima of the lightly smoothed values that stand above `least`.
std::vector<std::size_t> Maxima(const std::vector<double>& y, double least, std::vector<double>& smooth) {
    const std::size_t n = y.size();
    smooth.assign(n, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        smooth[i] = 0.25 * y[i > 0 ? i - 1 : i] + 0.5 * y[i] + 0.25 * y[i + 1 < n ? i + 1 : i];
    std::vector<std::size_t> maxima;
    for (std::size_t i = 1; i + 1 < n; ++i)
        if (smooth[i] > smooth[i - 1] && smooth[i] >= smooth[i + 1] && smooth[i] > least) maxima.push_back(i);
    return maxima;
}

} // namespace

BandOutcome LocateBand(std::span<const double> shift, std::span<const double> intensity, double reference,
                       double window, double noise, std::optional<double> saturation, double& position) {
    double lowest = INFINITY, highest = -INFINITY;
    for (std::size_t i = 0; i < std::min(shift.size(), intensity.size()); ++i) {
        if (!std::isfinite(shift[i])) continue;
        lowest = std::min(lowest, shift[i]);
        highest = std::max(highest, shift[i]);
    }
    if (lowest > reference - window || highest < reference + window) return BandOutcome::OutsideSpectrum;
    const double least = 5.0 * noise;
    std::vector<double> smooth;
    // The band: the highest maximum within the search window.
    Stretch search = StretchAround(shift, intensity, reference, window);
    if (search.y.empty()) return BandOutcome::OutsideSpectrum;
    std::vector<std::size_t> found = Maxima(search.y, least, smooth);
    if (found.empty()) return BandOutcome::Missing;
    std::size_t best = *std::max_element(found.begin(), found.end(),
                                         [&](std::size_t l, std::size_t r) { return smooth[l] < smooth[r]; });
    // Then everything again around it, so the background is judged on both
    // of its sides alike whichever way the axis is off.
    const double centre = search.p[best].x;
    Stretch s = StretchAround(shift, intensity, centre, window);
    if (s.y.empty()) return BandOutcome::OutsideSpectrum;
    const std::size_t n = s.p.size();
    std::size_t top = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (std::abs(s.p[i].x - centre) < std::abs(s.p[top].x - centre)) top = i;
    while (top > 0 && s.y[top - 1] > s.y[top])
        --top;
    while (top + 1 < n && s.y[top + 1] > s.y[top])
        ++top;
    const double height = s.y[top];
    if (!(height > least)) return BandOutcome::Missing;
    // A second band of comparable height close by, parted from this one by
    // a clear dip, pulls the fit and may be the reference band itself.
    Stretch near = StretchAround(shift, intensity, centre, 1.5 * window);
    std::vector<std::size_t> others = Maxima(near.y, least, smooth);
    std::size_t own = 0;
    for (std::size_t i = 0; i < near.p.size(); ++i)
        if (std::abs(near.p[i].x - s.p[top].x) < std::abs(near.p[own].x - s.p[top].x)) own = i;
    for (std::size_t m : others) {
        if (std::abs(near.p[m].x - near.p[own].x) < 2.0 || smooth[m] < 0.5 * smooth[own]) continue;
        double dip = *std::min_element(smooth.begin() + static_cast<std::ptrdiff_t>(std::min(m, own)),
                                       smooth.begin() + static_cast<std::ptrdiff_t>(std::max(m, own)) + 1);
        if (dip < 0.8 * std::min(smooth[m], smooth[own])) return BandOutcome::Overlapped;
    }
    // The points above a third of the height around the top: the more of
    // the band's own shape the fit sees, the less noise moves it; reaching
    // the stretch's end means a neighbour carries it.
    constexpr double kFitFloor = 0.3;
    std::size_t first = top, last = top;
    while (first > 0 && s.y[first - 1] >= kFitFloor * height)
        --first;
    while (last + 1 < n && s.y[last + 1] >= kFitFloor * height)
        ++last;
    if (first == 0 || last + 1 == n) return BandOutcome::Overlapped;
    if (saturation) {
        for (std::size_t i = first; i <= last; ++i)
            if (s.p[i].y >= *saturation) return BandOutcome::Saturated;
    }
    if (last - first < 2) {
        first = top - 1;
        last = top + 1;
    }
    // A Lorentzian's reciprocal is a parabola with its vertex at the band's
    // centre, whatever the sampling; weighting by y^4 evens out the noise
    // the reciprocal magnifies in the flanks.
    std::vector<Point> fit;
    std::vector<double> w;
    for (std::size_t i = first; i <= last; ++i) {
        if (!(s.y[i] > 0.0)) continue;
        fit.push_back({s.p[i].x, 1.0 / s.y[i]});
        w.push_back(s.y[i] * s.y[i] * s.y[i] * s.y[i]);
    }
    std::optional<double> vertex;
    if (fit.size() >= 3) vertex = ParabolaVertex(fit, w, s.p[top].x, true);
    if (!vertex || *vertex < s.p[first].x || *vertex > s.p[last].x) return BandOutcome::Missing;
    if (std::abs(*vertex - reference) > window) return BandOutcome::Missing;
    position = *vertex;
    return BandOutcome::Found;
}

AxisCheck CheckAxis(std::span<const double> shift, std::span<const double> intensity, const ReferenceStandard& standard,
                    const AxisCheckSettings& settings, std::optional<double> saturation) {
    AxisCheck check;
    check.standard = standard.name;
    check.tolerance = settings.tolerance;
    // The noise of the spectrum in its own order along the axis.
    std::vector<std::size_t> order(std::min(shift.size(), intensity.size()));
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return shift[a] < shift[b]; });
    std::vector<double> sorted;
    for (std::size_t i : order)
        if (std::isfinite(intensity[i])) sorted.push_back(intensity[i]);
    const double noise = NoiseLevel(sorted);
    double sumW = 0.0, sumWD = 0.0, sumDD = 0.0;
    for (const ReferenceBand& band : standard.bands) {
        BandCheck b;
        b.reference = band.shift;
        b.weight = band.weight;
        double position = 0.0;
        b.outcome = LocateBand(shift, intensity, band.shift, settings.searchWindow, noise, saturation, position);
        if (b.outcome == BandOutcome::Found) {
            b.found = position;
            b.deviation = position - band.shift;
            ++check.found;
            sumW += band.weight;
            sumWD += band.weight * b.deviation;
            sumDD += b.deviation * b.deviation;
            if (std::abs(b.deviation) > std::abs(check.largest)) check.largest = b.deviation;
        }
        check.bands.push_back(b);
    }
    check.enoughBands = check.found >= kMinBandsForCheck;
    if (check.found > 0) {
        check.offset = sumWD / sumW;
        check.rms = std::sqrt(sumDD / static_cast<double>(check.found));
        double sum = 0.0;
        for (const BandCheck& b : check.bands)
            if (b.outcome == BandOutcome::Found) sum += (b.deviation - check.offset) * (b.deviation - check.offset);
        check.spread = std::sqrt(sum / static_cast<double>(check.found));
    }
    check.pass = check.enoughBands && std::abs(check.largest) <= settings.tolerance;
    return check;
}

std::optional<AxisCorrection> FitAxisCorrection(const AxisCheck& check, double laserNm) {
    std::vector<const BandCheck*> found;
    for (const BandCheck& b : check.bands)
        if (b.outcome == BandOutcome::Found) found.push_back(&b);
    if (found.size() < kMinBandsForCheck) return std::nullopt;
    auto residualRms = [&](const AxisCorrection& c) {
        double sum = 0.0, weights = 0.0;
        for (const BandCheck* b : found) {
            double r = CorrectedShift(c, b->found) - b->reference;
            sum += b->weight * r * r;
            weights += b->weight;
        }
        return std::sqrt(sum / weights);
    };
    AxisCorrection offset;
    offset.kind = AxisCorrectionKind::Offset;
    offset.offset = -check.offset;
    offset.laserNm = laserNm;
    offset.residualRms = residualRms(offset);
    double low = found.front()->reference, high = found.back()->reference;
    if (!(laserNm > 0.0) || high - low < 1000.0) return offset;

    // The wavelength error by Gauss-Newton from none: the shifts depend on
    // it smoothly and nearly linearly over a fraction of a nanometre.
    AxisCorrection axis = offset;
    axis.kind = AxisCorrectionKind::WavelengthAxis;
    axis.wavelengthNm = 0.0;
    for (int iteration = 0; iteration < 20; ++iteration) {
        double jj = 0.0, jr = 0.0;
        const double step = 1e-4;
        for (const BandCheck* b : found) {
            double r = CorrectedShift(axis, b->found) - b->reference;
            AxisCorrection moved = axis;
            moved.wavelengthNm += step;
            double j = (CorrectedShift(moved, b->found) - b->reference - r) / step;
            jj += b->weight * j * j;
            jr += b->weight * j * r;
        }
        if (!(jj > 0.0)) break;
        double delta = -jr / jj;
        axis.wavelengthNm += delta;
        if (std::abs(delta) < 1e-9) break;
    }
    axis.residualRms = residualRms(axis);
    if (std::isfinite(axis.residualRms) && axis.residualRms < 0.7 * offset.residualRms) return axis;
    return offset;
}

} // namespace veltrane
