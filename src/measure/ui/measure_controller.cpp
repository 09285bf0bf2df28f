#include "measure/ui/measure_controller.h"

#include <QCheckBox>
#include <QIcon>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>
#include <vector>

#include "measure/raw_spectrum_file.h"
#include "measure/smoothing.h"
#include "measure/spectral_axis.h"
#include "platform/file_io.h"
#include "platform/ini_file.h"
#include "shared/ui/status_panels.h"

#include <filesystem>

namespace veltrane {

MeasureController::MeasureController(WindowHost& main, DeviceLink& link, MeasurementSession& session,
                                     DeviceInfo& device, ForeignSpectra foreign)
    : QObject(nullptr), m_main(main), m_link(link), m_session(session), m_device(device), m_foreign(std::move(foreign)),
      m_exposure(main.mainWindow()->findChild<QLineEdit*>("Edit_exp")),
      m_average(main.mainWindow()->findChild<QLineEdit*>("Edit_avg_cnt")),
      m_preheat(main.mainWindow()->findChild<QLineEdit*>("Edit_laser_preheat")),
      m_power(main.mainWindow()->findChild<QLineEdit*>("Edit_laser_power")),
      m_smooth(main.mainWindow()->findChild<QLineEdit*>("Edit_smooth")),
      m_dark(main.mainWindow()->findChild<QCheckBox*>("CheckBox_do_dark")),
      m_timer(main.mainWindow()->findChild<QTimer*>("MSR_Timer")) {
    m_capture = main.mainWindow()->findChild<QToolButton*>("SpeedButton_msr");
    m_captureIcon = m_capture->icon();
    connect(m_capture, &QToolButton::clicked, this, &MeasureController::SpeedButton_msrClick);
    connect(m_timer, &QTimer::timeout, this, &MeasureController::MSR_TimerTimer);
    connect(main.mainWindow()->findChild<UpDown*>("UpDown_avg"), &UpDown::clicked, this,
            &MeasureController::UpDown_avgClick);
    connect(main.mainWindow()->findChild<UpDown*>("UpDown_smooth"), &UpDown::clicked, this,
            &MeasureController::UpDown_smoothClick);
    connect(m_smooth, &QLineEdit::returnPressed, this, [this] { Edit_smoothKeyPress(13); });
    // Leaving the box applies it too, or the chart (and an export of it)
    // would keep a level the box no longer shows. Enter has acted already.
    connect(m_smooth, &QLineEdit::editingFinished, this, [this] {
        if (!m_smooth->hasFocus()) Edit_smoothExit();
    });
    connect(main.mainWindow()->findChild<QToolButton*>("SpeedButton_save_raw"), &QToolButton::clicked, this,
            &MeasureController::SpeedButton_save_rawClick);
    connect(main.mainWindow()->findChild<QToolButton*>("SpeedButton_open_raw"), &QToolButton::clicked, this,
            &MeasureController::SpeedButton_open_rawClick);
}

void MeasureController::showError(const std::string& text) {
    m_main.dialogs().message(text, kMessageCaption, MessageIcon::Error);
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
    CaptureInputs inputs{m_exposure->text().toStdString(), m_average->text().toStdString(),
                         m_preheat->text().toStdString(), m_power->text().toStdString(), m_dark->isChecked()};
    CaptureCheck check = CheckCapture(inputs, m_session, m_device, workerBusy());
    if (check.conversionError) {
        m_main.dialogs().message(*check.conversionError, kMessageCaption, MessageIcon::Error);
        return;
    }
    if (check.code == CaptureCode::NoDevice && !m_device.connectionChecked) {
        m_main.dialogs().message(kDeviceBeingIdentified, kMessageCaption, MessageIcon::None);
        return;
    }
    if (check.code != CaptureCode::Start) {
        m_main.dialogs().message(CaptureMessage(check.code), kMessageCaption, MessageIcon::Error);
        return;
    }
    // A raw file of another sensor size may have changed the pixel count;
    // the measurement reads the instrument's own.
    m_device.pixelCount =
        m_device.deviceType == 1 ? 256 : static_cast<std::uint16_t>(m_device.pixelLast - m_device.pixelFirst + 1);
    m_session.measureState.store(1, std::memory_order_release);
    m_session.measureStatus.store(2, std::memory_order_relaxed);
    m_main.UpdateStatusBar(1, 2);
    // The last capture's time would read as this one's; the phase follows.
    m_main.statusPanels()->setValueText(QString());
    showCaptureBusy(true);
    m_timer->setInterval(50);
    m_timer->start();

    // The worker holds references to objects the window program owns for its
    // whole life; the controller stops and joins it before they go.
    DeviceLink& link = m_link;
    Clock& clock = m_main.clock();
    MeasurementSession& session = m_session;
    const DeviceInfo& device = m_device;
    m_session.measureWorkerRunning.store(true, std::memory_order_release);
    m_worker.start([&link, &clock, &session, &device, stop = m_worker.stopFlag()] {
        AcquisitionContext ctx{link, clock, session, device, stop};
        RunMeasurement(ctx);
        session.measureWorkerRunning.store(false, std::memory_order_release);
    });
}

void MeasureController::drawMeasurement() {
    const SpectrumStore& s = m_session.spectrum;
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
    switch (m_session.measureState.load(std::memory_order_acquire)) {
    case 2: {
        m_timer->stop();
        m_session.measureState.store(0, std::memory_order_release);
        m_session.progress.measurePercent.store(0, std::memory_order_relaxed);
        m_main.progressBar()->setValue(0);
        m_main.spectrumChart().clearSeries(m_main.measuredSeries());
        std::uint8_t status = m_session.measureStatus.load(std::memory_order_relaxed);
        if (status == 1) drawMeasurement();
        // The panels belong to the mode shown; a measurement's time is no
        // library quantity.
        if (m_main.activeMode() == ActiveMode::Spectrum) {
            m_main.UpdateStatusBar(1, status);
            m_main.UpdateStatusBar(0, m_session.progress.measureTime.load(std::memory_order_relaxed));
        }
        m_smooth->setText("0");
        showCaptureBusy(false);
        if (status == 1) {
            m_main.showFileName({});
            m_main.spectrumChart().setAxisTitleCaption(ChartAxis::Bottom, SpectrumXAxisCaption(m_session, m_device));
        }
        m_main.applyAxisRange();
        if (m_session.laserOffFailed.exchange(false, std::memory_order_relaxed)) showError(kLaserOffFailedMessage);
        break;
    }
    case 1: {
        std::uint8_t p = MeasureProgressPercent(m_session, m_main.clock().tickCount());
        m_session.progress.measurePercent.store(p, std::memory_order_relaxed);
        m_main.progressBar()->setValue(p);
        m_main.statusPanels()->setValueText(
            QString::fromStdString(MeasurePhaseText(m_session, m_main.clock().tickCount())));
        break;
    }
    default:
        // The device was lost while the worker ran and the state was reset.
        // Once the worker has returned there is nothing left to follow, unless
        // its last write came after this tick's look at the state.
        if (!workerBusy() && m_session.measureState.load(std::memory_order_acquire) == 0) {
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
        m_main.dialogs().message(*step.error, kMessageCaption, MessageIcon::Error);
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

void MeasureController::Edit_smoothExit() {
    // A box left empty keeps the curve; Enter on it says what is wrong.
    if (auto level = SmoothLevel(m_smooth->text())) smoothAndRedraw(std::clamp<int>(*level, 0, kMaxSmoothLevel));
}

void MeasureController::smoothAndRedraw(int level) {
    const SpectrumStore& s = m_session.spectrum;
    if (MeasurementBusy(m_session) || (!s.haveMeasured && !s.haveFileData)) return;
    std::uint16_t count = std::min<std::uint16_t>(m_device.pixelCount, static_cast<std::uint16_t>(kMaxPixels));
    std::vector<float> input(count), output(count);
    for (std::uint16_t i = 0; i < count; ++i) {
        float value = s.signal[i] - s.dark[i];
        input[i] = value > 0.0f ? value : 0.0f; // also drops a value that is not a number
    }
    SmoothSpectrum(SmoothCoefficients(level), kSmoothWindow, input.data(), output.data(), count);
    int first = s.windowFirst, end = s.windowEnd;
    if (!s.haveMeasured) {
        first = static_cast<std::uint16_t>(m_session.rawFile.windowStart);
        end = static_cast<std::uint16_t>(m_session.rawFile.windowEnd);
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
    if (const char* refusal = SaveRawRefusal(m_session, m_device)) {
        showError(refusal);
        return;
    }
    std::optional<std::string> path = m_main.dialogs().saveFile(kRawFilter, "*.rsd");
    if (!path) return;
    std::string fileName = std::filesystem::path(*path).filename().string();
    RawFileRecord saved = m_session.rawFile;
    std::string bytes = BuildRawSpectrumFile(m_session, m_device, fileName, CurrentLocalDateTime(), saved);
    if (!WriteFileAtomically(*path, bytes)) {
        showError(kSaveFailed);
        return;
    }
    m_session.rawFile.laserWavelength = saved.laserWavelength;
    m_session.rawFile.laserPixel = saved.laserPixel;
    m_session.rawFile.windowStart = saved.windowStart;
    m_session.rawFile.windowEnd = saved.windowEnd;
    m_main.showFileName(fileName);
    m_main.showNotice(QString("Saved %1").arg(QString::fromStdString(*path)));
}

void MeasureController::SpeedButton_open_rawClick() {
    if (MeasurementBusy(m_session)) {
        showError(kMeasureProcessingMessage);
        return;
    }
    std::optional<std::string> path = m_main.dialogs().openFile(m_foreign.filter);
    if (!path) return;
    if (m_foreign.accepts(*path)) {
        if (m_foreign.open(*path)) m_smooth->setText("0");
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
    m_session.rawFile = record;
    m_main.applyAxisRange();
    ChartModel& chart = m_main.spectrumChart();
    chart.clearSeries(m_main.measuredSeries());
    ApplyRawSpectrum(m_session.rawFile, m_session, m_device);
    std::vector<ChartPoint> points;
    for (std::int32_t i = record.windowStart; i < record.windowEnd; ++i)
        points.push_back({m_session.spectrum.axis[i], m_session.spectrum.signal[i]});
    chart.addPoints(m_main.measuredSeries(), points);
    chart.setAxisTitleCaption(ChartAxis::Bottom, SpectrumXAxisCaption(m_session, m_device));
    m_smooth->setText("0");
    m_main.showFileName(std::filesystem::path(*path).filename().string());
}

} // namespace veltrane
