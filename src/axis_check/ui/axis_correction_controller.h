#pragma once

#include <QObject>
#include <optional>

#include "axis_check/axis_correction_store.h"
#include "device/device_info.h"
#include "measure/measurement_session.h"
#include "shared/ui/window_host.h"

class QPushButton;
class QTreeWidget;

namespace veltrane {

class MeasureController;

// The axis correction of the connected instrument: taken from the store
// when the instrument is identified, shown in the device information with
// the button that removes it, and replaced when a check is applied. A
// change redraws a shown capture on the corrected axis.
class AxisCorrectionController : public QObject {
    Q_OBJECT

public:
    AxisCorrectionController(WindowHost& main, MeasurementSession& session, DeviceInfo& device,
                             MeasureController& measure);

    QPushButton* removeButton() const { return m_remove; }
    // The correction in force for the connected instrument, with its date.
    const std::optional<StoredAxisCorrection>& inForce() const { return m_inForce; }

    // The connection check has just identified an instrument: its stored
    // correction is put in force before the axis is computed.
    void instrumentIdentified();
    // Adds the correction to the device tree just filled, and shows or hides
    // the button.
    void showInDeviceInfo();
    // Stores `stored` for the connected instrument and puts it in force;
    // false, after a message, when it could not.
    bool apply(const StoredAxisCorrection& stored);
    void Button_axis_correction_removeClick();

private:
    WindowHost& m_main;
    MeasurementSession& m_session;
    DeviceInfo& m_device;
    MeasureController& m_measure;
    QTreeWidget* m_tree;
    QPushButton* m_remove;
    std::optional<StoredAxisCorrection> m_inForce;

    AxisCorrectionStore store() const;
    bool refused();
    void putInForce(std::optional<StoredAxisCorrection> stored);
};

} // namespace veltrane
