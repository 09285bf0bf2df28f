#pragma once

#include <QMainWindow>
#include <array>
#include <memory>

#include "app/hotkeys.h"
#include "app/mode_switch.h"
#include "app/program_state.h"
#include "device/device_connection.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "shared/chart_model.h"
#include "shared/ui/window_host.h"
#include "shared/user_dialogs.h"
#include "shared/window_rules.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QSplitter;
class QTabWidget;
class QTableWidget;
class QTimer;
class QToolButton;
class QTreeWidget;

namespace veltrane {

class ChartView;
class StatusPanels;
class UpDown;
class TForm_about;
class TForm_setup;
class TForm_coordinate;
class TForm_make_lib;
class TForm_mark_info;
class MeasureController;
class LibraryController;
class TransferController;
class InterchangeController;
class IdentifyController;
class AxisCorrectionController;
class ImportSpectraController;

// What the windows need from the rest of the program. The application owns
// all of it; tests hand in a simulated bridge, a virtual clock, scripted
// dialogs and a temporary folder.
struct AppServices {
    ProgramState& state;
    DeviceLink& link;
    Clock& clock;
    UserDialogs& dialogs;
    AppPaths paths;
};

// The main window: tool bar, the "Spectrum" and "Linker" pages, the status
// bar and the three timers. It builds the regions and runs the start-up
// sequence in its constructor; the close handler runs the shut-down.
class TForm_main : public QMainWindow, public WindowHost {
    Q_OBJECT

public:
    explicit TForm_main(AppServices services);
    ~TForm_main() override;

    AppServices& services() { return m_services; }
    ProgramState& state() { return m_services.state; }

    // What the subsystems' window code sees of the main window.
    QWidget* mainWindow() override { return this; }
    UserDialogs& dialogs() override { return m_services.dialogs; }
    const AppPaths& paths() const override { return m_services.paths; }
    Clock& clock() override { return m_services.clock; }
    ActiveMode activeMode() const override { return m_services.state.shell.activeMode; }

    // Windows created after the main window, handed over by the application.
    void attachAbout(TForm_about* about) { m_about = about; }
    void attachSetup(TForm_setup* setup) { m_setup = setup; }
    // Wires the Make Library button to the window, whose
    // SpeedButton_save_libClick runs the checks and opens it.
    void attachMakeLibrary(TForm_make_lib* makeLibrary);
    // Also wires the chart bar's Hori., Vert. and Coor. buttons to it.
    void attachCoordinate(TForm_coordinate* coordinate);
    TForm_coordinate* coordinateWindow() const { return m_coordinate; }
    // Wires the chart bar's Marker and Mark Set buttons to the marker window.
    void attachMarkers(TForm_mark_info* markers);

    // Regions other subsystems work with.
    ChartModel& spectrumChart() override { return m_spectrumChart; }
    ChartModel& libraryChart() override { return m_libraryChart; }
    SeriesHandle measuredSeries() const override { return m_measuredSeries; }
    QToolButton* hotkeyButton(HotkeyFunction function) const;
    QTableWidget* libraryGrid() const override { return m_grid; }
    QProgressBar* progressBar() const override;
    QTreeWidget* deviceTree() const { return m_deviceTree; }
    QTabWidget* pages() const { return m_pages; }
    StatusPanels* statusPanels() const override { return m_statusPanels; }

    // Shared operations of the window.
    void UpdateStatusBar(int kind, std::uint32_t value) override;
    void SetUpCharts(int which);
    void PlaceDialog(QWidget* window, QWidget* owner) override;
    void refreshHotkeyHints();
    // The file whose spectrum the Spectrum page shows, in the caption; empty
    // for a capture not saved yet.
    void showFileName(const std::string& name) override;
    // A line in the status bar confirming what was just done.
    void showNotice(const QString& text) override;
    // Fills the device tree for a device just identified; clears it otherwise.
    void ShowDeviceTree(DeviceConnection connection);
    void LayoutRowBoxes();
    // Apply of the axis-range window, performed after every new curve.
    void applyAxisRange() override;
    MeasureController& measure() { return *m_measure; }
    LibraryController& library() { return *m_library; }
    TransferController& transfer() { return *m_transfer; }
    InterchangeController& interchange() { return *m_interchange; }
    IdentifyController& identify() { return *m_identify; }
    AxisCorrectionController& axisCorrection() { return *m_axisCorrection; }
    ImportSpectraController& importSpectra() { return *m_import; }
    bool keyPreview() const override { return m_keyPreview; }
    void setKeyPreview(bool on) { m_keyPreview = on; }

    // Handlers, under the names the rest of the program knows them by.
    void SpeedButton_spectrum_modeClick();
    void SpeedButton_linker_modeClick();
    void SpeedButton_helpClick();
    void SpeedButton_setupClick();
    void FormKeyPress(const std::string& upperText);
    void Timer_auto_get_deviceTimer();
    void FormResize();
    // Closes without asking anything, for a signal or a logout: the laser is
    // switched off and the settings are written as on any close.
    void closeAtOnce();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AppServices m_services;
    ChartModel m_spectrumChart;
    ChartModel m_libraryChart;
    SeriesHandle m_measuredSeries = kNoSeries;
    bool m_keyPreview = true;
    bool m_closing = false;
    bool m_closeAtOnce = false;
    TForm_about* m_about = nullptr;
    TForm_setup* m_setup = nullptr;
    TForm_coordinate* m_coordinate = nullptr;

    // Tool bar.
    QWidget* m_toolBar = nullptr;
    QToolButton* m_spectrumModeButton = nullptr;
    QToolButton* m_linkerModeButton = nullptr;
    std::array<QToolButton*, 5> m_spectrumButtons{};
    std::array<QToolButton*, 4> m_linkerButtons{};
    QToolButton* m_helpButton = nullptr;
    QLabel* m_logoKorvel = nullptr;
    QLabel* m_logoBrenmor = nullptr;

    // Pages.
    QTabWidget* m_pages = nullptr;
    QWidget* m_measurePage = nullptr;
    QWidget* m_libraryPage = nullptr;
    QTreeWidget* m_deviceTree = nullptr;
    ChartView* m_spectrumView = nullptr;
    ChartView* m_libraryView = nullptr;
    QSplitter* m_librarySplitter = nullptr;
    QTableWidget* m_grid = nullptr;
    std::array<QCheckBox*, 34> m_rowBoxes{};
    QLineEdit* m_editExp = nullptr;
    QLineEdit* m_editAvg = nullptr;
    QLineEdit* m_editSmooth = nullptr;
    QLineEdit* m_editPreheat = nullptr;
    QLineEdit* m_editPower = nullptr;

    StatusPanels* m_statusPanels = nullptr;
    QTimer* m_deviceTimer = nullptr;
    QTimer* m_measureTimer = nullptr;
    QTimer* m_transferTimer = nullptr;
    std::unique_ptr<LibraryController> m_library;
    std::unique_ptr<TransferController> m_transfer;
    InterchangeController* m_interchange = nullptr; // a Qt child of the window
    std::unique_ptr<IdentifyController> m_identify;
    std::unique_ptr<AxisCorrectionController> m_axisCorrection;
    std::unique_ptr<ImportSpectraController> m_import;
    // Last member: destroyed first, so a running worker is stopped while the
    // widgets it reports to still exist.
    std::unique_ptr<MeasureController> m_measure;

    void buildToolBar();
    void buildMeasurePage();
    void buildLibraryPage();
    void buildStatusBar();
    void runStartupSequence();
    void SetUpLibraryGrid();
    void showModeButtons(ActiveMode mode);
    void showMessage(const std::string& text, MessageIcon icon);
    void readSettings();
    bool writeSettings();
};

} // namespace veltrane
