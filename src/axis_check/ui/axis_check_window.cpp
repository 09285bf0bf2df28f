#include "axis_check/ui/axis_check_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>
#include <memory>

#include "axis_check/axis_check_log.h"
#include "axis_check/axis_correction_store.h"
#include "axis_check/ui/axis_correction_controller.h"
#include "measure/spectral_axis.h"
#include "platform/ini_file.h"
#include "measure/spectrum_header.h"
#include "measure/ui/measure_controller.h"
#include "platform/file_io.h"
#include "shared/ui/dialog_keys.h"
#include "shared/ui/window_flags.h"

namespace veltrane {

namespace {

constexpr const char* kFromFile = "From file…";
constexpr const char* kStandardFilter = "Standard(*.txt)|*.txt|All files(*)|*";
constexpr const char* kNoSpectrum = "No spectrum to check!";
constexpr const char* kPassColour = "color: #008000; font-weight: bold;";
constexpr const char* kFailColour = "color: #dc0000; font-weight: bold;";
const QString kPerCm = QStringLiteral(" cm\u207B\u00B9");

// "+3.96", "−3.96": the sign always shown, as deviations are read by it.
QString Signed(double value, int decimals) {
    QString digits = QString::number(std::fabs(value), 'f', decimals);
    if (digits.toDouble() == 0.0) return digits;
    return (value < 0 ? QStringLiteral("\u2212") : QStringLiteral("+")) + digits;
}

QTableWidgetItem* Cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

// The shown spectrum as the check reads it: every pixel with a finite Raman
// shift, the dark taken off as it is drawn.
struct CheckedSpectrum {
    std::vector<double> shift, intensity;
    // The instrument's own shifts of the same pixels, before any correction:
    // a new correction replaces the one in force rather than adding to it.
    std::vector<double> uncorrected;
    std::optional<double> saturation;
    double laserNm = 0.0;
};

CheckedSpectrum ShownSpectrum(const MeasurementSession& session, const DeviceInfo& device) {
    const SpectrumStore& s = session.spectrum;
    const bool capture = s.haveMeasured && !s.haveFileData;
    std::unique_ptr<SpectrumStore> own;
    if (capture && device.axisCorrection) {
        DeviceInfo bare = device;
        bare.axisCorrection.reset();
        own = std::make_unique<SpectrumStore>();
        ComputeSpectralAxis(*own, bare, bare.laserWavelength);
    }
    CheckedSpectrum out;
    const float laser = capture ? device.laserWavelength : session.rawFile.laserWavelength;
    out.laserNm = laser > 0.0f && std::isfinite(laser) ? laser : kDefaultLaserNm;
    const int count = std::min<int>(device.pixelCount, static_cast<int>(kMaxPixels));
    for (int i = 0; i < count; ++i) {
        const double shift = s.axis[i];
        const double value = std::max(0.0f, s.signal[i] - s.dark[i]);
        if (!std::isfinite(shift) || !std::isfinite(value)) continue;
        out.shift.push_back(shift);
        out.uncorrected.push_back(own ? own->axis[i] : shift);
        out.intensity.push_back(value);
        // The converter's clipping, as far down as a clipped pixel shows it.
        if (s.clipped[i]) out.saturation = std::min(out.saturation.value_or(value), value);
    }
    return out;
}

QString CorrectionText(const AxisCorrection& c) {
    const QString left = ", leaving " + QString::number(c.residualRms, 'f', 2) + kPerCm + " rms";
    if (c.kind == AxisCorrectionKind::Offset) return "Correction: offset " + Signed(c.offset, 2) + kPerCm + left;
    return "Correction of the wavelength axis by " + Signed(-c.wavelengthNm, 3) + " nm (" +
           Signed(CorrectionAt(c, 1000.0), 1) + kPerCm + " at 1000" + kPerCm + ")" + left;
}

} // namespace

TForm_axis_check::TForm_axis_check(WindowHost& main, MeasurementSession& session, const DeviceInfo& device,
                                   MeasureController& measure, AxisCorrectionController& corrections)
    : QWidget(nullptr, kFixedDialogFlags), m_main(main), m_session(session), m_device(device), m_measure(measure),
      m_corrections(corrections), m_standards(BuiltInStandards()) {
    setObjectName("TForm_axis_check");
    setWindowTitle("Check Raman Axis");
    setFixedSize(620, 560);
    auto* layout = new QVBoxLayout(this);

    auto* settings = new QGridLayout;
    auto* standardLabel = new QLabel("Standard:", this);
    m_standard = new QComboBox(this);
    m_standard->setObjectName("ComboBox_axis_standard");
    for (const ReferenceStandard& standard : m_standards)
        m_standard->addItem(QString::fromStdString(standard.name));
    m_standard->addItem(kFromFile);
    auto* toleranceLabel = new QLabel("Tolerance:", this);
    m_tolerance = new QDoubleSpinBox(this);
    m_tolerance->setObjectName("Edit_axis_tolerance");
    m_tolerance->setRange(0.1, 99.9);
    m_tolerance->setDecimals(1);
    m_tolerance->setSingleStep(0.1);
    m_tolerance->setValue(AxisCheckSettings{}.tolerance);
    m_tolerance->setPrefix(QStringLiteral("\u00B1"));
    m_tolerance->setSuffix(kPerCm);
    m_tolerance->setToolTip("The largest deviation a pass allows");
    // The tolerance is a setting of this PC's checks: kept in the settings
    // file as soon as it is changed.
    {
        const std::string kept = IniFile(m_main.paths().settingsFile).readString("AXIS CHECK", "Tolerance", "");
        bool ok = false;
        const double value = QString::fromStdString(kept).toDouble(&ok);
        if (ok && value >= m_tolerance->minimum() && value <= m_tolerance->maximum()) m_tolerance->setValue(value);
    }
    connect(m_tolerance, &QDoubleSpinBox::valueChanged, this, [this](double value) {
        IniFile(m_main.paths().settingsFile).writeString("AXIS CHECK", "Tolerance", QString::number(value, 'f', 1).toStdString());
    });
    settings->addWidget(standardLabel, 0, 0);
    settings->addWidget(m_standard, 0, 1);
    settings->addWidget(toleranceLabel, 0, 2);
    settings->addWidget(m_tolerance, 0, 3);
    settings->setColumnStretch(1, 1);
    layout->addLayout(settings);

    auto* sources = new QHBoxLayout;
    m_capture = new QPushButton("Capture", this);
    m_capture->setObjectName("Button_axis_capture");
    m_capture->setToolTip("Capture the standard with the parameters of the Spectrum page, then check it");
    m_useShown = new QPushButton("Use Shown Spectrum", this);
    m_useShown->setObjectName("Button_axis_shown");
    m_useShown->setToolTip("Check the spectrum the Spectrum page shows");
    sources->addWidget(m_capture);
    sources->addWidget(m_useShown);
    sources->addStretch(1);
    layout->addLayout(sources);

    m_bands = new QTableWidget(0, 4, this);
    m_bands->setObjectName("StringGrid_axis_bands");
    m_bands->setHorizontalHeaderLabels(
        {"Reference (cm\u207B\u00B9)", "Found (cm\u207B\u00B9)", "Deviation (cm\u207B\u00B9)", "Note"});
    m_bands->verticalHeader()->setVisible(false);
    m_bands->verticalHeader()->setDefaultSectionSize(22);
    m_bands->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_bands->setSelectionMode(QAbstractItemView::NoSelection);
    m_bands->horizontalHeader()->setStretchLastSection(true);
    for (int c = 0; c < 3; ++c)
        m_bands->setColumnWidth(c, 140);
    layout->addWidget(m_bands, 1);

    m_result = new QLabel(this);
    m_result->setObjectName("Label_axis_result");
    m_result->setWordWrap(true);
    layout->addWidget(m_result);
    m_detail = new QLabel(this);
    m_detail->setObjectName("Label_axis_detail");
    m_detail->setWordWrap(true);
    m_detail->setText("Place the standard, then Capture; or check the spectrum shown.");
    layout->addWidget(m_detail);

    auto* buttons = new QHBoxLayout;
    m_apply = new QPushButton("Apply correction", this);
    m_apply->setObjectName("Button_axis_apply");
    m_apply->setToolTip("Keep this correction for the connected instrument");
    m_apply->setEnabled(false);
    auto* close = new QPushButton("Close", this);
    close->setObjectName("Button_axis_close");
    buttons->addWidget(m_apply);
    buttons->addStretch(1);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    UseDialogKeys(this, nullptr);

    connect(m_standard, &QComboBox::currentIndexChanged, this, &TForm_axis_check::ComboBox_axis_standardChange);
    connect(m_tolerance, &QDoubleSpinBox::valueChanged, this, [this](double tolerance) {
        if (!m_check) return;
        m_check->tolerance = tolerance;
        m_check->pass = m_check->enoughBands && std::abs(m_check->largest) <= tolerance;
        showCheck();
    });
    connect(m_capture, &QPushButton::clicked, this, &TForm_axis_check::Button_axis_captureClick);
    connect(m_useShown, &QPushButton::clicked, this, &TForm_axis_check::Button_axis_shownClick);
    connect(m_apply, &QPushButton::clicked, this, &TForm_axis_check::Button_axis_applyClick);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(&m_measure, &MeasureController::captureEnded, this, &TForm_axis_check::captureEnded);
}

void TForm_axis_check::open() {
    m_main.PlaceDialog(this, m_main.mainWindow());
    m_capture->setFocus();
}

void TForm_axis_check::closeEvent(QCloseEvent* event) {
    // A capture still running ends on the Spectrum page as any other.
    m_capturing = false;
    setBusy(false);
    m_main.mainWindow()->setEnabled(true);
    event->accept();
}

void TForm_axis_check::showError(const char* text) {
    m_main.dialogs().message(text, kMessageCaption, MessageIcon::Error);
}

void TForm_axis_check::setBusy(bool busy) {
    m_capture->setEnabled(!busy);
    m_useShown->setEnabled(!busy);
    m_standard->setEnabled(!busy);
    if (busy) m_apply->setEnabled(false);
}

void TForm_axis_check::ComboBox_axis_standardChange(int index) {
    if (index < static_cast<int>(m_standards.size())) {
        m_standardIndex = index;
        return;
    }
    // "From file…": a standard of the user's own, kept in the list once read.
    auto back = [this] {
        QSignalBlocker quiet(m_standard);
        m_standard->setCurrentIndex(m_standardIndex);
    };
    std::optional<std::string> path = m_main.dialogs().openFile(kStandardFilter);
    if (!path) return back();
    std::string text, error;
    // A standard is a few hundred bytes; anything far larger is not one.
    if (ReadWholeFile(*path, text, 1u << 20) != LoadResult::Loaded) {
        back();
        return showError(kOpenFailed);
    }
    std::optional<ReferenceStandard> standard = ParseStandard(text, error);
    if (!standard) {
        back();
        m_main.dialogs().message(*path + ": " + error, kMessageCaption, MessageIcon::Error);
        return;
    }
    QSignalBlocker quiet(m_standard);
    m_standards.push_back(*standard);
    m_standardIndex = static_cast<int>(m_standards.size()) - 1;
    m_standard->insertItem(m_standardIndex, QString::fromStdString(standard->name));
    m_standard->setCurrentIndex(m_standardIndex);
}

void TForm_axis_check::Button_axis_captureClick() {
    if (MeasurementBusy(m_session)) return showError(kMeasureProcessingMessage);
    m_measure.SpeedButton_msrClick();
    // Refused (no device, a box out of range): the Spectrum page said why.
    if (m_session.measureState.load(std::memory_order_acquire) == 0) return;
    m_capturing = true;
    setBusy(true);
    m_detail->setText("Capturing " + m_standard->currentText() + "…");
}

void TForm_axis_check::captureEnded(bool shown) {
    if (!m_capturing) return;
    m_capturing = false;
    setBusy(false);
    if (shown)
        checkShownSpectrum();
    else
        m_detail->setText("The capture gave no spectrum to check.");
}

void TForm_axis_check::Button_axis_shownClick() {
    checkShownSpectrum();
}

void TForm_axis_check::checkShownSpectrum() {
    const SpectrumStore& s = m_session.spectrum;
    if (MeasurementBusy(m_session)) return showError(kMeasureProcessingMessage);
    if (!s.haveMeasured && !s.haveFileData) return showError(kNoSpectrum);
    // Without a calibration a capture's axis is pixels or nm.
    if (!s.haveFileData && !m_device.waveCalValid) return showError(kNoWaveCalibration);
    const ReferenceStandard& standard = m_standards[static_cast<std::size_t>(m_standardIndex)];
    AxisCheckSettings settings;
    settings.tolerance = m_tolerance->value();
    CheckedSpectrum spectrum = ShownSpectrum(m_session, m_device);
    m_check = CheckAxis(spectrum.shift, spectrum.intensity, standard, settings, spectrum.saturation);
    // A capture checks the connected instrument: its last check goes on
    // record for the reports of what it measures next. An opened file
    // names no instrument.
    if (s.haveMeasured && !InstrumentKey(m_device).empty()) {
        const LocalDateTime now = CurrentLocalDateTime();
        AxisCheckLog(m_main.paths().settingsFile)
            .record(InstrumentKey(m_device),
                    RecordOf(*m_check, m_check->standard,
                             QString::asprintf("%04d-%02d-%02d", now.year, now.month, now.day).toStdString()));
    }
    m_fitted.reset();
    m_checkedOn.clear();
    if (m_check->enoughBands) {
        const bool corrected = spectrum.uncorrected != spectrum.shift;
        AxisCheck own =
            corrected ? CheckAxis(spectrum.uncorrected, spectrum.intensity, standard, settings, spectrum.saturation)
                      : *m_check;
        m_fitted = FitAxisCorrection(own, spectrum.laserNm);
        if (corrected && m_corrections.inForce())
            m_checkedOn = "Checked on the corrected axis (" +
                          QString::fromStdString(AxisCorrectionText(*m_corrections.inForce())) + ").";
    }
    showCheck();
}

void TForm_axis_check::showCheck() {
    const AxisCheck& check = *m_check;
    m_bands->setRowCount(static_cast<int>(check.bands.size()));
    for (int row = 0; row < m_bands->rowCount(); ++row) {
        const BandCheck& b = check.bands[static_cast<std::size_t>(row)];
        const bool found = b.outcome == BandOutcome::Found;
        m_bands->setItem(row, 0, Cell(QString::number(b.reference, 'f', 2)));
        m_bands->setItem(row, 1, Cell(found ? QString::number(b.found, 'f', 2) : QString("-")));
        QTableWidgetItem* deviation = Cell(found ? Signed(b.deviation, 2) : QString("-"));
        if (found && std::abs(b.deviation) > check.tolerance) deviation->setForeground(QColor(0xdc, 0, 0));
        m_bands->setItem(row, 2, deviation);
        m_bands->setItem(row, 3, new QTableWidgetItem(found ? QString() : QString(BandOutcomeText(b.outcome))));
    }
    QStringList detail;
    if (!check.enoughBands) {
        m_result->setText(QString("Too few bands of %1 found (%2 of at least %3)")
                              .arg(QString::fromStdString(check.standard))
                              .arg(check.found)
                              .arg(kMinBandsForCheck));
    } else {
        m_result->setText(QString("%1: offset %2%5, rms %3%5, largest %4%5 (tolerance \u00B1%6%5)")
                              .arg(check.pass ? "Pass" : "Fail", Signed(check.offset, 2),
                                   QString::number(check.rms, 'f', 2), Signed(check.largest, 2), kPerCm,
                                   QString::number(check.tolerance, 'f', 1)));
        if (check.spread > check.tolerance)
            detail << QString("The bands found scatter by %1%2 about their mean: is this %3?")
                          .arg(QString::number(check.spread, 'f', 2), kPerCm, QString::fromStdString(check.standard));
    }
    m_result->setStyleSheet(check.pass ? kPassColour : kFailColour);
    if (!m_checkedOn.isEmpty()) detail << m_checkedOn;
    if (m_fitted) detail << CorrectionText(*m_fitted) + ".";
    m_detail->setText(detail.join("\n"));
    m_apply->setEnabled(m_fitted.has_value());
}

void TForm_axis_check::Button_axis_applyClick() {
    if (!m_fitted || !m_check) return;
    const LocalDateTime now = CurrentLocalDateTime();
    const StoredAxisCorrection stored{
        *m_fitted, QString::asprintf("%04d-%02d-%02d", now.year, now.month, now.day).toStdString(), m_check->standard};
    if (!m_corrections.apply(stored)) return;
    m_apply->setEnabled(false);
    m_fitted.reset();
    m_detail->setText(QString("Applied: %1. Capture the standard again to check the corrected axis.")
                          .arg(QString::fromStdString(AxisCorrectionText(stored))));
}

} // namespace veltrane
