#include "transfer/ui/transfer_controller.h"

#include <QProgressBar>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

#include "app/ui/main_window.h"
#include "library/catalogue.h"
#include "library/library_file.h"
#include "library/maintenance.h"
#include "library/ui/library_controller.h"
#include "platform/folder_listing.h"
#include "shared/ui/status_panels.h"
#include "transfer/transfer.h"

namespace veltrane {

namespace {
constexpr const char* kModelMismatch = "Model not match!\nPlease check.";

// The model type a grid row's model text names, if any.
int TypeOfModelText(const QString& text) {
    if (text == "QX810A" || text == "TL100") return 179;
    if (text == "QX810B" || text == "TL200") return 180;
    return 0;
}
QString Libraries(int count) {
    return QString::number(count) + (count == 1 ? " library" : " libraries");
}
} // namespace

TransferController::TransferController(TForm_main& main)
    : QObject(nullptr), m_main(main), m_timer(main.findChild<QTimer*>("trans_Timer")) {
    connect(main.findChild<QToolButton*>("SpeedButton_import_dev"), &QToolButton::clicked, this,
            &TransferController::SpeedButton_import_devClick);
    connect(main.findChild<QToolButton*>("SpeedButton_export"), &QToolButton::clicked, this,
            &TransferController::SpeedButton_exportClick);
    connect(m_timer, &QTimer::timeout, this, &TransferController::trans_TimerTimer);
}

TransferController::~TransferController() {
    shutdown();
}

bool TransferController::workerBusy() const {
    return m_worker.busy();
}

void TransferController::shutdown() {
    m_worker.stopAndWait();
    m_timer->stop();
}

bool TransferController::refusedWhileBusy() {
    m_worker.reapIfFinished();
    // Also refused while a worker from before a device loss is still
    // finishing: two workers must never share the device.
    if (m_main.state().library.transferState.load(std::memory_order_acquire) == 0 && !workerBusy()) return false;
    m_main.services().dialogs.message(kMeasureProcessingMessage, kMessageCaption, MessageIcon::Error);
    return true;
}

void TransferController::SpeedButton_import_devClick() {
    if (refusedWhileBusy()) return;
    ProgramState& state = m_main.state();
    state.library.lib.libraryFolder = LibraryFolderPath(m_main.services().paths.libraryRoot, LibraryView::Device);
    state.library.lib.libraryView = LibraryView::Device;
    if (!EnsureFolder(state.library.lib.libraryFolder)) {
        m_main.services().dialogs.message("Can not creat folder!", kMessageCaption, MessageIcon::Warning);
        return;
    }
    DeleteMatching(state.library.lib.libraryFolder, kLibraryPattern);
    start(1);
}

void TransferController::SpeedButton_exportClick() {
    if (refusedWhileBusy()) return;
    ProgramState& state = m_main.state();
    LIB_RW& lib = state.library.lib;
    lib.exportCount = 0;
    lib.exportSelection.fill(0);
    lib.exportFiles.clear();
    std::vector<int> ticked = m_main.library().tickedRows();
    if (const char* refusal = ExportSelectionRefusal(ticked.size())) {
        m_main.services().dialogs.message(refusal, kMessageCaption, MessageIcon::Warning);
        return;
    }
    for (int row : ticked) {
        lib.exportSelection[lib.exportCount++] = static_cast<std::uint16_t>(row);
        lib.exportFiles.push_back(m_main.library().rowFile(row));
    }
    if (lib.exportCount == 0) {
        m_main.services().dialogs.message(kNotSelect, kMessageCaption, MessageIcon::Warning);
        return;
    }
    // Every selected library must be of the connected instrument's model. A
    // row whose model text names no model takes the type of the row before;
    // a first row without one cannot be vouched for and is refused.
    QTableWidget* grid = m_main.libraryGrid();
    int type = 0;
    for (std::uint16_t j = 0; j < lib.exportCount; ++j) {
        QTableWidgetItem* item = grid->item(lib.exportSelection[j] - 1, 2);
        int named = item ? TypeOfModelText(item->text()) : 0;
        if (named != 0) type = named;
        if (type == 0 || type != state.device.deviceType) {
            m_main.services().dialogs.message(kModelMismatch, kMessageCaption, MessageIcon::Error);
            return;
        }
    }
    if (!exportConfirmed()) return;
    start(0);
}

// The store is replaced as a whole: whatever the instrument holds beyond the
// ticked libraries is lost for good, so the user says yes knowing which.
bool TransferController::exportConfirmed() {
    ProgramState& state = m_main.state();
    const LIB_RW& lib = state.library.lib;
    std::vector<std::string> exported;
    for (std::uint16_t j = 0; j < lib.exportCount; ++j)
        exported.push_back(m_main.library().rowName(lib.exportSelection[j]));
    std::string deviceFolder = LibraryFolderPath(m_main.services().paths.libraryRoot, LibraryView::Device);
    std::vector<CatalogueRow> mirror = ListLibraryFolder(deviceFolder, state.device.brandVariant);
    std::vector<std::string> gone;
    // Names as the grid shows them: a record's bytes may be in a Windows code page.
    for (const CatalogueRow& row : mirror)
        if (std::find(exported.begin(), exported.end(), row.name) == exported.end())
            gone.push_back(DisplayName(row.name));
    std::string question = ExportQuestion(lib.exportCount, gone, mirror.empty());
    return m_main.services().dialogs.message(question, kMessageCaption, MessageIcon::Warning,
                                             MessageButtons::OkCancel) == DialogAnswer::Ok;
}

void TransferController::start(std::uint8_t direction) {
    ProgramState& state = m_main.state();
    state.library.transferState.store(1, std::memory_order_release);
    state.library.lib.transferStatus.store(2, std::memory_order_relaxed);
    state.library.lib.transferDirection = direction;
    m_main.UpdateStatusBar(1, 2);
    m_timer->setInterval(50);
    m_timer->start();
    AppServices& services = m_main.services();
    std::string deviceFolder = LibraryFolderPath(services.paths.libraryRoot, LibraryView::Device);
    m_worker.start([&services, deviceFolder, stop = m_worker.stopFlag()] {
        TransferContext ctx{
            services.link, services.clock, services.state.library, services.state.device, deviceFolder, stop, {}};
        RunTransfer(ctx);
    });
}

void TransferController::trans_TimerTimer() {
    m_worker.reapIfFinished();
    ProgramState& state = m_main.state();
    switch (state.library.transferState.load(std::memory_order_acquire)) {
    case 2: {
        state.library.transferState.store(0, std::memory_order_release);
        m_timer->stop();
        state.library.lib.transferProgress.store(0, std::memory_order_relaxed);
        m_main.progressBar()->setValue(0);
        m_main.UpdateStatusBar(1, state.library.lib.transferStatus.load(std::memory_order_relaxed));
        if (state.library.lib.transferDirection == 1) {
            if (QTableWidgetItem* title = m_main.libraryGrid()->horizontalHeaderItem(1))
                title->setText("Library Name (Device)");
            m_main.library().RefreshLibraryList(state.library.lib.libraryView);
        }
        std::uint8_t result = state.library.lib.transferResult.load(std::memory_order_relaxed);
        TransferMessage message = TransferResultMessage(result);
        if (result == 0 && state.library.lib.transferDirection == 0) {
            // An import shows its result in the grid; an export has only this.
            m_main.statusPanels()->setNotice(
                QString("Exported %1 to the instrument").arg(Libraries(state.library.lib.exportCount)));
            m_main.services().dialogs.message(kExportCompleted, kMessageCaption, MessageIcon::None);
        } else if (result == 0) {
            m_main.statusPanels()->setNotice(
                QString("Imported %1 from the instrument").arg(Libraries(state.library.lib.libraryCount)));
        }
        if (message.text)
            m_main.services().dialogs.message(message.text, kMessageCaption,
                                              message.error ? MessageIcon::Error : MessageIcon::Warning);
        break;
    }
    case 1:
        m_main.progressBar()->setValue(state.library.lib.transferProgress.load(std::memory_order_relaxed));
        break;
    default:
        if (!workerBusy() && state.library.transferState.load(std::memory_order_acquire) == 0) {
            m_timer->stop();
            m_main.progressBar()->setValue(0);
        }
        break;
    }
}

} // namespace veltrane
