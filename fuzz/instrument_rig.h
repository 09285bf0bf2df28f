#pragma once

// The virtual instrument behind a simulated bridge on a fast virtual clock,
// kept for the whole run by the targets that talk to it (building one per
// input would cost more than the input's own work).

#include <memory>

#include "app/program_state.h"
#include "device/device_link.h"
#include "sim/simulated_bridge.h"
#include "sim/virtual_instrument.h"

namespace veltrane::fuzz {

struct InstrumentRig {
    VirtualClock clock{100000};
    SimulatedBridge bridge;
    std::shared_ptr<VirtualInstrument> instrument;
    std::unique_ptr<DeviceLink> link;
    std::unique_ptr<ProgramState> state = std::make_unique<ProgramState>();
    InstrumentRig() {
        instrument = std::make_shared<VirtualInstrument>(clock, SimModelLarge2500(), SimSample::Polystyrene, 7);
        instrument->setLogLimit(0);
        bridge.attach(instrument);
        link = std::make_unique<DeviceLink>(bridge);
    }
};

} // namespace veltrane::fuzz
