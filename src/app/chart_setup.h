#pragma once

#include "shared/chart_model.h"
#include "app/program_state.h"

namespace veltrane {

constexpr const char* kMeasuredSeriesTitle = "Real";

// Prepares the spectrum chart for a new device: one measured series titled
// "Real", the display range on the bottom axis, 0..65535 on the left. While
// marker lines are on the chart only the measured series is emptied, so the
// markers keep their positions after it. Returns the measured series.
SeriesHandle SetUpSpectrumChart(ChartModel& chart, const ProgramState& state, SeriesHandle measured);

// The spectrum chart's X title for what its X values are: Raman shift with a
// calibration or a raw file's spectrum, otherwise what the axis falls back
// to, pixel numbers or (256-pixel sensors) wavelengths.
const char* SpectrumXAxisCaption(const ProgramState& state);

// Prepares the library chart: one empty series, 400..4000 on the bottom axis.
void SetUpLibraryChart(ChartModel& chart);

} // namespace veltrane
