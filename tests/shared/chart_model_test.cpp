#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "shared/chart_model.h"

namespace veltrane {
namespace {

using Points = std::vector<ChartPoint>;

// NaN-aware, so the NaN case can be compared like any other.
void expectSamePoints(const Points& got, const Points& want) {
    ASSERT_EQ(got.size(), want.size());
    const auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_TRUE(same(got[i].x, want[i].x) && same(got[i].y, want[i].y)) << "point " << i;
    }
}

TEST(ChartModelSeries, PositionsCloseUpAndStaleHandlesAreHarmless) {
    ChartModel chart;
    const SeriesHandle a = chart.createLineSeries();
    const SeriesHandle b = chart.createLineSeries();
    const SeriesHandle c = chart.createLineSeries();
    chart.addPoint(b, 1.0, 2.0);
    chart.removeSeries(b);
    EXPECT_EQ(chart.seriesByIndex(0), a);
    EXPECT_EQ(chart.seriesByIndex(1), c);
    EXPECT_EQ(chart.seriesByIndex(2), kNoSeries);
    EXPECT_EQ(chart.seriesIndex(c), 1);
    EXPECT_NE(chart.createLineSeries(), b); // never handed out twice

    const std::uint64_t before = chart.revision();
    chart.addPoints(b, {{3.0, 4.0}});
    chart.setSeriesTitle(b, "gone");
    chart.removeSeries(b);
    EXPECT_EQ(chart.revision(), before);
    EXPECT_TRUE(chart.seriesPoints(b).empty());
    EXPECT_EQ(chart.seriesIndex(b), -1);
    EXPECT_EQ(chart.seriesCount(), 3u);
    chart.removeAllSeries();
    EXPECT_TRUE(chart.seriesTitle(a).empty() && chart.seriesPoints(a).empty());
}

TEST(ChartModelPoints, KeepsAscendingXAndPutsEqualXAfterExistingOnes) {
    ChartModel chart;
    const SeriesHandle s = chart.createLineSeries();
    for (const auto& p : Points{{10, 1}, {30, 2}, {20, 3}, {5, 4}, {20, 5}, {20, 6}})
        chart.addPoint(s, p.x, p.y);
    expectSamePoints(chart.seriesPoints(s), {{5, 4}, {10, 1}, {20, 3}, {20, 5}, {20, 6}, {30, 2}});
}

// The reference is the one-by-one result on a second series of the same chart.
void expectBatchMatchesOneByOne(const Points& existing, const Points& added) {
    ChartModel chart;
    const SeriesHandle batch = chart.createLineSeries();
    const SeriesHandle single = chart.createLineSeries();
    chart.addPoints(batch, existing);
    for (const auto& p : existing)
        chart.addPoint(single, p.x, p.y);
    chart.addPoints(batch, added);
    for (const auto& p : added)
        chart.addPoint(single, p.x, p.y);
    expectSamePoints(chart.seriesPoints(batch), chart.seriesPoints(single));
}

TEST(ChartModelPoints, AddPointsMatchesAddingOneByOne) {
    expectBatchMatchesOneByOne({{1, 1}, {2, 2}}, {{2, 3}, {3, 4}, {4, 5}});                         // appended
    expectBatchMatchesOneByOne({{1, 1}, {3, 2}, {3, 3}, {5, 4}}, {{0, 5}, {3, 6}, {3, 7}, {9, 9}}); // reaching back
    expectBatchMatchesOneByOne({}, {{5, 1}, {2, 2}, {5, 3}, {1, 4}, {2, 5}});                       // unsorted
    expectBatchMatchesOneByOne({{1, 1}, {3, 3}}, {{2, 2}, {std::nan(""), 4}, {0, 5}});              // NaN

    // Random mixes on a coarse X grid, so ties are common.
    std::mt19937 random(7);
    std::uniform_int_distribution<int> grid(0, 20);
    for (int round = 0; round < 50; ++round) {
        Points existing, added;
        for (int i = 0; i < round % 13; ++i)
            existing.push_back({double(grid(random)), double(i)});
        for (int i = 0; i < 30; ++i)
            added.push_back({double(grid(random)), 100.0 + i});
        expectBatchMatchesOneByOne(existing, added);
    }

    ChartModel chart; // a series fed its own points
    const SeriesHandle s = chart.createLineSeries();
    chart.addPoints(s, {{1, 1}, {2, 2}});
    chart.addPoints(s, chart.seriesPoints(s));
    expectSamePoints(chart.seriesPoints(s), {{1, 1}, {1, 1}, {2, 2}, {2, 2}});
}

double contrastOnWhite(std::uint32_t c) {
    const auto channel = [c](int shift) {
        const double v = ((c >> shift) & 0xFF) / 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 1.05 / (0.2126 * channel(16) + 0.7152 * channel(8) + 0.0722 * channel(0) + 0.05);
}

double distance(std::uint32_t a, std::uint32_t b) {
    const auto d = [&](int shift) { return double(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)); };
    return std::sqrt(d(16) * d(16) + d(8) * d(8) + d(0) * d(0));
}

TEST(ChartModelColours, EachSeriesTakesTheNextDistinctReadableColour) {
    ChartModel chart;
    std::vector<std::uint32_t> colours;
    for (int i = 0; i < 15; ++i)
        colours.push_back(chart.seriesColour(chart.createLineSeries()));
    for (std::size_t i = 0; i < colours.size(); ++i) {
        EXPECT_GE(contrastOnWhite(colours[i]), 3.0) << "colour " << i << " too pale";
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_GE(distance(colours[i], colours[j]), 60.0) << "colours " << j << " and " << i;
    }
    // The palette wraps; removing one series does not rewind it, clearing all does.
    chart.removeSeries(chart.seriesByIndex(3));
    EXPECT_EQ(chart.seriesColour(chart.createLineSeries()), colours[0]);
    chart.removeAllSeries();
    EXPECT_EQ(chart.seriesColour(chart.createLineSeries()), colours[0]);
    EXPECT_EQ(chart.seriesColour(chart.createLineSeries()), colours[1]);
}

TEST(ChartModelAxes, BoundsInForceFollowTheAutomaticFlagsAndTheLastRedraw) {
    ChartModel chart;
    chart.redrawNow(); // no data: nothing computed yet
    EXPECT_EQ(chart.currentAxisMaximum(ChartAxis::Left), 0.0);

    const SeriesHandle a = chart.createLineSeries();
    const SeriesHandle b = chart.createLineSeries();
    chart.addPoints(a, {{400, -5}, {900, 70}});
    chart.addPoints(b, {{150, 12}, {3200, 40}, {500, std::nan("")}});
    EXPECT_EQ(chart.currentAxisMaximum(ChartAxis::Bottom), 0.0) << "bounds move only on a redraw";
    chart.redrawNow();
    EXPECT_EQ(chart.currentAxisMinimum(ChartAxis::Bottom), 150.0);
    EXPECT_EQ(chart.currentAxisMaximum(ChartAxis::Bottom), 3200.0);
    EXPECT_EQ(chart.currentAxisMinimum(ChartAxis::Left), -5.0);
    EXPECT_EQ(chart.currentAxisMaximum(ChartAxis::Left), 73.75); // 70 and 5 % of the 75 span above it

    chart.setAxisAutomaticMinimum(ChartAxis::Bottom, false);
    chart.setAxisMinimum(ChartAxis::Bottom, 400);
    chart.setAxisMaximum(ChartAxis::Bottom, 4000); // stored, but the automatic maximum still rules
    EXPECT_EQ(chart.currentAxisMinimum(ChartAxis::Bottom), 400.0);
    EXPECT_EQ(chart.currentAxisMaximum(ChartAxis::Bottom), 3200.0);
    chart.removeAllSeries(); // emptied: the last computed bounds stay
    chart.recomputeAutomaticBounds();
    EXPECT_EQ(chart.currentAxisMinimum(ChartAxis::Left), -5.0);
}

TEST(ChartModelListener, MutationsNotifyLaterAndRedrawNotifiesNowWithFreshBounds) {
    ChartModel chart;
    std::vector<bool> calls;
    double maximumSeen = -1.0;
    chart.setListener([&](bool immediate) {
        calls.push_back(immediate);
        if (immediate) maximumSeen = chart.currentAxisMaximum(ChartAxis::Bottom);
    });
    const SeriesHandle s = chart.createLineSeries();
    chart.addPoints(s, {{1, 1}, {8, 2}});
    chart.setAxisTitleCaption(ChartAxis::Left, "Intensity");
    chart.setLegendVisible(true);
    EXPECT_EQ(calls, (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(chart.revision(), 4u);

    chart.redrawNow();
    EXPECT_EQ(calls.back(), true);
    EXPECT_EQ(maximumSeen, 8.0);
}

} // namespace
} // namespace veltrane
