#include "library/library_drawing.h"

#include <cmath>
#include <limits>

#include "library/catalogue.h"
#include "library/library_file.h"
#include "shared/window_rules.h"

namespace veltrane {

namespace {
constexpr std::size_t kRowsCollected = 8;
} // namespace

XWindow LibraryXWindow(std::uint16_t modelCode) {
    if (modelCode == 0 || modelCode == 179 || modelCode == 1) return {400.0, 4000.0};
    if (modelCode == 180) return {400.0, 3000.0};
    return {0.0, std::numeric_limits<double>::infinity()};
}

std::vector<int> CollectTickedRows(const LibraryState& library) {
    return TickedRows(library, kRowsCollected);
}

SeriesHandle AddLibraryCurve(ChartModel& chart, const SpectrumHeader& header, const float* intensity, const float* axis,
                             std::size_t points) {
    chart.setLegendVisible(true);
    XWindow window = LibraryXWindow(header.modelCode());
    SeriesHandle series = chart.createLineSeries();
    chart.setSeriesTitle(series, DisplayName(header.name()));
    std::vector<ChartPoint> inside;
    inside.reserve(points);
    for (std::size_t i = 0; i < points; ++i) {
        double x = axis[i];
        double y = intensity[i];
        // A NaN or infinite intensity from a damaged file would take the
        // automatic left axis with it.
        if (window.low < x && x < window.high && std::isfinite(y)) inside.push_back({x, y});
    }
    chart.addPoints(series, inside);
    return series;
}

DrawResult DrawTickedLibraries(ChartModel& chart, LibraryState& library,
                               const std::function<ListedRow(int)>& listedRow) {
    DrawResult result;
    if (library.transferState.load(std::memory_order_acquire) != 0) {
        result.code = DrawCode::Transferring;
        return result;
    }
    std::vector<int> rows = CollectTickedRows(library);
    if (rows.empty()) {
        result.code = DrawCode::NotSelected;
        return result;
    }
    if (rows.size() > kMaxLibraryCurves) {
        result.code = DrawCode::TooMany;
        return result;
    }
    LIB_RW& lib = library.lib;
    std::size_t points = LibraryPoints(lib.libraryView);
    chart.removeAllSeries();
    SpectrumHeader header;
    for (int row : rows) {
        ListedRow listed = listedRow(row);
        bool read = FolderEntryName(listed.fileName) &&
                    ReadLibraryCurve(lib.libraryFolder + listed.fileName, lib.libraryView, header,
                                     lib.curveIntensity.data(), lib.curveAxis.data()) == CurveRead::Ok;
        if (!read) {
            result.unreadable.push_back(DisplayName(listed.name));
            continue;
        }
        result.curves.push_back(
            AddLibraryCurve(chart, header, lib.curveIntensity.data(), lib.curveAxis.data(), points));
        result.files.push_back(lib.libraryFolder + listed.fileName);
    }
    for (ChartAxis axis : {ChartAxis::Left, ChartAxis::Bottom}) {
        chart.setAxisAutomaticMinimum(axis, true);
        chart.setAxisAutomaticMaximum(axis, true);
    }
    chart.setAxisDesiredIncrement(ChartAxis::Left, 0.0);
    chart.recomputeAutomaticBounds();
    return result;
}

std::string DrawMessage(const DrawResult& result) {
    switch (result.code) {
    case DrawCode::Transferring:
        return kMeasureProcessingMessage;
    case DrawCode::NotSelected:
        return kNotSelectMessage;
    case DrawCode::TooMany:
        return kMaxLinesMessage;
    case DrawCode::Drawn:
        break;
    }
    if (result.unreadable.empty()) return "";
    std::string text = kLibraryUnreadableMessage;
    text += "\n";
    for (const std::string& name : result.unreadable)
        text += "\n" + name;
    return text;
}

} // namespace veltrane
