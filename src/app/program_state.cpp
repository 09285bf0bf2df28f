#include "app/program_state.h"

namespace veltrane {

void ApplyStartupValues(ProgramState& state) {
    state.deviceState = DeviceConnection::Disconnected;
    state.deviceIdentified = false;
    state.deviceType = 0;
    state.displayLow = 400;
    state.displayHigh = 4000;
    state.waveCalValid = false;
    state.progress.measureTime.store(0, std::memory_order_relaxed);
    state.spectrum.haveMeasured = false;
    state.spectrum.haveFileData = false;
    state.measureStatus.store(0, std::memory_order_relaxed);
    state.lib.transferStatus.store(0, std::memory_order_relaxed);
    state.lib.libraryView = LibraryView::Pc;
    state.lib.libraryMade = 0;
    state.fitRows = 7;
    state.measureState.store(0, std::memory_order_release);
    state.transferState.store(0, std::memory_order_release);
    state.statusIconBase = 750;
    state.spectrum.signal.fill(0.0f);
    state.spectrum.dark.fill(0.0f);
    state.markerSlots.fill(0);
}

} // namespace veltrane
