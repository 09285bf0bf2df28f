#include "measure/ui/measure_controller.h"

#include <QCheckBox>
#include <QIcon>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>
#include <vector>

#include "app/chart_setup.h"
#include "app/ui/main_window.h"
#include "interchange/ui/interchange_controller.h"
#include "measure/raw_spectrum_file.h"
#include "measure/smoothing.h"
#include "platform/file_io.h"
#include "platform/ini_file.h"
#include "shared/ui/status_panels.h"

#include <filesystem>

namespace veltrane {

MeasureController::MeasureController(TForm_main& main)
    : QObject(nullptr), m_main(main), m_exposure(main.findChild<QLineEdit*>("Edit_exp")),
      m_average(main.findChild<QLineEdit*>("Edit_avg_cnt")),
      m_preheat(main.findChild<QLineEdit*>("Edit_laser_preheat")),
      m_power(main.findChild<QLineEdit*>("Edit_laser_power")), m_smooth(main.findChild<QLineEdit*>("Edit_smooth")),
      m_dark(main.findChild<QCheckBox*>("CheckBox_do_dark")), m_timer(main.findChild<QTimer*>("MSR_Timer")) {
    m_capture = main.findChild<QToolButton*>("SpeedButton_msr");
    m_captureIcon = m_capture->icon();
    connect(m_capture, &QToolButton::clicked, this, &MeasureController::SpeedButton_msrClick);
    connect(m_timer, &QTimer::timeout, this, &MeasureController::MSR_TimerTimer);
    connect(main.findChild<UpDown*>("UpDown_avg"), &UpDown::clicked, this, &MeasureController::UpDown_avgClick);
    connect(main.findChild<UpDown*>("UpDown_smooth"), &UpDown::clicked, this, &MeasureController::UpDown_smoothClick);
    connect(m_smooth, &QLineEdit::returnPressed, this, [this] { Edit_smoothKeyPress(13); });
    connect(main.findChild<QToolButton*>("SpeedButton_save_raw"), &QToolButton::clicked, this,
            &MeasureController::SpeedButton_save_rawClick);
    connect(main.findChild<QToolButton*>("SpeedButton_open_raw"), &QToolButton::clicked, this,
            &MeasureController::SpeedButton_open_rawClick);
}

void MeasureController::showError(const std::string& text) {
    m_main.services().dialogs.message(text, kMessageCaption, MessageIcon::Error);
}

MeasureController::~MeasureController() {
    shutdown();
}

bool MeasureController::workerBusy() const {
    return m_worker.busy();
}

void MeasureController::shutdown() {
    m_worker.stopAndWait();
    m_timer->stop();
}

void MeasureController::SpeedButton_msrClick() {
    m_worker.reapIfFinished();
    ProgramState& state = m_main.state();
    CaptureInputs inputs{m_exposure->text().toStdString(), m_average->text().toStdString(),
                         m_preheat->text().toStdString(), m_power->text().toStdString(), m_dark->isChecked()};
    CaptureCheck check = CheckCapture(inputs, state.measurement, state.device, workerBusy());
    if (check.conversionError) {
        m_main.services().dialogs.message(*check.conversionError, kMessageCaption, MessageIcon::Error);
        return;
    }
    if (check.code != CaptureCode::Start) {
        m_main.services().dialogs.message(CaptureMessage(check.code), kMessageCaption, MessageIcon::Error);
        return;
    }
    // A raw file of another sensor size may have changed the pixel count;
    // the measurement reads the instrument's own.
    state.device.pixelCount = state.device.deviceType == 1
                                  ? 256
                                  : static_cast<std::uint16_t>(state.device.pixelLast - state.device.pixelFirst + 1);
    state.measurement.measureState.store(1, std::memory_order_release);
    state.measurement.measureStatus.store(2, std::memory_order_relaxed);
    m_main.UpdateStatusBar(1, 2);
    // The last capture's time would read as this one's; the phase follows.
    m_main.statusPanels()->setValueText(QString());
    showCaptureBusy(true);
    m_timer->setInterval(50);
    m_timer->start();

    AppServices& services = m_main.services();
    state.measurement.measureWorkerRunning.store(true, std::memory_order_release);
    m_worker.start([&services, stop = m_worker.stopFlag()] {
        AcquisitionContext ctx{services.link, services.clock, services.state.measurement, services.state.device, stop};
        RunMeasurement(ctx);
        services.state.measurement.measureWorkerRunning.store(false, std::memory_order_release);
    });
}

void MeasureController::drawMeasurement() {
    ProgramState& state = m_main.state();
    const SpectrumStore& s = state.measurement.spectrum;
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
    m_worker.reapIfFinished();
    ProgramState& state = m_main.state();
    switch (state.measurement.measureState.load(std::memory_order_acquire)) {
    case 2: {
        m_timer->stop();
        state.measurement.measureState.store(0, std::memory_order_release);
        state.measurement.progress.measurePercent.store(0, std::memory_order_relaxed);
        m_main.progressBar()->setValue(0);
        m_main.spectrumChart().clearSeries(m_main.measuredSeries());
        std::uint8_t status = state.measurement.measureStatus.load(std::memory_order_relaxed);
        if (status == 1) drawMeasurement();
        // The panels belong to the mode shown; a measurement's time is no
        // library quantity.
        if (state.shell.activeMode == ActiveMode::Spectrum) {
            m_main.UpdateStatusBar(1, status);
            m_main.UpdateStatusBar(0, state.measurement.progress.measureTime.load(std::memory_order_relaxed));
        }
        m_smooth->setText("0");
        showCaptureBusy(false);
        if (status == 1) {
            m_main.showFileName({});
            m_main.spectrumChart().setAxisTitleCaption(ChartAxis::Bottom, SpectrumXAxisCaption(state));
        }
        m_main.applyAxisRange();
        if (state.measurement.laserOffFailed.exchange(false, std::memory_order_relaxed))
            showError(kLaserOffFailedMessage);
        break;
    }
    case 1: {
        std::uint8_t p = MeasureProgressPercent(state.measurement, m_main.services().clock.tickCount());
        state.measurement.progress.measurePercent.store(p, std::memory_order_relaxed);
        m_main.progressBar()->setValue(p);
        m_main.statusPanels()->setValueText(
            QString::fromStdString(MeasurePhaseText(state.measurement, m_main.services().clock.tickCount())));
        break;
    }
    default:
        // The device was lost while the worker ran and the state was reset.
        // Once the worker has returned there is nothing left to follow, unless
        // its last write came after this tick's look at the state.
        if (!workerBusy() && state.measurement.measureState.load(std::memory_order_acquire) == 0) {
            // Only a run this timer was following leaves its phase behind; a
            // late tick after the result was taken must not wipe its time.
            if (m_timer->isActive()) m_main.statusPanels()->setValueText(QString());
            m_timer->stop();
            m_main.progressBar()->setValue(0);
            showCaptureBusy(false);
        }
        break;
    }
}

// Capture stays clickable while a measurement runs, so a second press still
// hears "Measure Processing!"; it only looks out of use.
void MeasureController::showCaptureBusy(bool busy) {
    m_capture->setProperty("busyLook", busy);
    if (!busy) {
        m_capture->setIcon(m_captureIcon);
        m_capture->setPalette(QPalette());
        return;
    }
    m_capture->setIcon(QIcon(m_captureIcon.pixmap(m_capture->iconSize(), QIcon::Disabled)));
    QPalette palette = m_capture->palette();
    palette.setColor(QPalette::ButtonText, palette.color(QPalette::Disabled, QPalette::ButtonText));
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Disabled, QPalette::WindowText));
    m_capture->setPalette(palette);
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

namespace veltrane {

namespace {
// The smoothing level as the box holds it: a whole number taken to 16 bits.
std::optional<std::int16_t> SmoothLevel(const QString& text) {
    auto value = ParseWholeNumber(text.toStdString());
    if (!value || *value < INT32_MIN || *value > INT32_MAX) return std::nullopt;
    return static_cast<std::int16_t>(*value);
}
} // namespace

void MeasureController::UpDown_smoothClick(bool up) {
    auto level = SmoothLevel(m_smooth->text());
    if (!level) {
        showError(IntegerConversionError(m_smooth->text().toStdString()));
        return;
    }
    int next = *level;
    if (up && next < kMaxSmoothLevel) ++next;
    if (!up && next > 0) --next;
    m_smooth->setText(QString::number(next));
    if (next != *level) smoothAndRedraw(next);
}

void MeasureController::Edit_smoothKeyPress(char key) {
    if (key != 13) return;
    auto level = SmoothLevel(m_smooth->text());
    if (!level) {
        showError(IntegerConversionError(m_smooth->text().toStdString()));
        return;
    }
    // The box keeps what was typed; the computation takes the nearest level.
    smoothAndRedraw(std::clamp<int>(*level, 0, kMaxSmoothLevel));
}

void MeasureController::smoothAndRedraw(int level) {
    ProgramState& state = m_main.state();
    const SpectrumStore& s = state.measurement.spectrum;
    if (MeasurementBusy(state.measurement) || (!s.haveMeasured && !s.haveFileData)) return;
    std::uint16_t count = std::min<std::uint16_t>(state.device.pixelCount, static_cast<std::uint16_t>(kMaxPixels));
    std::vector<float> input(count), output(count);
    for (std::uint16_t i = 0; i < count; ++i) {
        float value = s.signal[i] - s.dark[i];
        input[i] = value > 0.0f ? value : 0.0f; // also drops a value that is not a number
    }
    SmoothSpectrum(SmoothCoefficients(level), kSmoothWindow, input.data(), output.data(), count);
    int first = s.windowFirst, end = s.windowEnd;
    if (!s.haveMeasured) {
        first = static_cast<std::uint16_t>(state.measurement.rawFile.windowStart);
        end = static_cast<std::uint16_t>(state.measurement.rawFile.windowEnd);
    }
    end = std::min<int>(end, count);
    std::vector<ChartPoint> points;
    for (int i = first; i < end; ++i)
        points.push_back({s.axis[i], output[i]});
    ChartModel& chart = m_main.spectrumChart();
    chart.clearSeries(m_main.measuredSeries());
    chart.addPoints(m_main.measuredSeries(), points);
}

void MeasureController::SpeedButton_save_rawClick() {
    ProgramState& state = m_main.state();
    if (const char* refusal = SaveRawRefusal(state.measurement, state.device)) {
        showError(refusal);
        return;
    }
    std::optional<std::string> path = m_main.services().dialogs.saveFile(kRawFilter, "*.rsd");
    if (!path) return;
    std::string fileName = std::filesystem::path(*path).filename().string();
    RawFileRecord saved = state.measurement.rawFile;
    std::string bytes = BuildRawSpectrumFile(state.measurement, state.device, fileName, CurrentLocalDateTime(), saved);
    if (!WriteFileAtomically(*path, bytes)) {
        showError(kSaveFailed);
        return;
    }
    state.measurement.rawFile.laserWavelength = saved.laserWavelength;
    state.measurement.rawFile.laserPixel = saved.laserPixel;
    state.measurement.rawFile.windowStart = saved.windowStart;
    state.measurement.rawFile.windowEnd = saved.windowEnd;
    m_main.showFileName(fileName);
    m_main.showNotice(QString("Saved %1").arg(QString::fromStdString(*path)));
}

void MeasureController::SpeedButton_open_rawClick() {
    ProgramState& state = m_main.state();
    if (MeasurementBusy(state.measurement)) {
        showError(kMeasureProcessingMessage);
        return;
    }
    std::optional<std::string> path = m_main.services().dialogs.openFile(kOpenSpectrumFilter);
    if (!path) return;
    if (InterchangeController::IsForeignSpectrum(*path)) {
        if (m_main.interchange().openForeign(*path)) m_smooth->setText("0");
        return;
    }
    std::string bytes;
    // A raw file is at most some 20 kB; anything far larger is not one. A
    // FIFO or a device chosen in the dialog is refused unopened.
    LoadResult loaded = ReadWholeFile(*path, bytes, 1u << 20);
    if (loaded == LoadResult::Missing) return;
    if (loaded == LoadResult::TooLarge) {
        showError(kUnknownRawFormat);
        return;
    }
    if (loaded != LoadResult::Loaded) {
        showError(kOpenFailed);
        return;
    }
    RawFileRecord record;
    switch (DecodeRawSpectrumFile(bytes, record)) {
    case RawFileCheck::Ok:
        break;
    case RawFileCheck::UnknownFormat:
        showError(kUnknownRawFormat);
        return;
    case RawFileCheck::Incomplete:
        showError(kIncompleteRawFile);
        return;
    case RawFileCheck::WindowOutside:
        showError(kRawWindowOutside);
        return;
    }
    state.measurement.rawFile = record;
    m_main.applyAxisRange();
    ChartModel& chart = m_main.spectrumChart();
    chart.clearSeries(m_main.measuredSeries());
    ApplyRawSpectrum(state.measurement.rawFile, state.measurement, state.device);
    std::vector<ChartPoint> points;
    for (std::int32_t i = record.windowStart; i < record.windowEnd; ++i)
        points.push_back({state.measurement.spectrum.axis[i], state.measurement.spectrum.signal[i]});
    chart.addPoints(m_main.measuredSeries(), points);
    chart.setAxisTitleCaption(ChartAxis::Bottom, SpectrumXAxisCaption(state));
    m_smooth->setText("0");
    m_main.showFileName(std::filesystem::path(*path).filename().string());
}

} // namespace veltrane
