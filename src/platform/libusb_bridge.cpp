#include "platform/libusb_bridge.h"

#include <climits>

namespace veltrane {

namespace {

constexpr std::uint8_t kBridgeInterface = 0;
constexpr std::uint8_t kEndpointIn = 0x80;
constexpr std::uint8_t kTransferTypeMask = 0x03;
constexpr std::uint8_t kTransferTypeBulk = 0x02;

// Errors that are not about a particular direction.
BridgeStatus CommonStatus(UsbError error) {
    switch (error) {
    case UsbError::Success:
        return BridgeStatus::Success;
    case UsbError::NoDevice:
    case UsbError::NotFound:
        return BridgeStatus::DeviceNotFound;
    case UsbError::Access:
        return BridgeStatus::AccessDenied;
    default:
        return BridgeStatus::DeviceIoFailed;
    }
}

// The bulk endpoints of interface 0, alternate setting 0: the bridge has one
// IN and one OUT; should a later firmware add more, the first of each is the
// data pipe.
bool FindBulkEndpoints(const std::vector<UsbInterfaceInfo>& interfaces, std::uint8_t& in, std::uint8_t& out) {
    for (const UsbInterfaceInfo& itf : interfaces) {
        if (itf.number != kBridgeInterface || itf.alternate != 0) continue;
        bool haveIn = false, haveOut = false;
        for (const UsbEndpointInfo& ep : itf.endpoints) {
            if ((ep.attributes & kTransferTypeMask) != kTransferTypeBulk) continue;
            if ((ep.address & kEndpointIn) != 0) {
                if (!haveIn) in = ep.address;
                haveIn = true;
            } else {
                if (!haveOut) out = ep.address;
                haveOut = true;
            }
        }
        return haveIn && haveOut;
    }
    return false;
}

} // namespace

LibusbBridge::LibusbBridge(std::unique_ptr<UsbBackend> backend, std::vector<UsbDeviceId> ids)
    : m_backend(std::move(backend)), m_ids(std::move(ids)) {}

LibusbBridge::~LibusbBridge() {
    // A handle left open by a caller would keep the interface claimed after
    // we are gone.
    for (auto& [handle, bridge] : m_open) {
        m_backend->releaseInterface(bridge.device, kBridgeInterface);
        m_backend->close(bridge.device);
    }
}

BridgeStatus LibusbBridge::getNumDevices(std::uint32_t& count) {
    std::lock_guard lock(m_mutex);
    count = 0;
    UsbError error = m_backend->listDevices(m_ids, count);
    if (error != UsbError::Success) {
        count = 0;
        return CommonStatus(error) == BridgeStatus::DeviceNotFound ? BridgeStatus::DeviceNotFound
                                                                   : BridgeStatus::DeviceIoFailed;
    }
    if (count == 0) {
        m_accessDenied = false;
        m_accessNoticeGiven = false;
        return BridgeStatus::DeviceNotFound;
    }
    return BridgeStatus::Success;
}

BridgeStatus LibusbBridge::open(std::uint32_t index, BridgeHandle& handle) {
    std::lock_guard lock(m_mutex);
    handle = kInvalidBridgeHandle;
    UsbDeviceHandle device = 0;
    UsbError error = m_backend->open(index, device);
    if (error == UsbError::Access) {
        m_accessDenied = true;
        return BridgeStatus::AccessDenied;
    }
    if (error != UsbError::Success) return CommonStatus(error);

    std::vector<UsbInterfaceInfo> interfaces;
    OpenBridge bridge;
    bridge.device = device;
    error = m_backend->interfaces(device, interfaces);
    if (error == UsbError::Success && !FindBulkEndpoints(interfaces, bridge.inEndpoint, bridge.outEndpoint))
        error = UsbError::Other; // not a bridge we can talk to
    if (error == UsbError::Success) error = m_backend->claimInterface(device, kBridgeInterface);
    if (error != UsbError::Success) {
        m_backend->close(device);
        return CommonStatus(error);
    }

    m_accessDenied = false;
    m_accessNoticeGiven = false;
    handle = m_nextHandle++;
    if (m_nextHandle == kInvalidBridgeHandle) m_nextHandle = 1;
    m_open[handle] = bridge;
    return BridgeStatus::Success;
}

BridgeStatus LibusbBridge::close(BridgeHandle handle) {
    std::lock_guard lock(m_mutex);
    auto it = m_open.find(handle);
    if (it == m_open.end()) return BridgeStatus::InvalidHandle;
    // Releasing fails when the bridge is already unplugged; the handle must
    // be freed all the same.
    m_backend->releaseInterface(it->second.device, kBridgeInterface);
    m_backend->close(it->second.device);
    m_open.erase(it);
    return BridgeStatus::Success;
}

BridgeStatus LibusbBridge::read(BridgeHandle handle, std::uint8_t* buffer, std::uint32_t bytes,
                                std::uint32_t& transferred) {
    return transfer(handle, true, buffer, bytes, transferred);
}

BridgeStatus LibusbBridge::write(BridgeHandle handle, const std::uint8_t* buffer, std::uint32_t bytes,
                                 std::uint32_t& transferred) {
    // libusb takes one buffer type for both directions and never writes to an
    // OUT buffer.
    return transfer(handle, false, const_cast<std::uint8_t*>(buffer), bytes, transferred);
}

BridgeStatus LibusbBridge::setTimeouts(std::uint32_t readMs, std::uint32_t writeMs) {
    std::lock_guard lock(m_mutex);
    m_readTimeoutMs = readMs;
    m_writeTimeoutMs = writeMs;
    return BridgeStatus::Success;
}

bool LibusbBridge::takeAccessDeniedNotice() {
    std::lock_guard lock(m_mutex);
    if (!m_accessDenied || m_accessNoticeGiven) return false;
    m_accessNoticeGiven = true;
    return true;
}

BridgeStatus LibusbBridge::transfer(BridgeHandle handle, bool in, std::uint8_t* buffer, std::uint32_t bytes,
                                    std::uint32_t& transferred) {
    transferred = 0;
    OpenBridge bridge;
    std::uint32_t timeoutMs;
    {
        // The transfer itself runs unlocked so that the hot-plug count is not
        // held up for a whole time-out; the device link already keeps one
        // exchange in flight at a time.
        std::lock_guard lock(m_mutex);
        auto it = m_open.find(handle);
        if (it == m_open.end()) return BridgeStatus::InvalidHandle;
        bridge = it->second;
        timeoutMs = in ? m_readTimeoutMs : m_writeTimeoutMs;
    }
    if (bytes > static_cast<std::uint32_t>(INT_MAX)) return BridgeStatus::InvalidRequestLength;
    if (bytes > 0 && buffer == nullptr) return BridgeStatus::InvalidParameter;

    std::uint8_t endpoint = in ? bridge.inEndpoint : bridge.outEndpoint;
    std::uint32_t done = 0;
    UsbError error = m_backend->bulkTransfer(bridge.device, endpoint, buffer, bytes, done, timeoutMs);
    // A short or timed-out transfer may still have moved some bytes; the
    // caller compares the count with what it asked for.
    transferred = done <= bytes ? done : bytes;
    switch (error) {
    case UsbError::Success:
        return BridgeStatus::Success;
    case UsbError::Timeout:
        return in ? BridgeStatus::ReadTimedOut : BridgeStatus::WriteTimedOut;
    case UsbError::Pipe:
        // A stalled endpoint stays stalled until cleared; clearing it here
        // lets the next exchange go through.
        m_backend->clearHalt(bridge.device, endpoint);
        return in ? BridgeStatus::ReadError : BridgeStatus::WriteError;
    default:
        return CommonStatus(error);
    }
}

} // namespace veltrane
