#include "axis_check/ui/axis_correction_controller.h"

#include <QGroupBox>
#include <QLayout>
#include <QPushButton>
#include <QTreeWidget>

#include "measure/spectral_axis.h"
#include "measure/ui/measure_controller.h"

namespace veltrane {

namespace {
constexpr const char* kNoInstrument = "No Device!";
constexpr const char* kNoSerial = "The instrument reports no serial number: it can keep no axis correction.";
constexpr const char* kNotStored = "Can not save the axis correction!";
constexpr const char* kRemoveQuestion = "Remove the axis correction of this instrument?";
// Marks the device tree's line of the correction among the device's own.
const QString kTreeTag = QStringLiteral("axis correction");
} // namespace

AxisCorrectionController::AxisCorrectionController(WindowHost& main, MeasurementSession& session, DeviceInfo& device,
                                                   MeasureController& measure)
    : QObject(nullptr), m_main(main), m_session(session), m_device(device), m_measure(measure),
      m_tree(main.mainWindow()->findChild<QTreeWidget*>("TreeView1")) {
    auto* box = main.mainWindow()->findChild<QGroupBox*>("GroupBox_devinfo");
    m_remove = new QPushButton("Remove Axis Correction", box);
    m_remove->setObjectName("Button_axis_correction_remove");
    m_remove->setFocusPolicy(Qt::NoFocus);
    m_remove->setVisible(false);
    if (box && box->layout()) box->layout()->addWidget(m_remove);
    connect(m_remove, &QPushButton::clicked, this, &AxisCorrectionController::Button_axis_correction_removeClick);
}

AxisCorrectionStore AxisCorrectionController::store() const {
    return AxisCorrectionStore(m_main.paths().settingsFile);
}

void AxisCorrectionController::instrumentIdentified() {
    const std::string key = InstrumentKey(m_device);
    m_inForce = key.empty() ? std::nullopt : store().find(key);
    m_device.axisCorrection.reset();
    if (m_inForce) m_device.axisCorrection = m_inForce->correction;
}

void AxisCorrectionController::showInDeviceInfo() {
    QTreeWidgetItem* root = m_tree ? m_tree->topLevelItem(0) : nullptr;
    // A line of a correction since removed or replaced never stays.
    for (int i = root ? root->childCount() - 1 : -1; i >= 0; --i)
        if (root->child(i)->data(0, Qt::UserRole).toString() == kTreeTag) delete root->takeChild(i);
    const bool shown = m_inForce && m_device.deviceIdentified && root;
    if (shown) {
        auto* item = new QTreeWidgetItem(root, {QString::fromStdString(AxisCorrectionText(*m_inForce))});
        item->setData(0, Qt::UserRole, kTreeTag);
        item->setToolTip(
            0, QString("%1, checked with %2").arg(item->text(0), QString::fromStdString(m_inForce->standard)));
    }
    m_remove->setVisible(shown);
}

// The worker reads the device and writes the axis while a capture runs.
bool AxisCorrectionController::refused() {
    if (MeasurementBusy(m_session)) {
        m_main.dialogs().message(kMeasureProcessingMessage, kMessageCaption, MessageIcon::Error);
        return true;
    }
    if (!m_device.deviceIdentified) {
        m_main.dialogs().message(kNoInstrument, kMessageCaption, MessageIcon::Error);
        return true;
    }
    if (InstrumentKey(m_device).empty()) {
        m_main.dialogs().message(kNoSerial, kMessageCaption, MessageIcon::Error);
        return true;
    }
    return false;
}

void AxisCorrectionController::putInForce(std::optional<StoredAxisCorrection> stored) {
    m_inForce = std::move(stored);
    m_device.axisCorrection.reset();
    if (m_inForce) m_device.axisCorrection = m_inForce->correction;
    // A raw file's spectrum keeps the axis the file holds.
    if (!m_session.spectrum.haveFileData) {
        RefreshSpectralAxis(m_session.spectrum, m_device);
        if (m_session.spectrum.haveMeasured) m_measure.redraw();
    }
    showInDeviceInfo();
}

bool AxisCorrectionController::apply(const StoredAxisCorrection& stored) {
    if (refused()) return false;
    if (!store().save(InstrumentKey(m_device), stored)) {
        m_main.dialogs().message(kNotStored, kMessageCaption, MessageIcon::Error);
        return false;
    }
    putInForce(stored);
    m_main.showNotice(QString::fromStdString(AxisCorrectionText(stored)));
    return true;
}

void AxisCorrectionController::Button_axis_correction_removeClick() {
    if (!m_inForce || refused()) return;
    if (m_main.dialogs().message(kRemoveQuestion, kMessageCaption, MessageIcon::Warning, MessageButtons::OkCancel) !=
        DialogAnswer::Ok)
        return;
    if (!store().remove(InstrumentKey(m_device))) {
        m_main.dialogs().message(kNotStored, kMessageCaption, MessageIcon::Error);
        return;
    }
    putInForce(std::nullopt);
    m_main.showNotice("Axis correction removed");
}

} // namespace veltrane
