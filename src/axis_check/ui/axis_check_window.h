#pragma once

#include <QWidget>
#include <optional>
#include <vector>

#include "axis_check/axis_check.h"
#include "device/device_info.h"
#include "measure/measurement_session.h"
#include "shared/ui/window_host.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace veltrane {

class AxisCorrectionController;
class MeasureController;

// "Check Raman Axis": a reference material is captured as any sample is
// (or the shown spectrum taken), its bands are found and compared with the
// certified positions, and the correction fitted from them can be stored for
// the connected instrument.
class TForm_axis_check : public QWidget {
    Q_OBJECT

public:
    TForm_axis_check(WindowHost& main, MeasurementSession& session, const DeviceInfo& device,
                     MeasureController& measure, AxisCorrectionController& corrections);

    // Shows the window over the main window, which waits for it.
    void open();

    void Button_axis_captureClick();
    void Button_axis_shownClick();
    void Button_axis_applyClick();
    void ComboBox_axis_standardChange(int index);

    QTableWidget* bandTable() const { return m_bands; }
    QLabel* resultLabel() const { return m_result; }
    QLabel* detailLabel() const { return m_detail; }
    QPushButton* applyButton() const { return m_apply; }
    QComboBox* standardBox() const { return m_standard; }
    const std::optional<AxisCheck>& lastCheck() const { return m_check; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    WindowHost& m_main;
    MeasurementSession& m_session;
    const DeviceInfo& m_device;
    MeasureController& m_measure;
    AxisCorrectionController& m_corrections;
    QComboBox* m_standard;
    QDoubleSpinBox* m_tolerance;
    QPushButton* m_capture;
    QPushButton* m_useShown;
    QTableWidget* m_bands;
    QLabel* m_result;
    QLabel* m_detail;
    QPushButton* m_apply;
    // The combo box's standards, in its order; "From file…" follows them.
    std::vector<ReferenceStandard> m_standards;
    int m_standardIndex = 0;
    bool m_capturing = false;
    std::optional<AxisCheck> m_check;
    std::optional<AxisCorrection> m_fitted;
    QString m_checkedOn; // what the check's axis was, for the result

    void captureEnded(bool shown);
    void checkShownSpectrum();
    void showCheck();
    void setBusy(bool busy);
    void showError(const char* text);
};

} // namespace veltrane
