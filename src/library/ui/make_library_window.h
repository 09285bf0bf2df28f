#pragma once

#include <QWidget>

#include "device/device_info.h"
#include "library/library_state.h"
#include "measure/measurement_session.h"
#include "shared/ui/window_host.h"

class QLineEdit;

namespace veltrane {

// "Save to Library": names the shown spectrum and stores it as a PC library.
// It also owns the tool bar's Make Library button (SpeedButton_save_libClick),
// so the checks, the window and the save sit together; the main window only
// wires the button to it.
class TForm_make_lib : public QWidget {
    Q_OBJECT

public:
    TForm_make_lib(WindowHost& main, MeasurementSession& session, const DeviceInfo& device, LibraryState& library);

    void SpeedButton_save_libClick();
    void Button_saveClick();
    void Button_exitClick();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    WindowHost& m_main;
    MeasurementSession& m_session;
    const DeviceInfo& m_device;
    LibraryState& m_library;
    QLineEdit* m_fileName = nullptr;
};

} // namespace veltrane
