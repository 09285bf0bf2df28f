#pragma once

#include <QObject>
#include <cstdint>

#include "device/device_info.h"
#include "device/device_link.h"
#include "library/library_state.h"
#include "library/ui/library_controller.h"
#include "platform/worker_thread.h"
#include "shared/ui/window_host.h"

class QTimer;

namespace veltrane {

// The window side of the library transfers: the import and export buttons,
// the worker thread and trans_Timer following it.
class TransferController : public QObject {
    Q_OBJECT

public:
    TransferController(WindowHost& main, DeviceLink& link, LibraryState& library, const DeviceInfo& device,
                       LibraryController& libraries);
    ~TransferController() override;

    void SpeedButton_import_devClick();
    void SpeedButton_exportClick();
    void trans_TimerTimer();

    // A worker has been started and has not returned yet.
    bool workerBusy() const;
    // Ends a running transfer: the worker finishes its current exchange,
    // leaves the instrument's file uncommitted and returns; this waits for it.
    void shutdown();

private:
    WindowHost& m_main;
    DeviceLink& m_link;
    LibraryState& m_library;
    const DeviceInfo& m_device;
    LibraryController& m_libraryController;
    QTimer* m_timer;
    WorkerThread m_worker;

    bool refusedWhileBusy();
    bool exportConfirmed();
    void start(std::uint8_t direction);
};

} // namespace veltrane
