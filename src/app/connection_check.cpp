#include "app/connection_check.h"

namespace veltrane {

CheckResult CheckConnection(DeviceLink& link, Clock& clock, ProgramState& state, bool identificationAllowed) {
    CheckResult result = CheckDevice(link, clock, state.device, identificationAllowed);
    if (result.outcome != IdentifyOutcome::Postponed) state.device.connectionChecked = true;
    MeasurementSession& session = state.measurement;
    if (result.newlyIdentified) {
        if (state.shell.activeMode == ActiveMode::Spectrum)
            session.progress.measureTime.store(0, std::memory_order_relaxed);
        session.spectrum.haveMeasured = false;
        session.spectrum.haveFileData = false;
    } else if (result.lost) {
        session.measureState.store(0, std::memory_order_release);
        session.measureStatus.store(0, std::memory_order_relaxed);
        state.library.transferState.store(0, std::memory_order_release);
        state.library.lib.transferStatus.store(0, std::memory_order_relaxed);
    }
    return result;
}

} // namespace veltrane
