#include "app/mode_switch.h"

namespace veltrane {

ModeSwitch DecideSwitchToSpectrum(const ProgramState& state) {
    if (state.shell.activeMode != ActiveMode::Linker) return ModeSwitch::Stay;
    if (state.library.transferState.load(std::memory_order_acquire) != 0) return ModeSwitch::RefuseTransferring;
    return ModeSwitch::Switch;
}

ModeSwitch DecideSwitchToLinker(const ProgramState& state) {
    if (state.shell.activeMode != ActiveMode::Spectrum) return ModeSwitch::Stay;
    if (MeasurementBusy(state.measurement)) return ModeSwitch::RefuseMeasuring;
    return ModeSwitch::Switch;
}

} // namespace veltrane
