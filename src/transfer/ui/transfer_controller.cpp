#include "transfer/ui/transfer_controller.h"

#include <QProgressBar>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

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

TransferController::TransferController(WindowHost& main, DeviceLink& link, LibraryState& library,
                                       const DeviceInfo& device, LibraryController& libraries)
    : QObject(nullptr), m_main(main), m_link(link), m_library(library), m_device(device),
      m_libraryController(libraries), m_timer(main.mainWindow()->findChild<QTimer*>("trans_Timer")) {
    connect(main.mainWindow()->findChild<QToolButton*>("SpeedButton_import_dev"), &QToolButton::clicked, this,
            &TransferController::SpeedButton_import_devClick);
    connect(main.mainWindow()->findChild<QToolButton*>("SpeedButton_export"), &QToolButton::clicked, this,
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
    if (m_library.transferState.load(std::memory_order_acquire) == 0 && !workerBusy()) return false;
    m_main.dialogs().message(kMeasureProcessingMessage, kMessageCaption, MessageIcon::Error);
    return true;
}

void TransferController::SpeedButton_import_devClick() {
    if (refusedWhileBusy()) return;
    m_library.lib.libraryFolder = LibraryFolderPath(m_main.paths().libraryRoot, LibraryView::Device);
    m_library.lib.libraryView = LibraryView::Device;
    if (!EnsureFolder(m_library.lib.libraryFolder)) {
        m_main.dialogs().message("Can not creat folder!", kMessageCaption, MessageIcon::Warning);
        return;
    }
    DeleteMatching(m_library.lib.libraryFolder, kLibraryPattern);
    start(1);
}

void TransferController::SpeedButton_exportClick() {
    if (refusedWhileBusy()) return;
    LIB_RW& lib = m_library.lib;
    lib.exportCount = 0;
    lib.exportSelection.fill(0);
    lib.exportFiles.clear();
    std::vector<int> ticked = m_libraryController.tickedRows();
    if (const char* refusal = ExportSelectionRefusal(ticked.size())) {
        m_main.dialogs().message(refusal, kMessageCaption, MessageIcon::Warning);
        return;
    }
    for (int row : ticked) {
        lib.exportSelection[lib.exportCount++] = static_cast<std::uint16_t>(row);
        lib.exportFiles.push_back(m_libraryController.rowFile(row));
    }
    if (lib.exportCount == 0) {
        m_main.dialogs().message(kNotSelect, kMessageCaption, MessageIcon::Warning);
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
        if (type == 0 || type != m_device.deviceType) {
            m_main.dialogs().message(kModelMismatch, kMessageCaption, MessageIcon::Error);
            return;
        }
    }
    if (!exportConfirmed()) return;
    start(0);
}

// The store is replaced as a whole: whatever the instrument holds beyond the
// ticked libraries is lost for good, so the user says yes knowing which.
bool TransferController::exportConfirmed() {
    const LIB_RW& lib = m_library.lib;
    std::vector<std::string> exported;
    for (std::uint16_t j = 0; j < lib.exportCount; ++j)
        exported.push_back(m_libraryController.rowName(lib.exportSelection[j]));
    std::string deviceFolder = LibraryFolderPath(m_main.paths().libraryRoot, LibraryView::Device);
    std::vector<CatalogueRow> mirror = ListLibraryFolder(deviceFolder, m_device.brandVariant);
    std::vector<std::string> gone;
    // Names as the grid shows them: a record's bytes may be in a Windows code page.
    for (const CatalogueRow& row : mirror)
        if (std::find(exported.begin(), exported.end(), row.name) == exported.end())
            gone.push_back(DisplayName(row.name));
    std::string question = ExportQuestion(lib.exportCount, gone, mirror.empty());
    return m_main.dialogs().message(question, kMessageCaption, MessageIcon::Warning, MessageButtons::OkCancel) ==
           DialogAnswer::Ok;
}

void TransferController::start(std::uint8_t direction) {
    m_library.transferState.store(1, std::memory_order_release);
    m_library.lib.transferStatus.store(2, std::memory_order_relaxed);
    m_library.lib.transferDirection = direction;
    m_main.UpdateStatusBar(1, 2);
    m_timer->setInterval(50);
    m_timer->start();
    DeviceLink& link = m_link;
    Clock& clock = m_main.clock();
    LibraryState& library = m_library;
    const DeviceInfo& device = m_device;
    std::string deviceFolder = LibraryFolderPath(m_main.paths().libraryRoot, LibraryView::Device);
    m_worker.start([&link, &clock, &library, &device, deviceFolder, stop = m_worker.stopFlag()] {
        TransferContext ctx{link, clock, library, device, deviceFolder, stop, {}};
        RunTransfer(ctx);
    });
}

void TransferController::trans_TimerTimer() {
    m_worker.reapIfFinished();
    switch (m_library.transferState.load(std::memory_order_acquire)) {
    case 2: {
        m_library.transferState.store(0, std::memory_order_release);
        m_timer->stop();
        m_library.lib.transferProgress.store(0, std::memory_order_relaxed);
        m_main.progressBar()->setValue(0);
        m_main.UpdateStatusBar(1, m_library.lib.transferStatus.load(std::memory_order_relaxed));
        if (m_library.lib.transferDirection == 1) {
            if (QTableWidgetItem* title = m_main.libraryGrid()->horizontalHeaderItem(1))
                title->setText("Library Name (Device)");
            m_libraryController.RefreshLibraryList(m_library.lib.libraryView);
        }
        std::uint8_t result = m_library.lib.transferResult.load(std::memory_order_relaxed);
        TransferMessage message = TransferResultMessage(result);
        if (result == 0 && m_library.lib.transferDirection == 0) {
            // An import shows its result in the grid; an export has only this.
            m_main.statusPanels()->setNotice(
                QString("Exported %1 to the instrument").arg(Libraries(m_library.lib.exportCount)));
            m_main.dialogs().message(kExportCompleted, kMessageCaption, MessageIcon::None);
        } else if (result == 0) {
            m_main.statusPanels()->setNotice(
                QString("Imported %1 from the instrument").arg(Libraries(m_library.lib.libraryCount)));
        }
        if (message.text)
            m_main.dialogs().message(message.text, kMessageCaption,
                                     message.error ? MessageIcon::Error : MessageIcon::Warning);
        break;
    }
    case 1:
        m_main.progressBar()->setValue(m_library.lib.transferProgress.load(std::memory_order_relaxed));
        break;
    default:
        if (!workerBusy() && m_library.transferState.load(std::memory_order_acquire) == 0) {
            m_timer->stop();
            m_main.progressBar()->setValue(0);
        }
        break;
    }
}

} // namespace veltrane
