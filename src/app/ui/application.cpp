#include "app/ui/application.h"

#include "app/ui/about_window.h"
#include "app/ui/setup_window.h"
#include "axis_check/ui/axis_check_window.h"
#include "library/ui/make_library_window.h"
#include "library/ui/rename_window.h"
#include "markers/ui/marker_windows.h"
#include "measure/ui/coordinate_window.h"

namespace veltrane {

DialogAnswer UnattendedCapableDialogs::message(const std::string& text, const std::string& caption, MessageIcon icon,
                                               MessageButtons buttons) {
    if (!m_report) return m_shown.message(text, caption, icon, buttons);
    *m_report << text << "\n" << std::flush;
    if (icon != MessageIcon::None) ++m_failures;
    return DialogAnswer::Ok;
}

std::optional<std::string> UnattendedCapableDialogs::openFile(const std::string& filter) {
    if (m_report) return std::nullopt;
    return m_shown.openFile(filter);
}

std::optional<std::string> UnattendedCapableDialogs::saveFile(const std::string& filter,
                                                              const std::string& initialName) {
    if (m_report) return std::nullopt;
    return m_shown.saveFile(filter, initialName);
}

VeltraneApplication::VeltraneApplication(UsbBridge& bridge, Clock& clock, UserDialogs& dialogs, AppPaths paths)
    : m_dialogs(std::make_unique<UnattendedCapableDialogs>(dialogs)), m_state(std::make_unique<ProgramState>()),
      m_link(std::make_unique<DeviceLink>(bridge)) {
    m_main = std::make_unique<TForm_main>(AppServices{*m_state, *m_link, clock, *m_dialogs, std::move(paths)});
    // The other windows follow the main window, in the order the program has
    // always created them; they stay hidden until shown.
    m_makeLib = std::make_unique<TForm_make_lib>(*m_main, m_state->measurement, m_state->device, m_state->library);
    m_main->attachMakeLibrary(m_makeLib.get());
    m_setup = std::make_unique<TForm_setup>(*m_main);
    m_about = std::make_unique<TForm_about>(m_main.get(), m_state->device.brandVariant);
    m_main->attachSetup(m_setup.get());
    m_main->attachAbout(m_about.get());
    m_rename = std::make_unique<TForm_rename>(*m_main, m_state->library, m_main->library());
    m_maintenance = std::make_unique<LibraryMaintenance>(*m_main, *m_rename, m_state->library, m_main->library());
    m_markInfo = std::make_unique<TForm_mark_info>(*m_main, m_state->markers, m_state->measurement, m_state->device);
    m_main->attachMarkers(m_markInfo.get());
    m_coordinate = std::make_unique<TForm_coordinate>(*m_main);
    m_main->attachCoordinate(m_coordinate.get());
    m_markRename = std::make_unique<TForm_mark_rename>(*m_main, *m_markInfo, m_state->markers);
    m_markInfo->attachRename(m_markRename.get());
    m_axisCheck = std::make_unique<TForm_axis_check>(*m_main, m_state->measurement, m_state->device, m_main->measure(),
                                                     m_main->axisCorrection());
    m_setup->attachAxisCheck(m_axisCheck.get());
}

void VeltraneApplication::closeOnSignal(std::ostream& report) {
    m_dialogs->reportTo(&report);
    m_main->closeAtOnce();
}

VeltraneApplication::~VeltraneApplication() {
    // Secondary windows refer to the main window; they go first.
    m_axisCheck.reset();
    m_markInfo->attachRename(nullptr);
    m_markRename.reset();
    m_main->attachCoordinate(nullptr);
    m_coordinate.reset();
    m_markInfo.reset();
    m_maintenance.reset();
    m_rename.reset();
    m_about.reset();
    m_setup.reset();
    m_makeLib.reset();
    m_main.reset();
}

} // namespace veltrane
