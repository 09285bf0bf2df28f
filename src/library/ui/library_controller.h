#pragma once

#include <QObject>
#include <array>
#include <string>
#include <vector>

#include "device/device_info.h"
#include "library/catalogue.h"
#include "library/library_drawing.h"
#include "library/library_state.h"
#include "shared/chart_model.h"
#include "shared/ui/window_host.h"
#include "shared/user_dialogs.h"

class QCheckBox;
class QTableWidget;

namespace veltrane {

// The window side of the library catalogue and its drawing: the grid
// StringGrid_lib with its events, the row check boxes over it, the PC button,
// the Draw button and the library chart's curves. Every decision is made by
// the catalogue and drawing code; this copies the results into the widgets.
class LibraryController : public QObject {
    Q_OBJECT

public:
    LibraryController(WindowHost& main, LibraryState& library, const DeviceInfo& device);
    ~LibraryController() override;

    // Listing.
    void RefreshLibraryList(LibraryView view);
    // Writes data row `row` (1-based), adding rows up to it when needed.
    void FillLibraryRow(int row, const CatalogueRow& cells);
    void ResetRowBoxes(int count);
    void LayoutRowBoxes();
    void SyncRowBoxes();
    void EmptyDeviceFolder();

    // Buttons and the mode switch.
    void SpeedButton_import_pcClick();
    void LinkerModeEntered();
    void SpeedButton_drawClick();
    // Takes the curves of the given library files (folder included) that
    // were deleted or renamed off the library chart; a drawing must not show
    // files that no longer exist or names they no longer carry.
    void RemoveCurvesOf(const std::vector<std::string>& files);

    // Grid and box events.
    void StringGrid_libSelectCell(int column, int row);
    void StringGrid_libClick();
    void StringGrid_libMouseWheelDown();
    void StringGrid_libMouseWheelUp();
    void StringGrid_libKeyDown();
    void StringGrid_libKeyUp();
    // A typed character (UTF-8), for the type-ahead.
    void StringGrid_libKeyPress(const std::string& text);
    void StringGrid_libTopLeftChanged();
    void CheckBox0Click();
    void Splitter1Moved();

    // For delete, rename and export: the ticked rows among 1..libraryCount in
    // ascending order, the name a row shows (the header's bytes) and the file
    // of libraryFolder the row was listed from.
    std::vector<int> tickedRows() const;
    std::string rowName(int row) const;
    std::string rowFile(int row) const;
    // The first data row visible under the title row.
    int topRow() const;
    // The curves of the last drawing (Series2 to Series7), kNoSeries past them.
    const std::array<SeriesHandle, kMaxLibraryCurves>& curves() const { return m_curves; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    WindowHost& m_main;
    LibraryState& m_library;
    const DeviceInfo& m_device;
    QTableWidget* m_grid;
    QWidget* m_page;
    std::array<QCheckBox*, kRowBoxCount> m_boxes{};
    std::array<SeriesHandle, kMaxLibraryCurves> m_curves{};
    // The file (folder included) each curve of m_curves was drawn from.
    std::vector<std::string> m_curveFiles = std::vector<std::string>(kMaxLibraryCurves);

    RowBoxStates boxStates() const;
    void showBoxStates(const RowBoxStates& boxes);
    std::vector<std::string> rowNames() const;
    void tell(const std::string& text, MessageIcon icon);
};

} // namespace veltrane
