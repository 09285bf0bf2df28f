#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace veltrane {

// The chart operations the program relies on, as plain data: series with
// points kept in X order, colours from a palette, two axes with automatic or
// fixed bounds, a legend and axis titles. The Qt view only renders what this
// holds, so every rule about series positions and bounds is testable here.
enum class ChartAxis : std::uint8_t { Bottom, Left };
enum class TitlePosition : std::uint8_t { Start, Centre, End };

struct ChartPoint {
    double x;
    double y;
};

// A series is referred to by a handle that stays valid until the series is
// removed; positions change as series before it are removed.
using SeriesHandle = std::uint64_t;
constexpr SeriesHandle kNoSeries = 0;

class ChartModel {
public:
    ChartModel();

    // Series.
    void removeAllSeries();
    SeriesHandle createLineSeries();
    void setSeriesTitle(SeriesHandle series, const std::string& title);
    std::string seriesTitle(SeriesHandle series) const;
    void clearSeries(SeriesHandle series);
    void addPoint(SeriesHandle series, double x, double y);
    // Many points at once, same result as adding them one by one, in one pass.
    void addPoints(SeriesHandle series, const std::vector<ChartPoint>& points);
    SeriesHandle seriesByIndex(std::size_t index) const; // kNoSeries when out of range
    void removeSeries(SeriesHandle series);
    std::uint32_t seriesColour(SeriesHandle series) const; // 0xRRGGBB
    std::size_t seriesCount() const;
    int seriesIndex(SeriesHandle series) const; // -1 when not attached
    const std::vector<ChartPoint>& seriesPoints(SeriesHandle series) const;
    // Points of a series to be marked as suspect (clipped by the converter),
    // by their X. Clearing or removing the series drops its marks, so marks
    // never outlive the curve they were set for.
    void setSeriesMarks(SeriesHandle series, std::vector<double> xs);
    const std::vector<double>& seriesMarks(SeriesHandle series) const;

    // Legend and title.
    void setLegendVisible(bool on);
    bool legendVisible() const;
    void setTitleVisible(bool on);
    bool titleVisible() const;

    // Axes.
    void setAxisAutomaticMinimum(ChartAxis axis, bool on);
    void setAxisAutomaticMaximum(ChartAxis axis, bool on);
    bool axisAutomaticMinimum(ChartAxis axis) const;
    bool axisAutomaticMaximum(ChartAxis axis) const;
    void setAxisMinimum(ChartAxis axis, double value);
    void setAxisMaximum(ChartAxis axis, double value);
    // The bounds in force: the set bound while automatic is off, otherwise the
    // one computed from the data at the last redraw (the left axis's maximum
    // with a little headroom above the highest point).
    double currentAxisMinimum(ChartAxis axis) const;
    double currentAxisMaximum(ChartAxis axis) const;
    void setAxisDesiredIncrement(ChartAxis axis, double step);
    double axisDesiredIncrement(ChartAxis axis) const;
    void setAxisTitleCaption(ChartAxis axis, const std::string& caption);
    std::string axisTitleCaption(ChartAxis axis) const;
    void setAxisTitlePosition(ChartAxis axis, TitlePosition position);
    TitlePosition axisTitlePosition(ChartAxis axis) const;

    // Recomputes the automatic bounds from the data and asks the view to
    // repaint before returning.
    void redrawNow();
    // The recompute redrawNow() does, without telling the listener: the view
    // calls it before every repaint it schedules itself.
    void recomputeAutomaticBounds();

    // The view registers here; it is told after every change (it coalesces
    // repaints itself) and, with `immediate`, when a redraw must happen now.
    using Listener = std::function<void(bool immediate)>;
    void setListener(Listener listener);
    std::uint64_t revision() const { return m_revision; }

private:
    struct Series; // defined in the .cpp

    struct Axis {
        bool automaticMinimum = true;
        bool automaticMaximum = true;
        double minimum = 0.0;
        double maximum = 100.0;
        double computedMinimum = 0.0; // from the data at the last redraw
        double computedMaximum = 0.0;
        double desiredIncrement = 0.0;
        std::string caption;
        TitlePosition titlePosition = TitlePosition::Centre;
    };

    // A model feeds exactly one view through its listener, and shared_ptr is
    // what lets Series stay incomplete here; a copy would share series.
    ChartModel(const ChartModel&) = delete;
    ChartModel& operator=(const ChartModel&) = delete;

    Series* find(SeriesHandle series) const;
    Axis& axis(ChartAxis which) { return which == ChartAxis::Bottom ? m_bottom : m_left; }
    const Axis& axis(ChartAxis which) const { return which == ChartAxis::Bottom ? m_bottom : m_left; }
    void changed();

    std::vector<std::shared_ptr<Series>> m_series; // in display order
    SeriesHandle m_nextHandle = 1;                 // never reused, so stale handles find nothing
    std::size_t m_paletteCursor = 0;
    bool m_legendVisible = false;
    bool m_titleVisible = false;
    Axis m_bottom;
    Axis m_left;
    Listener m_listener;
    std::uint64_t m_revision = 0;
};

} // namespace veltrane
