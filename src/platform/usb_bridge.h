#pragma once

#include <cstdint>

namespace veltrane {

// Statuses of the USB bridge operations. 0 is success; the other values are
// those the bridge reports for its failures. Callers test against Success and
// never rely on which failure it was, but the simulator and the libusb layer
// report the fitting one so that logs say what went wrong.
enum class BridgeStatus : std::uint32_t {
    Success = 0x00,
    InvalidHandle = 0x01,
    ReadError = 0x02,
    WriteError = 0x04,
    InvalidParameter = 0x06,
    InvalidRequestLength = 0x07,
    DeviceIoFailed = 0x08,
    ReadTimedOut = 0x0D,
    WriteTimedOut = 0x0E,
    AccessDenied = 0x10,
    DeviceNotFound = 0xFF,
};

constexpr const char* kBridgeAccessDeniedMessage =
    "No permission to open the instrument. Install the udev rule (see README) and plug it in again.";

using BridgeHandle = std::uintptr_t;
constexpr BridgeHandle kInvalidBridgeHandle = 0;

// The six operations of the instrument's USB bridge. Every device exchange of
// the program goes through exactly these; the simulator and the libusb layer
// implement them, nothing else knows which one is behind.
class UsbBridge {
public:
    virtual ~UsbBridge() = default;

    // Number of attached bridges. Any status but Success means none.
    virtual BridgeStatus getNumDevices(std::uint32_t& count) = 0;
    virtual BridgeStatus open(std::uint32_t index, BridgeHandle& handle) = 0;
    virtual BridgeStatus close(BridgeHandle handle) = 0;
    virtual BridgeStatus read(BridgeHandle handle, std::uint8_t* buffer, std::uint32_t bytes,
                              std::uint32_t& transferred) = 0;
    virtual BridgeStatus write(BridgeHandle handle, const std::uint8_t* buffer, std::uint32_t bytes,
                               std::uint32_t& transferred) = 0;
    virtual BridgeStatus setTimeouts(std::uint32_t readMs, std::uint32_t writeMs) = 0;

    // True once after an open was refused for lack of permission on the
    // device node, so the window can point the user to the udev rule once
    // per connection attempt. Only a bridge over the OS's USB stack can be
    // refused that way.
    virtual bool takeAccessDeniedNotice() { return false; }
};

} // namespace veltrane
