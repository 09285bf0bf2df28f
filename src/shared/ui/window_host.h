#pragma once

#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/paths.h"
#include "shared/chart_model.h"
#include "shared/user_dialogs.h"
#include "shared/window_rules.h"

class QProgressBar;
class QString;
class QTableWidget;
class QWidget;

namespace veltrane {

class StatusPanels;

// What a subsystem's window code may ask of the main window: its shared
// regions (charts, grid, status bar, progress bar), its small services and
// the dialog placement. The composition root implements it; a subsystem's
// state comes to its controller separately, so no window code sees the
// whole program.
class WindowHost {
public:
    virtual ~WindowHost() = default;

    // The main window itself: the parent of the small windows, the place to
    // find the controls by objectName, and what a modal window disables.
    virtual QWidget* mainWindow() = 0;
    virtual UserDialogs& dialogs() = 0;
    virtual const AppPaths& paths() const = 0;
    virtual Clock& clock() = 0;
    virtual ActiveMode activeMode() const = 0;

    virtual ChartModel& spectrumChart() = 0;
    virtual ChartModel& libraryChart() = 0;
    virtual SeriesHandle measuredSeries() const = 0;
    virtual QTableWidget* libraryGrid() const = 0;
    virtual QProgressBar* progressBar() const = 0;
    virtual StatusPanels* statusPanels() const = 0;
    virtual bool keyPreview() const = 0;

    virtual void UpdateStatusBar(int kind, std::uint32_t value) = 0;
    virtual void PlaceDialog(QWidget* window, QWidget* owner) = 0;
    // The file whose spectrum the Spectrum page shows, in the caption; empty
    // for a capture not saved yet.
    virtual void showFileName(const std::string& name) = 0;
    // A line in the status bar confirming what was just done.
    virtual void showNotice(const QString& text) = 0;
    // Apply of the axis-range window, performed after every new curve.
    virtual void applyAxisRange() = 0;
};

} // namespace veltrane
