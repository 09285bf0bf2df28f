#include "app/mode_switch.h"

namespace veltrane {

ModeSwitch DecideSwitchToSpectrum(const ProgramState& state) {
    if (state.activeMode != ActiveMode::Linker) return ModeSwitch::Stay;
    if (state.transferState.load(std::memory_order_acquire) != 0) return ModeSwitch::RefuseTransferring;
    return ModeSwitch::Switch;
}

ModeSwitch DecideSwitchToLinker(const ProgramState& state) {
    if (state.activeMode != ActiveMode::Spectrum) return ModeSwitch::Stay;
    if (MeasurementBusy(state)) return ModeSwitch::RefuseMeasuring;
    return ModeSwitch::Switch;
}

} // namespace veltrane
