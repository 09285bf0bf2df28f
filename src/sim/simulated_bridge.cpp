#include "sim/simulated_bridge.h"

namespace veltrane {

std::size_t SimulatedBridge::attach(std::shared_ptr<VirtualInstrument> instrument) {
    std::lock_guard lock(m_mutex);
    m_slots.push_back(Slot{std::move(instrument), true, 0});
    return m_slots.size() - 1;
}

VirtualInstrument& SimulatedBridge::instrument(std::size_t index) {
    std::lock_guard lock(m_mutex);
    return *m_slots.at(index).instrument;
}

std::size_t SimulatedBridge::instrumentCount() const {
    std::lock_guard lock(m_mutex);
    return m_slots.size();
}

void SimulatedBridge::unplug(std::size_t index) {
    std::lock_guard lock(m_mutex);
    Slot& slot = m_slots.at(index);
    slot.plugged = false;
    ++slot.generation;
}

void SimulatedBridge::replug(std::size_t index) {
    std::shared_ptr<VirtualInstrument> instrument;
    {
        std::lock_guard lock(m_mutex);
        Slot& slot = m_slots.at(index);
        slot.plugged = true;
        ++slot.generation;
        instrument = slot.instrument;
    }
    instrument->powerCycle();
}

bool SimulatedBridge::plugged(std::size_t index) const {
    std::lock_guard lock(m_mutex);
    return m_slots.at(index).plugged;
}

std::vector<std::size_t> SimulatedBridge::presentSlots() const {
    std::vector<std::size_t> present;
    for (std::size_t i = 0; i < m_slots.size(); ++i)
        if (m_slots[i].plugged && !m_slots[i].instrument->lost()) present.push_back(i);
    return present;
}

BridgeStatus SimulatedBridge::logged(BridgeCall::Op op, std::uint32_t argument, BridgeStatus status) {
    // A long session under the simulator must not grow without bound.
    if (m_calls.size() >= kMaxCalls) m_calls.erase(m_calls.begin(), m_calls.begin() + kMaxCalls / 2);
    m_calls.push_back(BridgeCall{op, argument, status});
    return status;
}

BridgeStatus SimulatedBridge::getNumDevices(std::uint32_t& count) {
    std::lock_guard lock(m_mutex);
    count = static_cast<std::uint32_t>(presentSlots().size());
    return logged(BridgeCall::Op::Count, count, count == 0 ? BridgeStatus::DeviceNotFound : BridgeStatus::Success);
}

BridgeStatus SimulatedBridge::open(std::uint32_t index, BridgeHandle& handle) {
    std::shared_ptr<VirtualInstrument> instrument;
    {
        std::lock_guard lock(m_mutex);
        handle = kInvalidBridgeHandle;
        std::vector<std::size_t> present = presentSlots();
        if (index >= present.size()) return logged(BridgeCall::Op::Open, index, BridgeStatus::DeviceNotFound);
        std::size_t slot = present[index];
        handle = m_nextHandle++;
        m_sessions[handle] = Session{slot, m_slots[slot].generation};
        instrument = m_slots[slot].instrument;
        logged(BridgeCall::Op::Open, index, BridgeStatus::Success);
    }
    instrument->hostOpened();
    return BridgeStatus::Success;
}

BridgeStatus SimulatedBridge::close(BridgeHandle handle) {
    std::lock_guard lock(m_mutex);
    bool known = m_sessions.erase(handle) > 0;
    return logged(BridgeCall::Op::Close, 0, known ? BridgeStatus::Success : BridgeStatus::InvalidHandle);
}

VirtualInstrument* SimulatedBridge::sessionInstrument(BridgeHandle handle) {
    auto it = m_sessions.find(handle);
    if (it == m_sessions.end()) return nullptr;
    const Slot& slot = m_slots[it->second.slot];
    if (!slot.plugged || slot.generation != it->second.generation) return nullptr;
    return slot.instrument.get();
}

BridgeStatus SimulatedBridge::read(BridgeHandle handle, std::uint8_t* buffer, std::uint32_t bytes,
                                   std::uint32_t& transferred) {
    transferred = 0;
    VirtualInstrument* instrument;
    {
        std::lock_guard lock(m_mutex);
        instrument = sessionInstrument(handle);
        if (!instrument) return logged(BridgeCall::Op::Read, bytes, BridgeStatus::InvalidHandle);
    }
    BridgeStatus status = instrument->hostRead(buffer, bytes, transferred);
    std::lock_guard lock(m_mutex);
    return logged(BridgeCall::Op::Read, bytes, status);
}

BridgeStatus SimulatedBridge::write(BridgeHandle handle, const std::uint8_t* buffer, std::uint32_t bytes,
                                    std::uint32_t& transferred) {
    transferred = 0;
    VirtualInstrument* instrument;
    {
        std::lock_guard lock(m_mutex);
        instrument = sessionInstrument(handle);
        if (!instrument) return logged(BridgeCall::Op::Write, bytes, BridgeStatus::InvalidHandle);
    }
    BridgeStatus status = instrument->hostWrite(buffer, bytes, transferred);
    std::lock_guard lock(m_mutex);
    return logged(BridgeCall::Op::Write, bytes, status);
}

BridgeStatus SimulatedBridge::setTimeouts(std::uint32_t readMs, std::uint32_t writeMs) {
    std::lock_guard lock(m_mutex);
    m_readTimeout = readMs;
    m_writeTimeout = writeMs;
    return logged(BridgeCall::Op::SetTimeouts, readMs, BridgeStatus::Success);
}

std::uint32_t SimulatedBridge::readTimeoutMs() const {
    std::lock_guard lock(m_mutex);
    return m_readTimeout;
}
std::uint32_t SimulatedBridge::writeTimeoutMs() const {
    std::lock_guard lock(m_mutex);
    return m_writeTimeout;
}
std::vector<BridgeCall> SimulatedBridge::calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
}
void SimulatedBridge::clearCalls() {
    std::lock_guard lock(m_mutex);
    m_calls.clear();
}
std::size_t SimulatedBridge::openHandles() const {
    std::lock_guard lock(m_mutex);
    return m_sessions.size();
}

} // namespace veltrane
