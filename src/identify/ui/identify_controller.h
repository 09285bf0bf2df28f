#pragma once

#include <QObject>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device/device_info.h"
#include "identify/hqi.h"
#include "identify/library_index.h"
#include "identify/mixture.h"
#include "measure/measurement_session.h"
#include "identify/report.h"
#include "shared/chart_model.h"
#include "shared/ui/window_host.h"

class QComboBox;
class QLabel;
class QPrinter;
class QSplitter;
class QTableWidget;
class QTimer;
class QToolButton;
class QWidget;

namespace veltrane {

// The Identify button of the Spectrum mode and the identification panel
// beside the spectrum chart. A search runs on a worker: it brings the index
// of the PC and device library folders up to date (the progress bar shows
// the files it prepares), then ranks the shown spectrum against it. The GUI
// thread only starts the worker and shows its result; the prepared entries
// stay in memory between searches and are reloaded only when a folder
// changed, so a search on an up-to-date index costs a folder listing and
// the ranking.
class IdentifyController : public QObject {
    Q_OBJECT

public:
    IdentifyController(WindowHost& main, MeasurementSession& session, const DeviceInfo& device);
    ~IdentifyController() override;

    QToolButton* button() const { return m_button; }
    QWidget* panel() const { return m_panel; }
    QTableWidget* hitTable() const { return m_table; }
    QLabel* verdictLabel() const { return m_verdict; }
    QToolButton* mixtureButton() const { return m_mixtureButton; }
    QLabel* saturationLabel() const { return m_saturated; }
    QToolButton* closeButton() const { return m_close; }
    QToolButton* reportButton() const { return m_report; }
    QToolButton* printButton() const { return m_print; }

    void SpeedButton_identifyClick();
    void StringGrid_identifySelect();
    // Overlays the sample, the mixture's fitted sum and each component at
    // its part of the fit.
    void Button_identify_mixtureClick();
    void Timer_identifyTimer();
    void showInMode(ActiveMode mode);
    // Hides the panel and takes its overlay off the chart; Identify shows
    // it again.
    void Button_identify_closeClick();
    // The hit list with its header, tab-separated on the clipboard or as a
    // CSV file the user names.
    void copyHits();
    void exportHits();
    // Report… writes the shown result as a one-page PDF where the user
    // says and offers to open it; Print… sends the same page to a printer.
    void Button_identify_reportClick();
    void Button_identify_printClick();
    // The page of the shown result.
    IdentificationReport currentReport() const;
    // Draws the page onto the printer as Print… does once the user chose it.
    bool printTo(QPrinter& printer) const;

    // Kept in the settings file: where the last report went, the paper.
    const std::string& reportFolder() const { return m_reportFolder; }
    void setReportFolder(const std::string& folder) { m_reportFolder = folder; }
    bool letterPaper() const;
    void setLetterPaper(bool letter);

    // The panel's width as the user last dragged it (0: never), kept in the
    // settings file.
    int panelWidth() const { return m_panelWidth; }
    void setPanelWidth(int width) { m_panelWidth = width; }
    bool workerBusy() const { return m_worker.joinable(); }

    const std::string& hotkey() const { return m_hotkey; }
    void setHotkey(const std::string& key);
    // Whether a typed key (upper-case) is the Identify key in this mode.
    bool isHotkey(const std::string& upperText, ActiveMode mode) const;

private:
    struct Search; // what the worker hands back

    WindowHost& m_main;
    MeasurementSession& m_session;
    const DeviceInfo& m_device;
    std::string m_hotkey;
    QToolButton* m_button = nullptr;
    QWidget* m_panel = nullptr;
    QLabel* m_saturated = nullptr;
    QLabel* m_verdict = nullptr;
    QLabel* m_skipped = nullptr;
    QToolButton* m_mixtureButton = nullptr;
    QTableWidget* m_table = nullptr;
    QTimer* m_timer = nullptr;
    QToolButton* m_close = nullptr;
    QSplitter* m_splitter = nullptr;
    QToolButton* m_report = nullptr;
    QToolButton* m_print = nullptr;
    QComboBox* m_paper = nullptr;
    int m_panelWidth = 0;
    std::string m_reportFolder;
    NamedVerdict m_verdictNames; // of the last result, decided on the whole ranking

    std::thread m_worker;
    std::atomic<bool> m_workerDone{false};
    std::atomic<bool> m_stop{false};
    IndexProgress m_progress;
    std::chrono::steady_clock::time_point m_started;
    std::unique_ptr<Search> m_search;
    std::shared_ptr<const IndexedLibrary> m_library; // kept between searches
    UnknownSpectrum m_unknown;                       // of the last result
    std::vector<RankedHit> m_hits;

    SeriesHandle m_overlayUnknown = kNoSeries;
    SeriesHandle m_overlayHit = kNoSeries;
    std::vector<SeriesHandle> m_overlayMixture;
    std::optional<MixtureResult> m_mixture; // of the last result, when it is one
    std::uint64_t m_spectrumStamp = 0; // of the spectrum the panel's result belongs to

    std::uint64_t spectrumStamp() const;
    bool spectrumShown() const;
    void showResult();
    void showPreparation(std::size_t total);
    void clearOverlay();
    void clearResult();
    void showPanel();
    std::vector<std::vector<std::string>> hitRows() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace veltrane
