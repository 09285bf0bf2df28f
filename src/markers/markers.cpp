#include "markers/markers.h"

#include "device/device_info.h"
#include "measure/measurement_session.h"

#include <algorithm>

namespace veltrane {

namespace {

constexpr std::size_t kSlotEntries = 7; // six markers and the 0 the packing shifts in

bool IdTaken(const MarkerSet& markers, std::uint8_t id) {
    return std::find(markers.markerSlots.begin(), markers.markerSlots.end(), id) != markers.markerSlots.end();
}

// 0 when every id is taken, which the count check rules out.
std::uint8_t SmallestFreeId(const MarkerSet& markers) {
    for (std::uint8_t id = kFirstMarkerId; id <= kLastMarkerId; ++id)
        if (!IdTaken(markers, id)) return id;
    return 0;
}

} // namespace

MarkerWindow ChooseMarkerWindow(const MeasurementSession& session, const DeviceInfo& device) {
    const SpectrumStore& s = session.spectrum;
    if (!s.haveMeasured && !s.haveFileData) return {};
    std::uint16_t type = s.haveMeasured ? device.deviceType : session.rawFile.header.modelCode();
    MarkerWindow window;
    if (type == 0 || type == 179)
        window = {400, 4000};
    else if (type == 180)
        window = {400, 3000};
    else
        window = {device.displayLow, device.displayHigh};
    if (!device.waveCalValid && s.haveMeasured) window = {device.displayLow, device.displayHigh};
    return window;
}

std::vector<ChartPoint> MarkerPoints(const MeasurementSession& session, const DeviceInfo& device, MarkerWindow window) {
    const SpectrumStore& s = session.spectrum;
    std::vector<ChartPoint> points;
    if (ShowsForeignSpectrum(s)) {
        points.reserve(s.foreignAxis.size());
        for (std::size_t i = 0; i < s.foreignAxis.size(); ++i)
            points.push_back({s.foreignAxis[i], s.foreignSignal[i] < 0.0f ? 0.0 : s.foreignSignal[i]});
        return points;
    }
    std::size_t count = std::min<std::size_t>(device.pixelCount, kMaxPixels);
    double lo = window.lo;
    double hi = window.hi;
    for (std::size_t p = 0; p < count; ++p) {
        double x = s.axis[p];
        if (!(x > lo && x < hi)) continue;
        float y = s.signal[p] - s.dark[p];
        points.push_back({x, y < 0.0f ? 0.0 : static_cast<double>(y)});
    }
    return points;
}

bool TakeMarker(MarkerSet& markers, const MeasurementSession& session, const DeviceInfo& device, ChartModel& chart,
                MarkerSeries& series) {
    if (markers.markerCount >= kMaxMarkers) return false;
    std::uint8_t id = SmallestFreeId(markers);
    if (id == 0) return false;
    std::uint8_t entry = markers.markerCount;
    ++markers.markerNameCounter;
    ++markers.markerCount;
    markers.markerSlots[entry] = id;
    std::string name = kMarkerNamePrefix + std::to_string(markers.markerNameCounter);

    std::vector<ChartPoint> points = MarkerPoints(session, device, ChooseMarkerWindow(session, device));
    // Id 8 is free exactly when no marker exists, so this turns the legend on
    // with the first marker and the deletes turn it off with the last.
    if (id == kFirstMarkerId) chart.setLegendVisible(true);
    SeriesHandle handle = chart.createLineSeries();
    series.of(id) = handle;
    chart.setSeriesTitle(handle, name);
    chart.addPoints(handle, points);
    return true;
}

bool DeleteMarker(MarkerSet& markers, ChartModel& chart, MarkerSeries& series, int row) {
    if (row <= 0 || markers.markerCount == 0 || row > markers.markerCount) return false;
    std::size_t entry = static_cast<std::size_t>(row - 1);
    std::uint8_t id = markers.markerSlots[entry];
    if (id < kFirstMarkerId || id > kLastMarkerId) return false;
    chart.removeSeries(series.of(id));
    series.of(id) = kNoSeries;
    for (std::size_t i = entry; i + 1 < kSlotEntries; ++i)
        markers.markerSlots[i] = markers.markerSlots[i + 1];
    markers.markerSlots[kSlotEntries - 1] = 0;
    --markers.markerCount;
    if (markers.markerCount == 0) {
        chart.setLegendVisible(false);
        markers.markerNameCounter = 0;
    }
    return true;
}

void DeleteAllMarkers(MarkerSet& markers, ChartModel& chart, MarkerSeries& series) {
    for (std::size_t i = 0; i < markers.markerCount && i < kSlotEntries; ++i) {
        std::uint8_t id = markers.markerSlots[i];
        if (id < kFirstMarkerId || id > kLastMarkerId) continue;
        chart.removeSeries(series.of(id));
        series.of(id) = kNoSeries;
    }
    markers.markerSlots.fill(0);
    markers.markerCount = 0;
    markers.markerNameCounter = 0;
    chart.setLegendVisible(false);
}

bool RenameMarker(ChartModel& chart, int row, const std::string& name) {
    if (row <= 0) return false;
    SeriesHandle handle = chart.seriesByIndex(static_cast<std::size_t>(row));
    if (handle == kNoSeries) return false;
    chart.setSeriesTitle(handle, name);
    return true;
}

MarkerTableContent FillMarkerTable(const MarkerSet& markers, const ChartModel& chart) {
    MarkerTableContent content;
    for (std::size_t i = 0; i < kMaxMarkers; ++i) {
        if (markers.markerSlots[i] == 0) continue;
        // Row n is the series at chart position n: the measured spectrum
        // holds position 0 and the markers follow in slot order.
        SeriesHandle handle = chart.seriesByIndex(content.rows.size() + 1);
        MarkerTableRow row;
        if (handle != kNoSeries) {
            row.title = chart.seriesTitle(handle);
            row.colour = chart.seriesColour(handle);
        }
        content.rows.push_back(row);
        content.swatchShown[i] = true;
        content.swatchColour[i] = row.colour;
    }
    return content;
}

} // namespace veltrane
