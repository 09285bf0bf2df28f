#pragma once

#include "app/program_state.h"
#include "shared/window_rules.h"

namespace veltrane {

// Outcome of pressing a mode button: the Linker mode waits for a measurement,
// the Spectrum mode for a library transfer.
ModeSwitch DecideSwitchToSpectrum(const ProgramState& state);
ModeSwitch DecideSwitchToLinker(const ProgramState& state);

} // namespace veltrane
