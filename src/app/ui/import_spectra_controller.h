#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "library/library_state.h"
#include "platform/worker_thread.h"
#include "shared/ui/window_host.h"

class QTimer;
class QToolButton;

namespace veltrane {

class LibraryController;

// What to import: files picked one by one, or every file of a folder.
struct ImportSources {
    std::vector<std::string> files;
    std::string folder;
    bool recursive = false;
    // Added to every Raman shift of the entries made (cm-1), as
    // `import-folder --axis-offset` does.
    double axisOffset = 0.0;
};

// "Import Spectra…" of the Linker mode: spectrum files of any format the
// program reads, or a whole folder of them, become PC library entries as
// `veltrane-cli import-folder` makes them. The files are read and written
// on a worker, so the window stays usable; the status bar shows how far it
// got, the button cancels between two files (every entry made by then is
// whole and stays), and a summary with the skipped files' reasons ends it.
class ImportSpectraController : public QObject {
    Q_OBJECT

public:
    ImportSpectraController(WindowHost& main, LibraryState& library, LibraryController& libraries);
    ~ImportSpectraController() override;

    // Starts an import, or cancels the one running.
    void SpeedButton_import_spectraClick();
    void importSpectra(const ImportSources& sources);
    void cancel();
    void Timer_import_spectraTimer();

    bool workerBusy() const { return m_worker.busy(); }
    void showInMode(ActiveMode mode);
    // Ends a running import after its current file and flushes what it made.
    void shutdown();

    // The questions, replaceable so tests answer them: what to import, and
    // the summary (a line, and the skipped files with their reasons).
    std::function<std::optional<ImportSources>()> askSources;
    std::function<void(const std::string& headline, const std::string& details)> showSummary;

private:
    struct Run; // shared with the worker

    WindowHost& m_main;
    LibraryState& m_library;
    LibraryController& m_libraries;
    QToolButton* m_button = nullptr;
    QTimer* m_timer = nullptr;
    std::unique_ptr<Run> m_run;
    WorkerThread m_worker;

    void finish();
    void showRunning(bool running);
};

} // namespace veltrane
