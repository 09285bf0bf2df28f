#pragma once

#include <cstdint>
#include <vector>

#include "platform/usb_device_ids.h"

namespace veltrane {

// What a USB call can end in, reduced to the cases the bridge treats
// differently. The libusb backend maps libusb's error codes onto these.
enum class UsbError {
    Success,
    Timeout,
    NoDevice, // unplugged, or gone while open
    NotFound, // no such device or endpoint
    Access,   // no permission on the device node
    Pipe,     // endpoint stalled
    Busy,     // interface claimed by someone else
    Other,
};

struct UsbEndpointInfo {
    std::uint8_t address = 0;    // bit 7 set: IN
    std::uint8_t attributes = 0; // bits 0..1: transfer type, 2 = bulk
};

struct UsbInterfaceInfo {
    std::uint8_t number = 0;
    std::uint8_t alternate = 0;
    std::vector<UsbEndpointInfo> endpoints;
};

using UsbDeviceHandle = std::uintptr_t;

// The few USB calls the bridge needs, and nothing more, so that the bridge's
// logic runs in tests against a scripted device and on real hardware through
// libusb alike.
class UsbBackend {
public:
    virtual ~UsbBackend() = default;

    // Enumerates the attached devices whose IDs are in `ids` and remembers
    // them in enumeration order; open() picks from that list.
    virtual UsbError listDevices(const std::vector<UsbDeviceId>& ids, std::uint32_t& count) = 0;
    virtual UsbError open(std::uint32_t index, UsbDeviceHandle& handle) = 0;
    // The interfaces of the device's active configuration.
    virtual UsbError interfaces(UsbDeviceHandle handle, std::vector<UsbInterfaceInfo>& out) = 0;
    virtual UsbError claimInterface(UsbDeviceHandle handle, std::uint8_t number) = 0;
    virtual UsbError releaseInterface(UsbDeviceHandle handle, std::uint8_t number) = 0;
    virtual void close(UsbDeviceHandle handle) = 0;
    virtual UsbError bulkTransfer(UsbDeviceHandle handle, std::uint8_t endpoint, std::uint8_t* data,
                                  std::uint32_t length, std::uint32_t& transferred, std::uint32_t timeoutMs) = 0;
    virtual UsbError clearHalt(UsbDeviceHandle handle, std::uint8_t endpoint) = 0;
};

} // namespace veltrane
