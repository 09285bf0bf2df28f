#pragma once

#include <QIcon>
#include <QObject>

#include "measure/measurement.h"
#include "platform/worker_thread.h"

class QLineEdit;
class QCheckBox;
class QTimer;
class QToolButton;

namespace veltrane {

class TForm_main;

// The window side of a measurement: Capture with its checks, the worker
// thread, MSR_Timer following it, and the average box's arrows.
class MeasureController : public QObject {
    Q_OBJECT

public:
    explicit MeasureController(TForm_main& main);
    ~MeasureController() override;

    void SpeedButton_msrClick();
    void MSR_TimerTimer();
    void UpDown_avgClick(bool up);
    void UpDown_smoothClick(bool up);
    // A key typed into the smoothing box; only Enter (13) acts.
    void Edit_smoothKeyPress(char key);
    void SpeedButton_save_rawClick();
    void SpeedButton_open_rawClick();

    // A worker has been started and has not returned yet.
    bool workerBusy() const;
    // Ends a running measurement for good: the worker stops at its next wait,
    // switches the laser off and returns; this waits for it.
    void shutdown();

private:
    TForm_main& m_main;
    QLineEdit* m_exposure;
    QLineEdit* m_average;
    QLineEdit* m_preheat;
    QLineEdit* m_power;
    QLineEdit* m_smooth;
    QCheckBox* m_dark;
    QTimer* m_timer;
    QToolButton* m_capture;
    QIcon m_captureIcon;
    WorkerThread m_worker;

    void drawMeasurement();
    void smoothAndRedraw(int level);
    void showError(const std::string& text);
    void showCaptureBusy(bool busy);
};

} // namespace veltrane
