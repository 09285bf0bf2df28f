#include "app/ui/import_spectra_controller.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

#include "app/spectrum_import.h"
#include "interchange/ui/interchange_controller.h"
#include "library/ui/library_controller.h"
#include "shared/ui/artwork.h"
#include "shared/ui/qt_user_dialogs.h"
#include "shared/ui/status_panels.h"

namespace veltrane {

namespace {

constexpr const char* kImportHint = "Import Spectra…";

std::optional<ImportSources> AskSourcesDialog() {
    QWidget* parent = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Question, "Import Spectra",
                    "Import spectrum files as PC library entries: chosen files, or every file of a folder?",
                    QMessageBox::Cancel, parent);
    QPushButton* files = box.addButton("Files…", QMessageBox::AcceptRole);
    QPushButton* folder = box.addButton("Folder…", QMessageBox::AcceptRole);
    auto* recursive = new QCheckBox("With the files of its subfolders");
    box.setCheckBox(recursive);
    box.exec();
    ImportSources sources;
    if (box.clickedButton() == files) {
        QStringList chosen =
            QFileDialog::getOpenFileNames(parent, "Import Spectra", QString(),
                                          QString::fromStdString(QtUserDialogs::ToQtFilter(kOpenSpectrumFilter)));
        for (const QString& file : chosen)
            sources.files.push_back(file.toStdString());
        if (sources.files.empty()) return std::nullopt;
        return sources;
    }
    if (box.clickedButton() == folder) {
        QString dir = QFileDialog::getExistingDirectory(parent, "Import Spectra");
        if (dir.isEmpty()) return std::nullopt;
        sources.folder = dir.toStdString();
        sources.recursive = recursive->isChecked();
        return sources;
    }
    return std::nullopt;
}

void ShowSummaryDialog(const std::string& headline, const std::string& details) {
    QMessageBox box(QMessageBox::Information, "Import Spectra", QString::fromStdString(headline), QMessageBox::Ok,
                    QApplication::activeWindow());
    // Thousands of skipped files would not fit a message; they wait behind
    // "Show Details…".
    if (!details.empty()) box.setDetailedText(QString::fromStdString(details));
    box.exec();
}

} // namespace

// Written by the worker; the GUI thread reads the counts while it runs and
// the rest once it has returned (WorkerThread's done flag orders that).
struct ImportSpectraController::Run {
    ImportSources sources;
    std::string folder; // of the PC library
    LocalDateTime now{};
    std::atomic<std::size_t> total{0};
    std::atomic<std::size_t> done{0};
    std::string listingError;
    std::vector<ImportResult> results;
    bool flushed = true;
};

ImportSpectraController::ImportSpectraController(WindowHost& main, LibraryState& library, LibraryController& libraries)
    : QObject(nullptr), askSources(AskSourcesDialog), showSummary(ShowSummaryDialog), m_main(main), m_library(library),
      m_libraries(libraries) {
    QWidget* functions = main.mainWindow()->findChild<QWidget*>("Panel_function_ground");
    m_button = new QToolButton(functions);
    m_button->setObjectName("SpeedButton_import_spectra");
    m_button->setIcon(ToolIcon(ToolGlyph::OpenRaw));
    m_button->setIconSize(QSize(32, 32));
    m_button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_button->setAutoRaise(true);
    m_button->setFixedSize(64, 64);
    m_button->setFocusPolicy(Qt::NoFocus);
    showRunning(false);
    if (functions && functions->layout()) {
        auto* row = static_cast<QHBoxLayout*>(functions->layout());
        QWidget* draw = functions->findChild<QWidget*>("SpeedButton_draw");
        row->insertWidget(draw ? row->indexOf(draw) + 1 : row->count(), m_button);
    }
    connect(m_button, &QToolButton::clicked, this, &ImportSpectraController::SpeedButton_import_spectraClick);
    m_timer = new QTimer(this);
    m_timer->setObjectName("Timer_import_spectra");
    m_timer->setInterval(50);
    connect(m_timer, &QTimer::timeout, this, &ImportSpectraController::Timer_import_spectraTimer);
}

ImportSpectraController::~ImportSpectraController() {
    shutdown();
}

void ImportSpectraController::showInMode(ActiveMode mode) {
    m_button->setVisible(mode == ActiveMode::Linker);
}

void ImportSpectraController::showRunning(bool running) {
    m_button->setText(running ? "Cancel" : "Spectra");
    m_button->setToolTip(running ? "Cancel Import" : kImportHint);
}

void ImportSpectraController::SpeedButton_import_spectraClick() {
    if (workerBusy() || m_run) {
        cancel();
        return;
    }
    std::optional<ImportSources> sources = askSources ? askSources() : std::nullopt;
    if (sources) importSpectra(*sources);
}

void ImportSpectraController::importSpectra(const ImportSources& sources) {
    if (workerBusy() || m_run) return;
    m_worker.reapIfFinished();
    m_run = std::make_unique<Run>();
    Run& run = *m_run;
    run.sources = sources;
    run.folder = m_main.paths().pcLibraryFolder();
    run.now = CurrentLocalDateTime();
    showRunning(true);
    m_main.progressBar()->setValue(0);
    m_main.showNotice("Importing spectra…");
    m_timer->start();
    m_worker.start([&run, stop = m_worker.stopFlag()] {
        std::vector<std::string> files = run.sources.files;
        // A large folder takes a while to list too: that is done here, not
        // on the GUI thread.
        if (!run.sources.folder.empty()) {
            std::vector<std::string> listed =
                SpectrumFilesIn(run.sources.folder, run.sources.recursive, run.listingError);
            files.insert(files.end(), listed.begin(), listed.end());
        }
        run.total.store(files.size(), std::memory_order_relaxed);
        if (files.empty()) return;
        SpectrumImporter importer(run.folder, ImportOptions{}, run.now);
        for (const std::string& file : files) {
            // Between two files: the entry of the last one is whole.
            if (stop->load(std::memory_order_acquire)) break;
            run.results.push_back(importer.importFile(file));
            run.done.store(run.results.size(), std::memory_order_relaxed);
        }
        for (const ImportResult& r : run.results)
            if (r.imported) {
                run.flushed = importer.finish();
                break;
            }
    });
}

void ImportSpectraController::cancel() {
    if (!workerBusy()) return;
    m_worker.requestStop();
    m_button->setText("Cancelling");
}

void ImportSpectraController::shutdown() {
    m_worker.stopAndWait();
    m_timer->stop();
    m_run.reset();
}

void ImportSpectraController::Timer_import_spectraTimer() {
    if (!m_run) {
        m_timer->stop();
        return;
    }
    if (workerBusy()) {
        const std::size_t total = m_run->total.load(std::memory_order_relaxed);
        const std::size_t done = std::min(total, m_run->done.load(std::memory_order_relaxed));
        if (total > 0) {
            m_main.progressBar()->setValue(static_cast<int>(100 * done / total));
            m_main.showNotice(
                QString("Importing spectra: %1 of %2 files done, %3 left").arg(done).arg(total).arg(total - done));
        }
        return;
    }
    m_worker.reapIfFinished();
    finish();
}

void ImportSpectraController::finish() {
    m_timer->stop();
    std::unique_ptr<Run> run = std::move(m_run);
    showRunning(false);
    m_main.progressBar()->setValue(0);
    if (!run->listingError.empty()) {
        m_main.showNotice(QString());
        m_main.dialogs().message(run->sources.folder + ": " + run->listingError, kMessageCaption, MessageIcon::Error);
        return;
    }
    const std::size_t total = run->total.load(std::memory_order_relaxed);
    ImportSummary summary = SummariseImport(run->results, total, run->flushed);
    m_main.showNotice(QString::fromStdString(summary.headline.substr(0, summary.headline.find('\n'))));
    // The grid lists the PC library with its new entries; in the Spectrum
    // mode that happens on the way back, as after Make Library.
    const bool made =
        std::any_of(run->results.begin(), run->results.end(), [](const ImportResult& r) { return r.imported; });
    if (made && m_main.activeMode() == ActiveMode::Linker &&
        m_library.transferState.load(std::memory_order_acquire) == 0)
        m_libraries.SpeedButton_import_pcClick();
    else if (made && m_library.lib.libraryView == LibraryView::Pc)
        m_library.lib.libraryMade = 1;
    if (showSummary) showSummary(summary.headline, summary.details);
}

} // namespace veltrane
