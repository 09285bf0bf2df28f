#pragma once

#include "app/program_state.h"
#include "device/device_connection.h"

namespace veltrane {

// One tick of the connection check for the whole program: CheckDevice, then
// what a new or a lost device means for the other states. A new device drops
// the spectrum shown (and the measurement time on the Spectrum page); a lost
// one ends the measurement and transfer states, released so that the timers
// see the reset.
CheckResult CheckConnection(DeviceLink& link, Clock& clock, ProgramState& state, bool identificationAllowed = true);

} // namespace veltrane
