#pragma once

#include <QObject>
#include <QSize>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/device_info.h"
#include "interchange/delimited_text.h"
#include "measure/measurement_session.h"
#include "shared/ui/window_host.h"

class QAction;

namespace veltrane {

class ChartView;

// The open filter of the Open button: the program's raw files and the
// spectra of other programs.
extern const char* const kOpenSpectrumFilter;
constexpr const char* kExportSpectrumFilter = "CSV(*.csv)|*.csv|JCAMP-DX(*.jdx)|*.jdx;*.dx;*.jcamp|SPC(*.spc)|*.spc";
constexpr const char* kChartImageFilter = "PNG(*.png)|*.png|SVG(*.svg)|*.svg|PDF(*.pdf)|*.pdf";

// What the column chooser shows: every column by its name (or its number),
// the file, and the reader's guess preselected. Columns are 0-based.
struct ColumnQuestion {
    std::string file;
    std::vector<std::string> names;
    std::size_t x = 0;
    std::size_t y = 1;
};

// Other programs' files in the window: opening a CSV, JCAMP-DX or SPC
// spectrum as the shown spectrum, "Export Spectrum…" of the shown spectrum
// and "Save Chart Image…" of either chart, both in the charts' context menus.
class InterchangeController : public QObject {
    Q_OBJECT

public:
    InterchangeController(WindowHost& main, MeasurementSession& session, DeviceInfo& device);

    // Whether the Open button hands `path` here rather than reading it as a
    // raw file.
    static bool IsForeignSpectrum(const std::string& path);
    // Reads the file and shows it as an opened raw file is shown, but with
    // every point it holds and the chart fitted to it; false when it was
    // refused (the message has been shown) or a question (laser wavelength,
    // columns) was cancelled. A table whose X and Y columns the reader can
    // only guess opens with the columns chosen for the same header before,
    // or asks for them and keeps the answer in the settings file.
    bool openForeign(const std::string& path);

    // Asks for a file and writes the shown spectrum: the points as drawn
    // (smoothing included) or the raw values at the same X.
    void exportSpectrum(bool raw);
    // Asks for a file and the image size, then writes the chart as PNG, SVG
    // or PDF by the file's extension.
    void saveChartImage(ChartView& view);
    // The chart laid out at `size` (its own when empty) and written to
    // `path`; false when the file could not be written.
    static bool WriteChartImage(ChartView& view, const std::string& path, QSize size);

    // The questions beyond the file dialogs, replaceable so tests answer them.
    // The laser question is offered the wavelength to show first.
    std::function<std::optional<double>(double suggested)> askLaser;
    std::function<std::optional<QSize>(QSize current)> askImageSize;
    // The X and Y columns chosen, or nothing when cancelled.
    std::function<std::optional<std::pair<std::size_t, std::size_t>>(const ColumnQuestion&)> askColumns;

private:
    WindowHost& m_main;
    MeasurementSession& m_session;
    DeviceInfo& m_device;
    double m_lastLaser = 785.0;
    void showMessage(const std::string& text, bool error);
    // The columns kept for the guess's header (`kept` set), else the user's.
    std::optional<ColumnChoice> chooseColumns(const ReadOutcome& guess, const std::string& path, bool& kept);
};

} // namespace veltrane
