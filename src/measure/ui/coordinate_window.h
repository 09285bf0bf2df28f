#pragma once

#include <QWidget>

#include "shared/ui/window_host.h"

class QCheckBox;
class QLineEdit;

namespace veltrane {

struct AxisRangeOutcome;

// "Coordinate Set": the Raman-shift and intensity ranges of the spectrum
// chart, each fixed from two boxes or automatic. The same Apply also runs
// without the window after every new curve, and behind the chart bar's
// Auto Horizontal and Auto Vertical buttons.
class TForm_coordinate : public QWidget {
    Q_OBJECT

public:
    explicit TForm_coordinate(WindowHost& main);

    void Button_coordinate_setClick();
    void Button_coordinate_cancelClick();
    void CheckBox_x_autoClick();
    void CheckBox_y_autoClick();
    void FillRangeBoxes();
    void SpeedButton_horizontalClick();
    void SpeedButton_verticalClick();
    // The display range of a device just identified.
    void setXRange(int low, int high);
    // The chart bar's "Coor." button.
    void open();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    WindowHost& m_main;
    QLineEdit* m_xStart = nullptr;
    QLineEdit* m_xEnd = nullptr;
    QLineEdit* m_yStart = nullptr;
    QLineEdit* m_yEnd = nullptr;
    QCheckBox* m_xAuto = nullptr;
    QCheckBox* m_yAuto = nullptr;

    // Apply without closing: false after a conversion error, which is shown.
    bool applyRanges();
    void autoScale(QCheckBox* tick);
};

} // namespace veltrane
