#pragma once

#include <QIcon>
#include <QObject>
#include <functional>
#include <string>

#include "device/device_info.h"
#include "device/device_link.h"
#include "measure/measurement.h"
#include "measure/measurement_session.h"
#include "platform/worker_thread.h"
#include "shared/ui/window_host.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QCheckBox;
class QTimer;
class QToolButton;

namespace veltrane {

// How Open Raw hands a spectrum in another format (CSV, JCAMP-DX, SPC) to
// the window code that reads those: the open dialog's filter, whether a
// chosen file is one of them, and the opening itself (true when shown).
struct ForeignSpectra {
    std::string filter;
    std::function<bool(const std::string&)> accepts;
    std::function<bool(const std::string&)> open;
};

// The window side of a measurement: Capture with its checks, the worker
// thread, MSR_Timer following it, and the average box's arrows.
class MeasureController : public QObject {
    Q_OBJECT

public:
    MeasureController(WindowHost& main, DeviceLink& link, MeasurementSession& session, DeviceInfo& device,
                      ForeignSpectra foreign);
    ~MeasureController() override;

    void SpeedButton_msrClick();
    // Stop (and Escape while a capture runs): the worker ends at its next
    // poll with the laser off, and nothing of the capture is kept.
    void SpeedButton_stopClick();
    void MSR_TimerTimer();
    void UpDown_avgClick(bool up);
    void UpDown_smoothClick(bool up);
    // A key typed into the smoothing box; only Enter (13) acts.
    void Edit_smoothKeyPress(char key);
    // The smoothing box lost the focus after an edit: its level is applied.
    void Edit_smoothExit();
    void SpeedButton_save_rawClick();
    void SpeedButton_open_rawClick();

    // Auto beside Int.time, as the settings keep it between sessions.
    bool autoExposure() const;
    void setAutoExposure(bool automatic);
    // The operator, and whether the sample name and notes stay for the next
    // capture, as the settings keep them between sessions.
    std::string operatorName() const;
    void setOperatorName(const std::string& name);
    bool keepSampleForNext() const;
    void setKeepSampleForNext(bool keep);

    // A worker has been started and has not returned yet.
    bool workerBusy() const;
    // The Stop button belongs to the Spectrum mode's buttons.
    void showInMode(ActiveMode mode);
    // Ends a running measurement for good: the worker stops at its next wait,
    // switches the laser off and returns; this waits for it.
    void shutdown();
    // Draws the shown spectrum again at the smoothing box's level, as after
    // its axis changed.
    void redraw();

signals:
    // A capture has ended and its result was taken: `shown` when it gave a
    // new spectrum, false when it failed, was stopped or the device was lost.
    void captureEnded(bool shown);

private:
    WindowHost& m_main;
    DeviceLink& m_link;
    MeasurementSession& m_session;
    DeviceInfo& m_device;
    ForeignSpectra m_foreign;
    QLineEdit* m_exposure;
    QLineEdit* m_average;
    QLineEdit* m_preheat;
    QLineEdit* m_power;
    QLineEdit* m_smooth;
    QCheckBox* m_dark;
    QTimer* m_timer;
    QToolButton* m_capture;
    QToolButton* m_stop = nullptr;
    QCheckBox* m_autoExposure = nullptr;
    QLabel* m_saturation = nullptr;
    QWidget* m_info = nullptr;
    QLineEdit* m_sampleName = nullptr;
    QLineEdit* m_operator = nullptr;
    QPlainTextEdit* m_notes = nullptr;
    QCheckBox* m_keepSample = nullptr;
    // What the fields held when the running capture started: its own.
    SampleInfo m_captureSample;
    QIcon m_captureIcon;
    // The pixel count before the capture: a stopped capture gives back the
    // spectrum shown before it, which may be a raw file of another sensor.
    std::uint16_t m_pixelCountBefore = 0;
    WorkerThread m_worker;

    void addStopButton();
    void addExposureControls();
    void addSampleFields();
    SampleInfo typedSample() const;
    // The fields show the shown spectrum's name and notes; the operator
    // field keeps the person at the instrument.
    void showSample(const SampleInfo& sample);
    bool eventFilter(QObject* watched, QEvent* event) override;
    void finishMeasurement();
    void finishStopped();
    void markClippedPoints();
    void showSaturation(std::size_t pixels);
    void drawMeasurement();
    void smoothAndRedraw(int level);
    void showError(const std::string& text);
    void showCaptureBusy(bool busy);
};

} // namespace veltrane
