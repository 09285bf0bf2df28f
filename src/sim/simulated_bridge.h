#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/usb_bridge.h"
#include "sim/virtual_instrument.h"

namespace veltrane {

// One call that reached the bridge, for tests that assert what the link did
// (for instance that nothing was opened when no device was counted).
struct BridgeCall {
    enum class Op : std::uint8_t { Count, Open, Close, Read, Write, SetTimeouts };
    Op op;
    std::uint32_t argument; // index for Open, byte count for Read and Write, read time-out for SetTimeouts
    BridgeStatus status;
};

// The virtual instrument behind the bridge interface: bridges can be attached,
// unplugged and plugged in again, and a second bridge can sit beside the first.
class SimulatedBridge : public UsbBridge {
public:
    SimulatedBridge() = default;

    // Attaches an instrument as the next enumerated bridge; returns its index.
    std::size_t attach(std::shared_ptr<VirtualInstrument> instrument);
    VirtualInstrument& instrument(std::size_t index = 0);
    std::size_t instrumentCount() const;
    void unplug(std::size_t index = 0);
    void replug(std::size_t index = 0); // power-cycles the instrument
    bool plugged(std::size_t index = 0) const;

    BridgeStatus getNumDevices(std::uint32_t& count) override;
    BridgeStatus open(std::uint32_t index, BridgeHandle& handle) override;
    BridgeStatus close(BridgeHandle handle) override;
    BridgeStatus read(BridgeHandle handle, std::uint8_t* buffer, std::uint32_t bytes,
                      std::uint32_t& transferred) override;
    BridgeStatus write(BridgeHandle handle, const std::uint8_t* buffer, std::uint32_t bytes,
                       std::uint32_t& transferred) override;
    BridgeStatus setTimeouts(std::uint32_t readMs, std::uint32_t writeMs) override;

    std::uint32_t readTimeoutMs() const;
    std::uint32_t writeTimeoutMs() const;
    std::vector<BridgeCall> calls() const;
    void clearCalls();
    std::size_t openHandles() const;

private:
    struct Slot {
        std::shared_ptr<VirtualInstrument> instrument;
        bool plugged = true;
        std::uint32_t generation = 0; // bumped on unplug so old handles go stale
    };
    struct Session {
        std::size_t slot;
        std::uint32_t generation;
    };

    static constexpr std::size_t kMaxCalls = 100000;
    mutable std::mutex m_mutex;
    std::vector<Slot> m_slots;
    std::map<BridgeHandle, Session> m_sessions;
    BridgeHandle m_nextHandle = 1;
    std::uint32_t m_readTimeout = 0;
    std::uint32_t m_writeTimeout = 0;
    std::vector<BridgeCall> m_calls;

    std::vector<std::size_t> presentSlots() const; // plugged and not lost, in enumeration order
    VirtualInstrument* sessionInstrument(BridgeHandle handle);
    BridgeStatus logged(BridgeCall::Op op, std::uint32_t argument, BridgeStatus status);
};

} // namespace veltrane
