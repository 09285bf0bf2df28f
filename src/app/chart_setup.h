#pragma once

#include "app/program_state.h"
#include "shared/chart_model.h"

namespace veltrane {

constexpr const char* kMeasuredSeriesTitle = "Real";

// Prepares the spectrum chart for a new device: one measured series titled
// "Real", the display range on the bottom axis, 0..65535 on the left. While
// marker lines are on the chart only the measured series is emptied, so the
// markers keep their positions after it. Returns the measured series.
SeriesHandle SetUpSpectrumChart(ChartModel& chart, const ProgramState& state, SeriesHandle measured);

// Prepares the library chart: one empty series, 400..4000 on the bottom axis.
void SetUpLibraryChart(ChartModel& chart);

} // namespace veltrane
