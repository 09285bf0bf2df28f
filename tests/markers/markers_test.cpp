#include "markers/markers.h"

#include <gtest/gtest.h>

#include "app/chart_setup.h"

namespace veltrane {
namespace {

// A spectrum chart as the program sets it up, and a calibrated 179 device
// whose X values are 100, 200, ... so window edges fall on known pixels.
class Markers : public ::testing::Test {
protected:
    ProgramState state;
    ChartModel chart;
    MarkerSeries series;
    SeriesHandle measured = kNoSeries;

    void SetUp() override {
        ApplyStartupValues(state);
        state.deviceType = 179;
        state.waveCalValid = true;
        state.pixelCount = 50;
        for (int p = 0; p < 50; ++p) {
            state.spectrum.axis[p] = 100.0f * static_cast<float>(p + 1);
            state.spectrum.signal[p] = 1000.0f + static_cast<float>(p);
            state.spectrum.dark[p] = 100.0f;
        }
        state.spectrum.haveMeasured = true;
        measured = SetUpSpectrumChart(chart, state, kNoSeries);
    }
    std::vector<std::uint8_t> slots() const { return {state.markerSlots.begin(), state.markerSlots.end()}; }
    std::string titleAt(std::size_t position) const { return chart.seriesTitle(chart.seriesByIndex(position)); }
    bool take() { return TakeMarker(state, chart, series); }
};

TEST_F(Markers, SixInARowThenTheSeventhChangesNothing) {
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(take());
    EXPECT_EQ(slots(), (std::vector<std::uint8_t>{8, 9, 10, 11, 12, 13, 0}));
    EXPECT_EQ(state.markerCount, 6);
    EXPECT_EQ(state.markerNameCounter, 6);
    ASSERT_EQ(chart.seriesCount(), 7u);
    EXPECT_EQ(titleAt(0), "Real");
    for (std::size_t i = 1; i <= 6; ++i) {
        EXPECT_EQ(titleAt(i), "Serise" + std::to_string(i));
        EXPECT_EQ(chart.seriesByIndex(i), series.byId[i - 1]);
    }
    EXPECT_TRUE(chart.legendVisible());

    EXPECT_FALSE(take());
    EXPECT_EQ(state.markerCount, 6);
    EXPECT_EQ(state.markerNameCounter, 6);
    EXPECT_EQ(chart.seriesCount(), 7u);
}

TEST_F(Markers, DeletedMiddleMarkerFreesItsIdButTheNameCounterRunsOn) {
    take();
    take();
    take();
    SeriesHandle third = series.of(10);
    ASSERT_TRUE(DeleteMarker(state, chart, series, 2));
    EXPECT_EQ(slots(), (std::vector<std::uint8_t>{8, 10, 0, 0, 0, 0, 0}));
    EXPECT_EQ(state.markerCount, 2);
    EXPECT_EQ(series.of(9), kNoSeries);
    EXPECT_EQ(chart.seriesByIndex(2), third);

    take();
    EXPECT_EQ(slots(), (std::vector<std::uint8_t>{8, 10, 9, 0, 0, 0, 0}));
    ASSERT_EQ(chart.seriesCount(), 4u);
    EXPECT_EQ(titleAt(3), "Serise4");
    EXPECT_EQ(chart.seriesByIndex(3), series.of(9));
    EXPECT_TRUE(chart.legendVisible());
}

TEST_F(Markers, RemovingTheLastMarkerHidesTheLegendAndRestartsTheNames) {
    take();
    take();
    EXPECT_TRUE(DeleteMarker(state, chart, series, 1));
    EXPECT_TRUE(chart.legendVisible()); // one left
    EXPECT_TRUE(DeleteMarker(state, chart, series, 1));
    EXPECT_FALSE(chart.legendVisible());
    EXPECT_EQ(state.markerNameCounter, 0);
    EXPECT_EQ(chart.seriesCount(), 1u);

    take();
    EXPECT_EQ(titleAt(1), "Serise1");
    EXPECT_EQ(state.markerSlots[0], 8);
    EXPECT_TRUE(chart.legendVisible());

    take();
    take();
    DeleteAllMarkers(state, chart, series);
    EXPECT_EQ(slots(), std::vector<std::uint8_t>(7, 0));
    EXPECT_EQ(state.markerCount, 0);
    EXPECT_EQ(state.markerNameCounter, 0);
    EXPECT_FALSE(chart.legendVisible());
    ASSERT_EQ(chart.seriesCount(), 1u);
    EXPECT_EQ(chart.seriesByIndex(0), measured);
    take();
    EXPECT_EQ(titleAt(1), "Serise1");
}

TEST_F(Markers, RowsWithoutAMarkerAreNotDeleted) {
    EXPECT_FALSE(DeleteMarker(state, chart, series, 1)); // none yet
    take();
    take();
    EXPECT_FALSE(DeleteMarker(state, chart, series, 0));
    EXPECT_FALSE(DeleteMarker(state, chart, series, 3));
    EXPECT_EQ(state.markerCount, 2);
    EXPECT_EQ(chart.seriesCount(), 3u);
}

TEST_F(Markers, PointsAreTheDarkCorrectedSpectrumStrictlyInsideTheWindow) {
    state.spectrum.dark[5] = 2000.0f; // X 600: darker than the sample
    take();
    const std::vector<ChartPoint>& points = chart.seriesPoints(series.of(8));
    // X 500 .. 3900 for a 179: both 400 and 4000 are outside, and so is all
    // beyond pixelCount (X 5000) even though the buffers hold values there.
    ASSERT_EQ(points.size(), 35u);
    EXPECT_EQ(points.front().x, 500.0);
    EXPECT_EQ(points.front().y, 904.0); // pixel 4
    EXPECT_EQ(points[1].x, 600.0);
    EXPECT_EQ(points[1].y, 0.0);
    EXPECT_EQ(points.back().x, 3900.0);
    EXPECT_EQ(points.back().y, 938.0);
}

TEST_F(Markers, WindowFollowsTheDeviceTypeOfTheShownData) {
    state.deviceType = 180;
    take();
    const std::vector<ChartPoint>& points = chart.seriesPoints(series.of(8));
    ASSERT_EQ(points.size(), 25u); // 500 .. 2900
    EXPECT_EQ(points.back().x, 2900.0);

    // File data answers to the file's model code, not the instrument's type.
    state.spectrum.haveMeasured = false;
    state.spectrum.haveFileData = true;
    state.rawFile.header.setModelCode(0);
    EXPECT_EQ(ChooseMarkerWindow(state).hi, 4000);
    state.rawFile.header.setModelCode(180);
    state.deviceType = 179;
    EXPECT_EQ(ChooseMarkerWindow(state).hi, 3000);
    // An uncalibrated instrument does not matter once the data is a file's.
    state.waveCalValid = false;
    EXPECT_EQ(ChooseMarkerWindow(state).hi, 3000);
}

TEST_F(Markers, UncalibratedLiveDataUsesTheDisplayRange) {
    state.waveCalValid = false;
    state.displayLow = 1;
    state.displayHigh = 1500;
    MarkerWindow w = ChooseMarkerWindow(state);
    EXPECT_EQ(w.lo, 1);
    EXPECT_EQ(w.hi, 1500);
    EXPECT_EQ(MarkerPoints(state, w).size(), 14u); // X 100 .. 1400
}

TEST_F(Markers, OtherTypesUseTheDisplayRangeAndNoDataGivesAnEmptyMarker) {
    state.deviceType = 1;
    state.displayLow = 1000;
    state.displayHigh = 2000;
    EXPECT_EQ(MarkerPoints(state, ChooseMarkerWindow(state)).size(), 9u); // 1100 .. 1900

    state.spectrum.haveMeasured = false;
    take();
    EXPECT_TRUE(chart.seriesPoints(series.of(8)).empty());
    EXPECT_EQ(titleAt(1), "Serise1");
    EXPECT_TRUE(chart.legendVisible());
}

TEST_F(Markers, MarkersSurviveTheChartSetUpOfANewIdentification) {
    take();
    take();
    std::vector<ChartPoint> frozen = chart.seriesPoints(series.of(9));
    chart.addPoint(measured, 1.0, 2.0);
    state.displayHigh = 3000;
    SeriesHandle again = SetUpSpectrumChart(chart, state, measured);
    EXPECT_EQ(again, measured);
    EXPECT_TRUE(chart.seriesPoints(measured).empty());
    ASSERT_EQ(chart.seriesCount(), 3u);
    EXPECT_EQ(chart.seriesByIndex(2), series.of(9));
    EXPECT_EQ(chart.seriesPoints(series.of(9)).size(), frozen.size());
    EXPECT_TRUE(chart.legendVisible());
}

TEST_F(Markers, RenameAndTableFollowChartPositions) {
    take();
    take();
    take();
    EXPECT_TRUE(RenameMarker(chart, 3, ""));
    EXPECT_EQ(titleAt(3), "");
    EXPECT_FALSE(RenameMarker(chart, 4, "x"));
    EXPECT_FALSE(RenameMarker(chart, 0, "x")); // the measured series keeps "Real"
    EXPECT_EQ(state.markerNameCounter, 3);

    std::uint32_t first = chart.seriesColour(series.of(8));
    std::uint32_t third = chart.seriesColour(series.of(10));
    DeleteMarker(state, chart, series, 2);
    MarkerTableContent table = FillMarkerTable(state, chart);
    ASSERT_EQ(table.rows.size(), 2u);
    EXPECT_EQ(table.rows[0].title, "Serise1");
    EXPECT_EQ(table.rows[1].title, "");
    EXPECT_EQ(table.swatchColour[0], first);
    EXPECT_EQ(table.swatchColour[1], third);
    EXPECT_NE(first, third);
    EXPECT_EQ(table.swatchShown, (std::array<bool, 6>{true, true, false, false, false, false}));

    DeleteAllMarkers(state, chart, series);
    table = FillMarkerTable(state, chart);
    EXPECT_TRUE(table.rows.empty());
    EXPECT_EQ(table.swatchShown, (std::array<bool, 6>{}));
}

} // namespace
} // namespace veltrane
