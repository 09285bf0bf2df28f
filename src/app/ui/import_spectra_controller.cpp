#include "app/ui/import_spectra_controller.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
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
    QDialog dialog(parent);
    dialog.setWindowTitle("Import Spectra");
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(
        new QLabel("Import spectrum files as PC library entries: chosen files, or every file of a folder?", &dialog));
    auto* recursive = new QCheckBox("With the files of its subfolders", &dialog);
    layout->addWidget(recursive);
    auto* offsetRow = new QHBoxLayout;
    auto* offsetLabel = new QLabel("Correct every Raman shift by", &dialog);
    auto* offset = new QDoubleSpinBox(&dialog);
    offset->setObjectName("SpinBox_import_axis_offset");
    offset->setRange(-1000.0, 1000.0);
    offset->setDecimals(2);
    offset->setSingleStep(0.5);
    offset->setSuffix(" cm\u207b\u00b9");
    // Always 0 at first: a correction belongs to the instrument the files
    // came from, and one kept from the last import would silently move the
    // next library's bands.
    offset->setValue(0.0);
    offset->setToolTip("The correction Check Raman Axis finds for the instrument the files were measured on; "
                       "0 keeps the shifts as they are.");
    offsetLabel->setBuddy(offset);
    offsetRow->addWidget(offsetLabel);
    offsetRow->addWidget(offset);
    offsetRow->addStretch();
    layout->addLayout(offsetRow);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, &dialog);
    QPushButton* files = buttons->addButton("Files…", QDialogButtonBox::AcceptRole);
    QPushButton* folder = buttons->addButton("Folder…", QDialogButtonBox::AcceptRole);
    layout->addWidget(buttons);
    QAbstractButton* clicked = nullptr;
    QObject::connect(buttons, &QDialogButtonBox::clicked, &dialog, [&](QAbstractButton* button) {
        clicked = button;
        if (button == files || button == folder)
            dialog.accept();
        else
            dialog.reject();
    });
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    ImportSources sources;
    sources.axisOffset = offset->value();
    if (clicked == files) {
        QStringList chosen =
            QFileDialog::getOpenFileNames(parent, "Import Spectra", QString(),
                                          QString::fromStdString(QtUserDialogs::ToQtFilter(kOpenSpectrumFilter)));
        for (const QString& file : chosen)
            sources.files.push_back(file.toStdString());
        if (sources.files.empty()) return std::nullopt;
        return sources;
    }
    QString dir = QFileDialog::getExistingDirectory(parent, "Import Spectra");
    if (dir.isEmpty()) return std::nullopt;
    sources.folder = dir.toStdString();
    sources.recursive = recursive->isChecked();
    return sources;
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
        ImportOptions options;
        options.axisOffset = run.sources.axisOffset;
        SpectrumImporter importer(run.folder, options, run.now);
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
