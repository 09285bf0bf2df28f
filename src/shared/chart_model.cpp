#include "shared/chart_model.h"

#include "shared/axis_ticks.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace veltrane {

namespace {

// Dark enough to keep at least a 3:1 contrast against white, and far enough
// apart that a handful of overlaid markers stay told apart. The measured
// spectrum always takes the first one.
constexpr std::array<std::uint32_t, 15> kPalette = {
    0xE00000, // red: the measured spectrum
    0x0047D6, // blue
    0x00990F, // green
    0xE07000, // orange
    0x6A1B9A, // violet
    0x00A0A0, // teal
    0xD81B9F, // magenta
    0x8B5A2B, // brown
    0x6B8E00, // olive
    0x1E90FF, // sky blue
    0xC2185B, // raspberry
    0x800000, // maroon
    0x000080, // navy
    0x5F6B6D, // slate grey
    0x7B68EE, // lavender blue
};

bool byX(const ChartPoint& a, const ChartPoint& b) {
    return a.x < b.x;
}

// Spectra arrive in X order, so appending is the usual case.
void placeOne(std::vector<ChartPoint>& points, const ChartPoint& p) {
    if (points.empty() || !(p.x < points.back().x)) {
        points.push_back(p);
    } else {
        points.insert(std::upper_bound(points.begin(), points.end(), p, byX), p);
    }
}

bool anyNaNX(const std::vector<ChartPoint>& points) {
    return std::any_of(points.begin(), points.end(), [](const ChartPoint& p) { return std::isnan(p.x); });
}

const std::vector<ChartPoint>& noPoints() {
    static const std::vector<ChartPoint> empty;
    return empty;
}

} // namespace

struct ChartModel::Series {
    SeriesHandle handle = kNoSeries;
    std::uint32_t colour = 0;
    std::string title;
    std::vector<ChartPoint> points; // ascending X, equal X in arrival order
    std::vector<double> marks;      // X of the marked points
};

ChartModel::ChartModel() = default;

// Linear: a chart carries the spectrum and a few markers, never more than a
// couple of dozen series.
ChartModel::Series* ChartModel::find(SeriesHandle series) const {
    if (series == kNoSeries) return nullptr;
    for (const auto& s : m_series) {
        if (s->handle == series) return s.get();
    }
    return nullptr;
}

void ChartModel::changed() {
    ++m_revision;
    if (m_listener) m_listener(false);
}

void ChartModel::removeAllSeries() {
    m_series.clear();
    m_paletteCursor = 0;
    changed();
}

SeriesHandle ChartModel::createLineSeries() {
    auto series = std::make_shared<Series>();
    series->handle = m_nextHandle++;
    series->colour = kPalette[m_paletteCursor % kPalette.size()];
    ++m_paletteCursor;
    m_series.push_back(series);
    changed();
    return series->handle;
}

void ChartModel::setSeriesTitle(SeriesHandle series, const std::string& title) {
    Series* s = find(series);
    if (!s) return;
    s->title = title;
    changed();
}

std::string ChartModel::seriesTitle(SeriesHandle series) const {
    const Series* s = find(series);
    return s ? s->title : std::string();
}

void ChartModel::clearSeries(SeriesHandle series) {
    Series* s = find(series);
    if (!s) return;
    s->points.clear();
    s->marks.clear();
    changed();
}

void ChartModel::setSeriesMarks(SeriesHandle series, std::vector<double> xs) {
    Series* s = find(series);
    if (!s) return;
    s->marks = std::move(xs);
    changed();
}

const std::vector<double>& ChartModel::seriesMarks(SeriesHandle series) const {
    static const std::vector<double> none;
    const Series* s = find(series);
    return s ? s->marks : none;
}

void ChartModel::addPoint(SeriesHandle series, double x, double y) {
    Series* s = find(series);
    if (!s) return;
    placeOne(s->points, {x, y});
    changed();
}

void ChartModel::addPoints(SeriesHandle series, const std::vector<ChartPoint>& added) {
    Series* s = find(series);
    if (!s) return;
    auto& points = s->points;
    if (&added == &points) {
        // Doubling a series with its own points: inserting from a vector into
        // itself is undefined, so work from a copy.
        const std::vector<ChartPoint> copy = added;
        addPoints(series, copy);
        return;
    }
    if (anyNaNX(added) || anyNaNX(points)) {
        // NaN breaks the ordering a merge relies on; place one by one so the
        // outcome stays identical. Never seen with real spectra.
        for (const auto& p : added)
            placeOne(points, p);
        changed();
        return;
    }
    // One-by-one insertion after equal X amounts to a stable sort of the new
    // points followed by a stable merge in which old points win ties.
    const auto oldSize = static_cast<std::ptrdiff_t>(points.size());
    points.insert(points.end(), added.begin(), added.end());
    const auto firstNew = points.begin() + oldSize;
    if (!std::is_sorted(firstNew, points.end(), byX)) std::stable_sort(firstNew, points.end(), byX);
    if (oldSize > 0 && firstNew != points.end() && firstNew->x < (firstNew - 1)->x) {
        std::inplace_merge(points.begin(), firstNew, points.end(), byX);
    }
    changed();
}

SeriesHandle ChartModel::seriesByIndex(std::size_t index) const {
    return index < m_series.size() ? m_series[index]->handle : kNoSeries;
}

void ChartModel::removeSeries(SeriesHandle series) {
    const auto it = std::find_if(m_series.begin(), m_series.end(),
                                 [series](const auto& s) { return series != kNoSeries && s->handle == series; });
    if (it == m_series.end()) return;
    m_series.erase(it);
    changed();
}

std::uint32_t ChartModel::seriesColour(SeriesHandle series) const {
    const Series* s = find(series);
    return s ? s->colour : 0;
}

std::size_t ChartModel::seriesCount() const {
    return m_series.size();
}

int ChartModel::seriesIndex(SeriesHandle series) const {
    for (std::size_t i = 0; i < m_series.size(); ++i) {
        if (series != kNoSeries && m_series[i]->handle == series) return static_cast<int>(i);
    }
    return -1;
}

const std::vector<ChartPoint>& ChartModel::seriesPoints(SeriesHandle series) const {
    const Series* s = find(series);
    return s ? s->points : noPoints();
}

void ChartModel::setLegendVisible(bool on) {
    m_legendVisible = on;
    changed();
}

bool ChartModel::legendVisible() const {
    return m_legendVisible;
}

void ChartModel::setTitleVisible(bool on) {
    m_titleVisible = on;
    changed();
}

bool ChartModel::titleVisible() const {
    return m_titleVisible;
}

void ChartModel::setAxisAutomaticMinimum(ChartAxis which, bool on) {
    axis(which).automaticMinimum = on;
    changed();
}

void ChartModel::setAxisAutomaticMaximum(ChartAxis which, bool on) {
    axis(which).automaticMaximum = on;
    changed();
}

bool ChartModel::axisAutomaticMinimum(ChartAxis which) const {
    return axis(which).automaticMinimum;
}

bool ChartModel::axisAutomaticMaximum(ChartAxis which) const {
    return axis(which).automaticMaximum;
}

void ChartModel::setAxisMinimum(ChartAxis which, double value) {
    axis(which).minimum = value;
    changed();
}

void ChartModel::setAxisMaximum(ChartAxis which, double value) {
    axis(which).maximum = value;
    changed();
}

double ChartModel::currentAxisMinimum(ChartAxis which) const {
    const Axis& a = axis(which);
    return a.automaticMinimum ? a.computedMinimum : a.minimum;
}

double ChartModel::currentAxisMaximum(ChartAxis which) const {
    const Axis& a = axis(which);
    return a.automaticMaximum ? a.computedMaximum : a.maximum;
}

void ChartModel::setAxisDesiredIncrement(ChartAxis which, double step) {
    axis(which).desiredIncrement = step;
    changed();
}

double ChartModel::axisDesiredIncrement(ChartAxis which) const {
    return axis(which).desiredIncrement;
}

void ChartModel::setAxisTitleCaption(ChartAxis which, const std::string& caption) {
    axis(which).caption = caption;
    changed();
}

std::string ChartModel::axisTitleCaption(ChartAxis which) const {
    return axis(which).caption;
}

void ChartModel::setAxisTitlePosition(ChartAxis which, TitlePosition position) {
    axis(which).titlePosition = position;
    changed();
}

TitlePosition ChartModel::axisTitlePosition(ChartAxis which) const {
    return axis(which).titlePosition;
}

void ChartModel::recomputeAutomaticBounds() {
    constexpr double inf = std::numeric_limits<double>::infinity();
    double xMin = inf, xMax = -inf, yMin = inf, yMax = -inf;
    for (const auto& s : m_series) {
        for (const auto& p : s->points) {
            // A non-finite value would stretch the axis to nothing useful.
            if (std::isfinite(p.x)) {
                xMin = std::min(xMin, p.x);
                xMax = std::max(xMax, p.x);
            }
            if (std::isfinite(p.y)) {
                yMin = std::min(yMin, p.y);
                yMax = std::max(yMax, p.y);
            }
        }
    }
    // With nothing to measure, the previous bounds stay, so an emptied chart
    // does not jump back to zero.
    if (xMin <= xMax) {
        m_bottom.computedMinimum = xMin;
        m_bottom.computedMaximum = xMax;
    }
    if (yMin <= yMax) {
        m_left.computedMinimum = yMin;
        m_left.computedMaximum = WithHeadroom(yMin, yMax);
    }
}

void ChartModel::redrawNow() {
    recomputeAutomaticBounds();
    if (m_listener) m_listener(true);
}

void ChartModel::setListener(Listener listener) {
    m_listener = std::move(listener);
}

} // namespace veltrane
