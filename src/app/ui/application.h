#pragma once

#include <memory>

#include "app/program_state.h"
#include "app/ui/main_window.h"
#include "device/device_link.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/usb_bridge.h"

namespace veltrane {

class TForm_about;
class TForm_setup;
class TForm_coordinate;
class TForm_make_lib;
class TForm_rename;
class TForm_mark_info;
class TForm_mark_rename;
class LibraryMaintenance;

// The running program: the program state, the device link over the bridge it
// was given, and the windows, created in their fixed order with the main
// window first. Everything lives until the object is destroyed.
class VeltraneApplication {
public:
    VeltraneApplication(UsbBridge& bridge, Clock& clock, UserDialogs& dialogs, AppPaths paths);
    ~VeltraneApplication();

    ProgramState& state() { return *m_state; }
    DeviceLink& link() { return *m_link; }
    TForm_main& mainWindow() { return *m_main; }
    TForm_make_lib& makeLibraryWindow() { return *m_makeLib; }
    TForm_about& aboutWindow() { return *m_about; }
    TForm_setup& setupWindow() { return *m_setup; }
    TForm_coordinate& coordinateWindow() { return *m_coordinate; }
    TForm_rename& renameWindow() { return *m_rename; }
    TForm_mark_info& markInfoWindow() { return *m_markInfo; }
    TForm_mark_rename& markRenameWindow() { return *m_markRename; }

private:
    std::unique_ptr<ProgramState> m_state;
    std::unique_ptr<DeviceLink> m_link;
    std::unique_ptr<TForm_main> m_main;
    std::unique_ptr<TForm_make_lib> m_makeLib;
    std::unique_ptr<TForm_setup> m_setup;
    std::unique_ptr<TForm_about> m_about;
    std::unique_ptr<TForm_rename> m_rename;
    std::unique_ptr<LibraryMaintenance> m_maintenance;
    std::unique_ptr<TForm_mark_info> m_markInfo;
    std::unique_ptr<TForm_coordinate> m_coordinate;
    std::unique_ptr<TForm_mark_rename> m_markRename;
};

} // namespace veltrane
