#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/usb_backend.h"
#include "platform/usb_bridge.h"

namespace veltrane {

// The bridge operations over a USB backend (libusb on real hardware): the
// bridge is found by its vendor and product IDs, opened, its interface 0
// claimed, and every read and write is a bulk transfer on the interface's
// IN and OUT endpoints with the time-outs last set.
class LibusbBridge : public UsbBridge {
public:
    LibusbBridge(std::unique_ptr<UsbBackend> backend, std::vector<UsbDeviceId> ids);
    ~LibusbBridge() override;

    BridgeStatus getNumDevices(std::uint32_t& count) override;
    BridgeStatus open(std::uint32_t index, BridgeHandle& handle) override;
    BridgeStatus close(BridgeHandle handle) override;
    BridgeStatus read(BridgeHandle handle, std::uint8_t* buffer, std::uint32_t bytes,
                      std::uint32_t& transferred) override;
    BridgeStatus write(BridgeHandle handle, const std::uint8_t* buffer, std::uint32_t bytes,
                       std::uint32_t& transferred) override;
    BridgeStatus setTimeouts(std::uint32_t readMs, std::uint32_t writeMs) override;

    // Once per connection attempt rather than at every check. Re-armed when a count finds no bridge (it was unplugged)
    // or an open succeeds.
    bool takeAccessDeniedNotice() override;

private:
    struct OpenBridge {
        UsbDeviceHandle device = 0;
        std::uint8_t inEndpoint = 0;
        std::uint8_t outEndpoint = 0;
    };

    BridgeStatus transfer(BridgeHandle handle, bool in, std::uint8_t* buffer, std::uint32_t bytes,
                          std::uint32_t& transferred);

    std::unique_ptr<UsbBackend> m_backend;
    std::vector<UsbDeviceId> m_ids;
    std::mutex m_mutex;
    std::map<BridgeHandle, OpenBridge> m_open;
    BridgeHandle m_nextHandle = 1;
    std::uint32_t m_readTimeoutMs = 3000;
    std::uint32_t m_writeTimeoutMs = 1000;
    bool m_accessDenied = false;
    bool m_accessNoticeGiven = false;
};

} // namespace veltrane
