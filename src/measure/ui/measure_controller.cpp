#include "measure/ui/measure_controller.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <ctime>
#include <vector>

#include "measure/raw_spectrum_file.h"
#include "measure/sample_sidecar.h"
#include "measure/saturation.h"
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
    addStopButton();
    addExposureControls();
    addSampleFields();
    // Escape stops a capture wherever the focus is in the main window, also
    // in a parameter box.
    qApp->installEventFilter(this);
}

namespace {
// A red square, the stop sign of every player, drawn like the other tool glyphs.
QIcon StopIcon() {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(120, 20, 20), 3));
    p.setBrush(QColor(210, 40, 40));
    p.drawRoundedRect(QRectF(14, 14, 36, 36), 4, 4);
    return QIcon(pixmap);
}
} // namespace

void MeasureController::addStopButton() {
    QWidget* functions = m_main.mainWindow()->findChild<QWidget*>("Panel_function_ground");
    m_stop = new QToolButton(functions);
    m_stop->setObjectName("SpeedButton_stop");
    m_stop->setIcon(StopIcon());
    m_stop->setIconSize(QSize(32, 32));
    m_stop->setText("Stop");
    m_stop->setToolTip("Stop Measurement (Esc)");
    m_stop->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_stop->setAutoRaise(true);
    m_stop->setFixedSize(64, 64);
    m_stop->setFocusPolicy(Qt::NoFocus);
    m_stop->setEnabled(false);
    if (functions && functions->layout()) {
        auto* row = static_cast<QHBoxLayout*>(functions->layout());
        row->insertWidget(row->indexOf(m_capture) + 1, m_stop);
    }
    connect(m_stop, &QToolButton::clicked, this, &MeasureController::SpeedButton_stopClick);
}

// "Auto" beside Int.time, and below the boxes the warning of a clipped
// capture, where the time is to be changed.
void MeasureController::addExposureControls() {
    auto* box = m_main.mainWindow()->findChild<QGroupBox*>("GroupBox_spectrom_set");
    auto* grid = box ? qobject_cast<QGridLayout*>(box->layout()) : nullptr;
    m_autoExposure = new QCheckBox("Auto", box);
    m_autoExposure->setObjectName("CheckBox_auto_exp");
    m_autoExposure->setToolTip("Choose Int.time from short trial frames after the preheat");
    m_saturation = new QLabel(box);
    m_saturation->setObjectName("Label_saturation");
    m_saturation->setStyleSheet("color: #dc0000; font-weight: bold;");
    m_saturation->setWordWrap(true);
    m_saturation->setVisible(false);
    if (grid) {
        grid->addWidget(m_autoExposure, 0, 2);
        grid->addWidget(m_saturation, grid->rowCount(), 0, 1, 3);
    }
    m_info = m_main.mainWindow()->findChild<QWidget*>("Panel_info");
}

// Below the parameters: what is measured and by whom. Typing changes the
// shown spectrum's sample information at once, so an export or save after
// it carries what was typed; a capture takes its own copy when it starts.
void MeasureController::addSampleFields() {
    QWidget* panel = m_main.mainWindow()->findChild<QWidget*>("Panel_para_set");
    auto* box = new QGroupBox("Sample", panel);
    box->setObjectName("GroupBox_sample");
    auto* grid = new QGridLayout(box);
    m_sampleName = new QLineEdit(box);
    m_sampleName->setObjectName("Edit_sample_name");
    m_operator = new QLineEdit(box);
    m_operator->setObjectName("Edit_operator");
    m_notes = new QPlainTextEdit(box);
    m_notes->setObjectName("Memo_notes");
    m_notes->setTabChangesFocus(true);
    // Three lines show; more scroll, so the column keeps its height.
    m_notes->setFixedHeight(3 * m_notes->fontMetrics().lineSpacing() + 2 * m_notes->frameWidth() +
                            static_cast<int>(2 * m_notes->document()->documentMargin()));
    m_keepSample = new QCheckBox("Keep for next", box);
    m_keepSample->setObjectName("CheckBox_keep_sample");
    m_keepSample->setToolTip("Keep the sample name and notes for the next capture instead of clearing them");
    auto caption = [box](const char* name, const char* text) {
        auto* label = new QLabel(text, box);
        label->setObjectName(name);
        return label;
    };
    grid->addWidget(caption("Label_sample_name", "Sample name:"), 0, 0);
    grid->addWidget(m_sampleName, 0, 1);
    grid->addWidget(caption("Label_operator", "Operator:"), 1, 0);
    grid->addWidget(m_operator, 1, 1);
    grid->addWidget(caption("Label_notes", "Notes:"), 2, 0, Qt::AlignTop);
    grid->addWidget(m_notes, 2, 1);
    grid->addWidget(m_keepSample, 3, 0, 1, 2);
    if (panel && panel->layout()) panel->layout()->addWidget(box);

    connect(m_sampleName, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_session.sample.sampleName = text.toStdString(); });
    connect(m_operator, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_session.sample.operatorName = text.toStdString(); });
    connect(m_notes, &QPlainTextEdit::textChanged, this,
            [this] { m_session.sample.notes = m_notes->toPlainText().toStdString(); });
}

SampleInfo MeasureController::typedSample() const {
    return {m_sampleName->text().toStdString(), m_operator->text().toStdString(), m_notes->toPlainText().toStdString()};
}

void MeasureController::showSample(const SampleInfo& sample) {
    // Shown, not typed: the session already holds it.
    const QSignalBlocker blockName(m_sampleName), blockNotes(m_notes);
    m_sampleName->setText(QString::fromStdString(sample.sampleName));
    m_notes->setPlainText(QString::fromStdString(sample.notes));
}

std::string MeasureController::operatorName() const {
    return m_operator->text().toStdString();
}

void MeasureController::setOperatorName(const std::string& name) {
    m_operator->setText(QString::fromStdString(name));
}

bool MeasureController::keepSampleForNext() const {
    return m_keepSample->isChecked();
}

void MeasureController::setKeepSampleForNext(bool keep) {
    m_keepSample->setChecked(keep);
}

void MeasureController::showInMode(ActiveMode mode) {
    m_stop->setVisible(mode == ActiveMode::Spectrum);
}

bool MeasureController::eventFilter(QObject* watched, QEvent* event) {
    // The column of parameters widens to the Auto box rather than cut the
    // captions beside it; only once shown do the captions know their fonts.
    if (watched == m_info && event->type() == QEvent::Show)
        m_info->setMinimumWidth(std::max(m_info->minimumWidth(), m_info->minimumSizeHint().width()));
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
        m_worker.busy()) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == m_main.mainWindow()) {
            SpeedButton_stopClick();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void MeasureController::SpeedButton_stopClick() {
    // Also after a device loss reset the state: the worker may still be
    // waiting out its time-outs.
    if (!m_worker.busy()) return;
    m_worker.requestStop();
    m_stop->setEnabled(false);
}

void MeasureController::showError(const std::string& text) {
    m_main.dialogs().message(text, kMessageCaption, MessageIcon::Error);
}

MeasureController::~MeasureController() {
    qApp->removeEventFilter(this);
    shutdown();
}

bool MeasureController::autoExposure() const {
    return m_autoExposure && m_autoExposure->isChecked();
}

void MeasureController::setAutoExposure(bool automatic) {
    if (m_autoExposure) m_autoExposure->setChecked(automatic);
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
    m_pixelCountBefore = m_device.pixelCount;
    m_device.pixelCount =
        m_device.deviceType == 1 ? 256 : static_cast<std::uint16_t>(m_device.pixelLast - m_device.pixelFirst + 1);
    m_session.exposureMode.automatic = m_autoExposure->isChecked();
    m_captureSample = typedSample();
    showSaturation(0);
    m_session.measureState.store(1, std::memory_order_release);
    m_session.measureStatus.store(2, std::memory_order_relaxed);
    m_main.UpdateStatusBar(1, 2);
    // The last capture's time would read as this one's; the phase follows.
    m_main.statusPanels()->setValueText(QString());
    showCaptureBusy(true);
    m_stop->setEnabled(true);
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
    markClippedPoints();
}

// The clipped pixels of the shown spectrum over the drawn window: a capture's
// window, or the raw file's.
void MeasureController::markClippedPoints() {
    const SpectrumStore& s = m_session.spectrum;
    int first = s.windowFirst, end = s.windowEnd;
    if (!s.haveMeasured) {
        first = static_cast<std::uint16_t>(m_session.rawFile.windowStart);
        end = static_cast<std::uint16_t>(m_session.rawFile.windowEnd);
    }
    end = std::min<int>({end, m_device.pixelCount, static_cast<int>(kMaxPixels)});
    std::vector<double> xs;
    for (int i = first; i < end; ++i)
        if (s.clipped[i]) xs.push_back(s.axis[i]);
    m_main.spectrumChart().setSeriesMarks(m_main.measuredSeries(), std::move(xs));
}

void MeasureController::showSaturation(std::size_t pixels) {
    const QString text = pixels ? QString::fromStdString(SaturationWarning(pixels)) : QString();
    m_saturation->setText(text);
    m_saturation->setVisible(pixels != 0);
    if (pixels)
        m_main.statusPanels()->setNotice(text, true);
    else if (m_main.statusPanels()->noticeIsAlarm())
        m_main.statusPanels()->setNotice(QString());
}

void MeasureController::MSR_TimerTimer() {
    m_worker.reapIfFinished();
    switch (m_session.measureState.load(std::memory_order_acquire)) {
    case 2:
        if (m_session.measureStopped.exchange(false, std::memory_order_relaxed))
            finishStopped();
        else
            finishMeasurement();
        break;
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
            const bool following = m_timer->isActive();
            m_timer->stop();
            m_main.progressBar()->setValue(0);
            showCaptureBusy(false);
            m_stop->setEnabled(false);
            if (following) emit captureEnded(false);
        }
        break;
    }
}

void MeasureController::finishMeasurement() {
    m_timer->stop();
    m_session.measureState.store(0, std::memory_order_release);
    m_session.progress.measurePercent.store(0, std::memory_order_relaxed);
    m_main.progressBar()->setValue(0);
    m_main.spectrumChart().clearSeries(m_main.measuredSeries());
    std::uint8_t status = m_session.measureStatus.load(std::memory_order_relaxed);
    // An opened spectrum the capture replaced may have been large.
    if (!m_session.spectrum.haveFileData) {
        std::vector<float>().swap(m_session.spectrum.foreignAxis);
        std::vector<float>().swap(m_session.spectrum.foreignSignal);
    }
    if (status == 1) drawMeasurement();
    // The panels belong to the mode shown; a measurement's time is no
    // library quantity.
    if (m_main.activeMode() == ActiveMode::Spectrum) {
        m_main.UpdateStatusBar(1, status);
        m_main.UpdateStatusBar(0, m_session.progress.measureTime.load(std::memory_order_relaxed));
    }
    m_smooth->setText("0");
    showCaptureBusy(false);
    m_stop->setEnabled(false);
    if (std::uint32_t chosen = m_session.progress.chosenExposureMs.load(std::memory_order_relaxed)) {
        // The time the trials chose is the one to keep working with.
        m_session.measureParams.exposureMs = chosen;
        m_exposure->setText(QString::number(chosen));
    }
    showSaturation(status == 1 ? SaturatedPixelCount(m_session.spectrum, m_device.pixelCount) : 0);
    if (status == 1) {
        m_session.sample = m_captureSample;
        m_session.capturedAt = static_cast<std::int64_t>(std::time(nullptr));
        m_session.shownCapture = CaptureSettingsOf(m_session, m_device);
        // The next sample starts with empty fields unless they are to stay;
        // this capture keeps its copy, and typing now still changes it.
        if (!m_keepSample->isChecked()) showSample({});
        m_main.showFileName({});
        m_main.spectrumChart().setAxisTitleCaption(ChartAxis::Bottom, SpectrumXAxisCaption(m_session, m_device));
    }
    m_main.applyAxisRange();
    if (m_session.laserOffFailed.exchange(false, std::memory_order_relaxed)) showError(kLaserOffFailedMessage);
    emit captureEnded(status == 1);
}

// Nothing of a stopped capture is shown: the curve, the buffers and the
// caption stay those of before it.
void MeasureController::finishStopped() {
    m_timer->stop();
    m_session.measureState.store(0, std::memory_order_release);
    m_session.progress.measurePercent.store(0, std::memory_order_relaxed);
    m_main.progressBar()->setValue(0);
    m_device.pixelCount = m_pixelCountBefore;
    if (m_main.activeMode() == ActiveMode::Spectrum) {
        m_main.UpdateStatusBar(1, 0);
        m_main.UpdateStatusBar(0, 0);
    }
    showCaptureBusy(false);
    m_stop->setEnabled(false);
    m_main.showNotice(kMeasurementStoppedMessage);
    if (m_session.laserOffFailed.exchange(false, std::memory_order_relaxed)) showError(kLaserOffFailedMessage);
    emit captureEnded(false);
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

void MeasureController::redraw() {
    // A box that does not read is drawn unsmoothed; Enter on it says why.
    auto level = SmoothLevel(m_smooth->text());
    smoothAndRedraw(level ? std::clamp<int>(*level, 0, kMaxSmoothLevel) : 0);
}

void MeasureController::smoothAndRedraw(int level) {
    const SpectrumStore& s = m_session.spectrum;
    if (MeasurementBusy(m_session) || (!s.haveMeasured && !s.haveFileData)) return;
    ChartModel& chart = m_main.spectrumChart();
    if (ShowsForeignSpectrum(s)) {
        // Every point as it was opened, not the store's copy of at most 2500.
        const std::size_t n = s.foreignAxis.size();
        std::vector<float> input(n), output(n);
        for (std::size_t i = 0; i < n; ++i)
            input[i] = s.foreignSignal[i] > 0.0f ? s.foreignSignal[i] : 0.0f;
        SmoothSpectrum(SmoothCoefficients(level), kSmoothWindow, input.data(), output.data(), n);
        std::vector<ChartPoint> points;
        points.reserve(n);
        for (std::size_t i = 0; i < n; ++i)
            points.push_back({s.foreignAxis[i], output[i]});
        chart.clearSeries(m_main.measuredSeries());
        chart.addPoints(m_main.measuredSeries(), points);
        return;
    }
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
    chart.clearSeries(m_main.measuredSeries());
    chart.addPoints(m_main.measuredSeries(), points);
    markClippedPoints();
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
    if (!WriteSampleSidecar(*path, {m_session.sample, m_session.shownCapture})) showError(kSidecarSaveFailed);
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
        if (m_foreign.open(*path)) {
            m_smooth->setText("0");
            showSample(m_session.sample);
        }
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
    m_session.capturedAt = 0;
    RawFileSidecar beside;
    const bool sidecarDamaged = ReadSampleSidecar(*path, beside) == SidecarRead::Damaged;
    m_session.sample = beside.sample;
    m_session.shownCapture = beside.capture;
    showSample(m_session.sample);
    m_main.applyAxisRange();
    ChartModel& chart = m_main.spectrumChart();
    chart.clearSeries(m_main.measuredSeries());
    ApplyRawSpectrum(m_session.rawFile, m_session, m_device);
    std::vector<ChartPoint> points;
    for (std::int32_t i = record.windowStart; i < record.windowEnd; ++i)
        points.push_back({m_session.spectrum.axis[i], m_session.spectrum.signal[i]});
    chart.addPoints(m_main.measuredSeries(), points);
    markClippedPoints();
    showSaturation(0); // the advice on Int.time belongs to a capture
    chart.setAxisTitleCaption(ChartAxis::Bottom, SpectrumXAxisCaption(m_session, m_device));
    m_smooth->setText("0");
    m_main.showFileName(std::filesystem::path(*path).filename().string());
    // The spectrum is open all the same; only what was beside it is missing.
    if (sidecarDamaged) m_main.showNotice(kSidecarDamaged);
}

} // namespace veltrane
