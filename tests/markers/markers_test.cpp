#include "app/program_state.h"
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
        state.device.deviceType = 179;
        state.device.waveCalValid = true;
        state.device.pixelCount = 50;
        for (int p = 0; p < 50; ++p) {
            state.measurement.spectrum.axis[p] = 100.0f * static_cast<float>(p + 1);
            state.measurement.spectrum.signal[p] = 1000.0f + static_cast<float>(p);
            state.measurement.spectrum.dark[p] = 100.0f;
        }
        state.measurement.spectrum.haveMeasured = true;
        measured = SetUpSpectrumChart(chart, state, kNoSeries);
    }
    std::vector<std::uint8_t> slots() const {
        return {state.markers.markerSlots.begin(), state.markers.markerSlots.end()};
    }
    std::string titleAt(std::size_t position) const { return chart.seriesTitle(chart.seriesByIndex(position)); }
    bool take() { return TakeMarker(state.markers, state.measurement, state.device, chart, series); }
    std::size_t pointsIn(const ProgramState& s) {
        return MarkerPoints(s.measurement, s.device, ChooseMarkerWindow(s.measurement, s.device)).size();
    }
};

TEST_F(Markers, SlotsStayPackedIdsComeBackAndNamesRestartAfterTheLast) {
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(take());
    EXPECT_EQ(slots(), (std::vector<std::uint8_t>{8, 9, 10, 11, 12, 13, 0}));
    EXPECT_EQ(chart.seriesByIndex(6), series.of(13));
    EXPECT_FALSE(take());
    EXPECT_EQ(state.markers.markerNameCounter, 6);
    DeleteAllMarkers(state.markers, chart, series);
    EXPECT_EQ(slots(), std::vector<std::uint8_t>(7, 0));
    EXPECT_EQ(state.markers.markerNameCounter, 0);
    EXPECT_FALSE(chart.legendVisible());
    ASSERT_EQ(chart.seriesCount(), 1u);
    EXPECT_EQ(chart.seriesByIndex(0), measured);

    take();
    take();
    take();
    EXPECT_FALSE(DeleteMarker(state.markers, chart, series, 0));
    EXPECT_FALSE(DeleteMarker(state.markers, chart, series, 4));
    SeriesHandle third = series.of(10);
    ASSERT_TRUE(DeleteMarker(state.markers, chart, series, 2));
    EXPECT_EQ(slots(), (std::vector<std::uint8_t>{8, 10, 0, 0, 0, 0, 0}));
    EXPECT_EQ(chart.seriesByIndex(2), third);

    // The freed id comes back, at the end of the chart, under a new name.
    take();
    EXPECT_EQ(slots(), (std::vector<std::uint8_t>{8, 10, 9, 0, 0, 0, 0}));
    EXPECT_EQ(titleAt(3), "Serise4");
    EXPECT_EQ(chart.seriesByIndex(3), series.of(9));

    DeleteMarker(state.markers, chart, series, 1);
    DeleteMarker(state.markers, chart, series, 1);
    EXPECT_TRUE(chart.legendVisible()); // one left
    DeleteMarker(state.markers, chart, series, 1);
    EXPECT_FALSE(chart.legendVisible());
    EXPECT_EQ(state.markers.markerNameCounter, 0);
    take();
    EXPECT_EQ(titleAt(1), "Serise1");
    EXPECT_TRUE(chart.legendVisible());
}

TEST_F(Markers, PointsAreTheDarkCorrectedSpectrumStrictlyInsideTheWindow) {
    state.measurement.spectrum.dark[5] = 2000.0f; // X 600: darker than the sample
    take();
    const std::vector<ChartPoint>& points = chart.seriesPoints(series.of(8));
    // X 500 .. 3900 for a 179: both 400 and 4000 are outside, and so is all
    // beyond pixelCount (X 5000) even though the buffers hold values there.
    ASSERT_EQ(points.size(), 35u);
    EXPECT_EQ(points.front().x, 500.0);
    EXPECT_EQ(points.front().y, 904.0); // pixel 4
    EXPECT_EQ(points[1].y, 0.0);
    EXPECT_EQ(points.back().x, 3900.0);
}

TEST_F(Markers, WindowFollowsTheDeviceTypeOfTheShownData) {
    state.device.deviceType = 180;
    EXPECT_EQ(pointsIn(state), 25u); // 500 .. 2900

    // File data answers to the file's model code, not the instrument's type,
    // and an uncalibrated instrument no longer matters.
    state.measurement.spectrum.haveMeasured = false;
    state.measurement.spectrum.haveFileData = true;
    state.device.waveCalValid = false;
    state.measurement.rawFile.header.setModelCode(0);
    EXPECT_EQ(pointsIn(state), 35u);
    state.measurement.rawFile.header.setModelCode(180);
    state.device.deviceType = 179;
    EXPECT_EQ(pointsIn(state), 25u);

    // Uncalibrated live data: the display range, in pixel numbers.
    state.measurement.spectrum.haveMeasured = true;
    state.measurement.spectrum.haveFileData = false;
    state.device.displayLow = 1;
    state.device.displayHigh = 1500;
    EXPECT_EQ(pointsIn(state), 14u); // 100 .. 1400

    // Other types: the display range as well.
    state.device.waveCalValid = true;
    state.device.deviceType = 1;
    state.device.displayLow = 1000;
    state.device.displayHigh = 2000;
    EXPECT_EQ(pointsIn(state), 9u);

    // Nothing shown: a named, empty marker that still turns the legend on.
    state.measurement.spectrum.haveMeasured = false;
    take();
    EXPECT_TRUE(chart.seriesPoints(series.of(8)).empty());
    EXPECT_EQ(titleAt(1), "Serise1");
    EXPECT_TRUE(chart.legendVisible());
}

} // namespace
} // namespace veltrane
