#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "markers/marker_set.h"
#include "shared/chart_model.h"

namespace veltrane {

struct MeasurementSession;
struct DeviceInfo;

constexpr const char* kMaxMarkersMessage = "Max 6 Lines!";
constexpr const char* kNotSelectItemMessage = "Not Select Item!";
constexpr const char* kMarkerNamePrefix = "Serise";
constexpr std::uint8_t kMaxMarkers = 6;
constexpr std::uint8_t kFirstMarkerId = 8;
constexpr std::uint8_t kLastMarkerId = 13;

// The references Series8 .. Series13: the chart series of the marker with
// each id, kNoSeries while the id is free. The marker windows own it; the
// slots of the MarkerSet say which ids are taken.
struct MarkerSeries {
    std::array<SeriesHandle, kMaxMarkers> byId{};

    SeriesHandle& of(std::uint8_t id) { return byId[id - kFirstMarkerId]; }
    SeriesHandle of(std::uint8_t id) const { return byId[id - kFirstMarkerId]; }
};

// Only points with lo < X < hi go into a marker; lo == hi lets none through.
struct MarkerWindow {
    std::uint16_t lo = 0;
    std::uint16_t hi = 0;
};

// The X window for a marker of the spectrum now in the store.
//   - Live data: the instrument's DeviceType; file data: the model code of
//     the raw file read last.
//   - Types 0 and 179: 400..4000; type 180: 400..3000.
//   - Any other type: the current display range, which is what the spectrum
//     chart's bottom axis shows, so the marker holds what the user sees.
//   - Live data from an uncalibrated instrument: the display range (pixel
//     numbers) whatever the type.
//   - No data at all: an empty window. The store may still hold the frames
//     of an instrument identified before, and a marker of a spectrum nobody
//     can see would only mislead.
MarkerWindow ChooseMarkerWindow(const MeasurementSession& session, const DeviceInfo& device);

// The dark-corrected spectrum, negative values clipped to 0, restricted to
// the points strictly inside the window, in pixel order. A spectrum opened
// from another program's file is drawn whole at its own resolution, so its
// marker takes every one of its points, whatever the window.
std::vector<ChartPoint> MarkerPoints(const MeasurementSession& session, const DeviceInfo& device, MarkerWindow window);

// Takes a marker of the current spectrum: the next slot, the next name, the
// smallest free id, a new series appended to the chart. False, with nothing
// changed, when six markers exist already.
bool TakeMarker(MarkerSet& markers, const MeasurementSession& session, const DeviceInfo& device, ChartModel& chart,
                MarkerSeries& series);

// Removes the marker of table row `row` (1-based, row k is slot k - 1) and
// packs the slots behind it. False, with nothing changed, when the row holds
// no marker.
bool DeleteMarker(MarkerSet& markers, ChartModel& chart, MarkerSeries& series, int row);

void DeleteAllMarkers(MarkerSet& markers, ChartModel& chart, MarkerSeries& series);

// Gives the series at chart position `row` a new title; any text is taken.
// False when there is no such series.
bool RenameMarker(ChartModel& chart, int row, const std::string& name);

// What the marker table shows: grid rows 1..n and the six swatches.
struct MarkerTableRow {
    std::string title;
    std::uint32_t colour = 0; // 0xRRGGBB
};
struct MarkerTableContent {
    std::vector<MarkerTableRow> rows;
    std::array<bool, kMaxMarkers> swatchShown{};
    std::array<std::uint32_t, kMaxMarkers> swatchColour{};
};
MarkerTableContent FillMarkerTable(const MarkerSet& markers, const ChartModel& chart);

} // namespace veltrane
