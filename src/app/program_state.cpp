#include "app/program_state.h"

namespace veltrane {

void ApplyStartupValues(ProgramState& state) {
    state.device.deviceState = DeviceConnection::Disconnected;
    state.device.deviceIdentified = false;
    state.device.deviceType = 0;
    state.device.displayLow = 400;
    state.device.displayHigh = 4000;
    state.device.waveCalValid = false;
    state.measurement.progress.measureTime.store(0, std::memory_order_relaxed);
    state.measurement.spectrum.haveMeasured = false;
    state.measurement.spectrum.haveFileData = false;
    state.measurement.measureStatus.store(0, std::memory_order_relaxed);
    state.library.lib.transferStatus.store(0, std::memory_order_relaxed);
    state.library.lib.libraryView = LibraryView::Pc;
    state.library.lib.libraryMade = 0;
    state.library.fitRows = 7;
    state.measurement.measureState.store(0, std::memory_order_release);
    state.library.transferState.store(0, std::memory_order_release);
    state.shell.statusIconBase = 750;
    state.measurement.spectrum.signal.fill(0.0f);
    state.measurement.spectrum.dark.fill(0.0f);
    state.markers.markerSlots.fill(0);
}

} // namespace veltrane
