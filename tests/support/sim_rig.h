#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/device_link.h"
#include "platform/byte_order.h"
#include "platform/clock.h"
#include "sim/simulated_bridge.h"
#include "sim/virtual_instrument.h"

namespace veltrane::test {

// A virtual instrument behind the simulated bridge on a virtual clock, and a
// device link talking to it. On destruction it fails the test if the
// instrument saw any protocol violation, unless the test expected some.
struct SimRig {
    VirtualClock clock{100000};
    SimulatedBridge bridge;
    std::shared_ptr<VirtualInstrument> instrument;
    DeviceLink link{bridge};
    bool violationsExpected = false;

    explicit SimRig(SimModel model = SimModelLarge2500(), SimSample sample = SimSample::Polystyrene) {
        instrument = std::make_shared<VirtualInstrument>(clock, std::move(model), sample, 7);
        bridge.attach(instrument);
    }
    ~SimRig() {
        if (violationsExpected) return;
        for (std::size_t i = 0; i < bridge.instrumentCount(); ++i)
            for (const std::string& v : bridge.instrument(i).violations())
                ADD_FAILURE() << "protocol violation on instrument " << i << ": " << v;
    }

    // Command codes of the blocks the instrument received, in order.
    std::vector<std::uint16_t> commandCodes() const {
        std::vector<std::uint16_t> codes;
        for (const SimLogEntry& e : instrument->log())
            if (e.kind == SimLogEntry::Kind::Command) codes.push_back(e.code);
        return codes;
    }
    std::vector<SimLogEntry> entriesOf(std::uint16_t code) const {
        std::vector<SimLogEntry> out;
        for (const SimLogEntry& e : instrument->log())
            if (e.code == code) out.push_back(e);
        return out;
    }
};

inline std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

} // namespace veltrane::test
