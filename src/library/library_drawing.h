#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "library/library_state.h"
#include "measure/spectrum_header.h"
#include "shared/chart_model.h"

namespace veltrane {

// Overlaying ticked libraries on the library chart.

constexpr std::size_t kMaxLibraryCurves = 6;
constexpr const char* kNotSelectMessage = "Not Select!";
constexpr const char* kMaxLinesMessage = "Max 6 Lines!";
// Followed by the names of the libraries that were left out, one a line.
constexpr const char* kLibraryUnreadableMessage = "Can not read library!";

// The X values drawn for a library, both bounds excluded. The large-sensor
// models (codes 0, 179 and 180) keep to the Raman range their optics cover;
// a 256-pixel instrument's library (code 1) holds Raman shifts too, and is
// drawn over the 400 to 4000 cm-1 its spectrum page shows. A model this
// program does not know is drawn over its whole X range, leaving out only
// the X = 0 padding past the instrument's pixels.
struct XWindow {
    double low;
    double high;
};
XWindow LibraryXWindow(std::uint16_t modelCode);

// The ticked rows among 1..libraryCount, ascending; collecting stops at
// eight, which is enough to know there are too many.
std::vector<int> CollectTickedRows(const LibraryState& library);

// Adds one curve titled with the header's name as DisplayName shows it: the
// points whose X lies in the window of the header's model code, and whose
// values are finite. Makes the legend visible. Returns the new series.
SeriesHandle AddLibraryCurve(ChartModel& chart, const SpectrumHeader& header, const float* intensity, const float* axis,
                             std::size_t points);

enum class DrawCode : std::uint8_t { Drawn, Transferring, NotSelected, TooMany };

struct DrawResult {
    DrawCode code = DrawCode::Drawn;
    std::vector<SeriesHandle> curves;    // in row order, at most six
    std::vector<std::string> files;      // the file each curve was read from, folder included
    std::vector<std::string> unreadable; // ticked rows whose file could not be read
};

// A grid row as the drawing needs it: the name it shows (the header's bytes)
// and the file of libraryFolder it was listed from.
struct ListedRow {
    std::string name;
    std::string fileName;
};

// The Draw button's work: refused while a transfer runs, with no row or more
// than six rows ticked (the chart then stays as it was); otherwise every
// series of the chart is replaced by one curve per ticked row, read from the
// file the row was listed from (`listedRow`, for rows 1..libraryCount), and
// both axes follow the data. A row whose file cannot be read or is too short
// is left out and named in the result.
DrawResult DrawTickedLibraries(ChartModel& chart, LibraryState& library,
                               const std::function<ListedRow(int)>& listedRow);

// The message for a result; empty when there is nothing to tell.
std::string DrawMessage(const DrawResult& result);

} // namespace veltrane
