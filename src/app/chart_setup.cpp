#include "app/chart_setup.h"

namespace veltrane {

namespace {

void SetUpLeftAxisAndTitles(ChartModel& chart) {
    chart.setAxisAutomaticMinimum(ChartAxis::Left, false);
    chart.setAxisAutomaticMaximum(ChartAxis::Left, false);
    chart.setAxisMaximum(ChartAxis::Left, 65535);
    chart.setAxisMinimum(ChartAxis::Left, 0);
    chart.setAxisDesiredIncrement(ChartAxis::Left, 5000);
    chart.setAxisTitlePosition(ChartAxis::Left, TitlePosition::Centre);
    chart.setAxisTitleCaption(ChartAxis::Left, "Intensity(a.u.)");
    chart.setAxisTitlePosition(ChartAxis::Bottom, TitlePosition::Centre);
    chart.setAxisTitleCaption(ChartAxis::Bottom, "Ramanshift(cm-1)");
}

} // namespace

SeriesHandle SetUpSpectrumChart(ChartModel& chart, const ProgramState& state, SeriesHandle measured) {
    if (state.markers.markerCount != 0 && chart.seriesIndex(measured) >= 0) {
        chart.clearSeries(measured);
        return measured;
    }
    chart.removeAllSeries();
    measured = chart.createLineSeries();
    chart.setSeriesTitle(measured, kMeasuredSeriesTitle);
    chart.setLegendVisible(false);
    chart.setAxisAutomaticMinimum(ChartAxis::Bottom, false);
    chart.setAxisAutomaticMaximum(ChartAxis::Bottom, false);
    chart.setAxisMinimum(ChartAxis::Bottom, state.device.displayLow);
    chart.setAxisMaximum(ChartAxis::Bottom, state.device.displayHigh);
    SetUpLeftAxisAndTitles(chart);
    return measured;
}

void SetUpLibraryChart(ChartModel& chart) {
    chart.removeAllSeries();
    chart.createLineSeries();
    chart.setLegendVisible(false);
    chart.setAxisAutomaticMinimum(ChartAxis::Bottom, false);
    chart.setAxisAutomaticMaximum(ChartAxis::Bottom, false);
    chart.setAxisMinimum(ChartAxis::Bottom, 400);
    chart.setAxisMaximum(ChartAxis::Bottom, 4000);
    SetUpLeftAxisAndTitles(chart);
}

} // namespace veltrane
