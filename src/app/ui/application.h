#pragma once

#include <memory>
#include <ostream>

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
class TForm_axis_check;
class LibraryMaintenance;

// The dialogs the windows use. Normally every call goes to the real dialogs;
// once the program is ending on a signal nobody may be there to answer, so a
// message is written to a stream instead and a question takes OK.
class UnattendedCapableDialogs : public UserDialogs {
public:
    explicit UnattendedCapableDialogs(UserDialogs& shown) : m_shown(shown) {}
    void reportTo(std::ostream* report) { m_report = report; }
    bool unattended() const { return m_report != nullptr; }
    // Error and warning messages written while unattended.
    int failuresReported() const { return m_failures; }

    DialogAnswer message(const std::string& text, const std::string& caption, MessageIcon icon,
                         MessageButtons buttons) override;
    std::optional<std::string> openFile(const std::string& filter) override;
    std::optional<std::string> saveFile(const std::string& filter, const std::string& initialName) override;

private:
    UserDialogs& m_shown;
    std::ostream* m_report = nullptr;
    int m_failures = 0;
};

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
    TForm_axis_check& axisCheckWindow() { return *m_axisCheck; }

    // The close that SIGTERM, SIGINT or SIGHUP (a logout, `kill`, Ctrl-C)
    // asks for. It runs the shut-down as the close button does, laser off
    // first, but shows nothing: what would have been a message box (such as
    // "Can not save settings!") goes to `report`, so the program always ends.
    void closeOnSignal(std::ostream& report);
    // The process exit status after the event loop: 1 when a close on a
    // signal had a failure to report, else 0.
    int exitStatus() const { return m_dialogs->failuresReported() > 0 ? 1 : 0; }

private:
    std::unique_ptr<UnattendedCapableDialogs> m_dialogs;
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
    std::unique_ptr<TForm_axis_check> m_axisCheck;
};

} // namespace veltrane
