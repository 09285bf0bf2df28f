#include "measure/ui/measure_controller.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>
#include <vector>

#include "app/chart_setup.h"
#include "app/ui/main_window.h"
#include "app/ui/status_panels.h"

namespace veltrane {

MeasureController::MeasureController(TForm_main& main)
    : QObject(nullptr), m_main(main), m_exposure(main.findChild<QLineEdit*>("Edit_exp")),
      m_average(main.findChild<QLineEdit*>("Edit_avg_cnt")),
      m_preheat(main.findChild<QLineEdit*>("Edit_laser_preheat")),
      m_power(main.findChild<QLineEdit*>("Edit_laser_power")), m_smooth(main.findChild<QLineEdit*>("Edit_smooth")),
      m_dark(main.findChild<QCheckBox*>("CheckBox_do_dark")), m_timer(main.findChild<QTimer*>("MSR_Timer")) {
    connect(main.findChild<QToolButton*>("SpeedButton_msr"), &QToolButton::clicked, this,
            &MeasureController::SpeedButton_msrClick);
    connect(m_timer, &QTimer::timeout, this, &MeasureController::MSR_TimerTimer);
    connect(main.findChild<UpDown*>("UpDown_avg"), &UpDown::clicked, this, &MeasureController::UpDown_avgClick);
}

MeasureController::~MeasureController() { shutdown(); }

bool MeasureController::workerBusy() const { return !m_workerDone.load(std::memory_order_acquire); }

void MeasureController::joinFinishedWorker() {
    if (m_worker.joinable() && m_workerDone.load(std::memory_order_acquire)) m_worker.join();
}

void MeasureController::shutdown() {
    m_stop.store(true, std::memory_order_release);
    if (m_worker.joinable()) m_worker.join();
    m_timer->stop();
}

void MeasureController::SpeedButton_msrClick() {
    joinFinishedWorker();
    ProgramState& state = m_main.state();
    CaptureInputs inputs{m_exposure->text().toStdString(), m_average->text().toStdString(),
                         m_preheat->text().toStdString(), m_power->text().toStdString(), m_dark->isChecked()};
    CaptureCheck check = CheckCapture(inputs, state, workerBusy());
    if (check.conversionError) {
        m_main.services().dialogs.message(*check.conversionError, kMessageCaption, MessageIcon::Error);
        return;
    }
    if (check.code != CaptureCode::Start) {
        m_main.services().dialogs.message(CaptureMessage(check.code), kMessageCaption, MessageIcon::Error);
        return;
    }
    state.measureState.store(1, std::memory_order_release);
    state.measureStatus.store(2, std::memory_order_relaxed);
    m_main.UpdateStatusBar(1, 2);
    m_timer->setInterval(50);
    m_timer->start();

    m_stop.store(false, std::memory_order_release);
    m_workerDone.store(false, std::memory_order_release);
    AppServices& services = m_main.services();
    m_worker = std::thread([this, &services] {
        AcquisitionContext ctx{services.link, services.clock, services.state, &m_stop};
        RunMeasurement(ctx);
        m_workerDone.store(true, std::memory_order_release);
    });
}

void MeasureController::drawMeasurement() {
    ProgramState& state = m_main.state();
    const SpectrumStore& s = state.spectrum;
    std::vector<ChartPoint> points;
    std::uint16_t end = std::min<std::uint16_t>(s.windowEnd, static_cast<std::uint16_t>(kMaxPixels));
    if (s.windowFirst < end) points.reserve(end - s.windowFirst);
    for (std::uint16_t i = s.windowFirst; i < end; ++i) {
        float y = s.signal[i] - s.dark[i];
        points.push_back({s.axis[i], y > 0.0f ? y : 0.0f});
    }
    m_main.spectrumChart().addPoints(m_main.measuredSeries(), points);
}

void MeasureController::MSR_TimerTimer() {
    joinFinishedWorker();
    ProgramState& state = m_main.state();
    switch (state.measureState.load(std::memory_order_acquire)) {
    case 2: {
        m_timer->stop();
        state.measureState.store(0, std::memory_order_release);
        state.progress.measurePercent.store(0, std::memory_order_relaxed);
        m_main.progressBar()->setValue(0);
        m_main.spectrumChart().clearSeries(m_main.measuredSeries());
        std::uint8_t status = state.measureStatus.load(std::memory_order_relaxed);
        if (status == 1) drawMeasurement();
        m_main.UpdateStatusBar(1, status);
        m_main.UpdateStatusBar(0, state.progress.measureTime.load(std::memory_order_relaxed));
        m_smooth->setText("0");
        m_main.applyAxisRange();
        break;
    }
    case 1: {
        std::uint8_t p = MeasureProgressPercent(state, m_main.services().clock.tickCount());
        state.progress.measurePercent.store(p, std::memory_order_relaxed);
        m_main.progressBar()->setValue(p);
        break;
    }
    default:
        // The device was lost while the worker ran and the state was reset.
        // Once the worker has returned there is nothing left to follow, unless
        // its last write came after this tick's look at the state.
        if (!workerBusy() && state.measureState.load(std::memory_order_acquire) == 0) {
            m_timer->stop();
            m_main.progressBar()->setValue(0);
        }
        break;
    }
}

void MeasureController::UpDown_avgClick(bool up) {
    StepResult step = StepAverage(m_average->text().toStdString(), up);
    if (step.error) {
        m_main.services().dialogs.message(*step.error, kMessageCaption, MessageIcon::Error);
        return;
    }
    m_average->setText(QString::fromStdString(*step.text));
}

} // namespace veltrane
