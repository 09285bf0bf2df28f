#pragma once

#include <QObject>
#include <cstdint>

#include "platform/worker_thread.h"

class QTimer;

namespace veltrane {

class TForm_main;

// The window side of the library transfers: the import and export buttons,
// the worker thread and trans_Timer following it.
class TransferController : public QObject {
    Q_OBJECT

public:
    explicit TransferController(TForm_main& main);
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
    TForm_main& m_main;
    QTimer* m_timer;
    WorkerThread m_worker;

    bool refusedWhileBusy();
    bool exportConfirmed();
    void start(std::uint8_t direction);
};

} // namespace veltrane
