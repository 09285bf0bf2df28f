#pragma once

#include "platform/usb_bridge.h"

namespace veltrane {

// A bridge with nothing attached: what the program sees on a machine without
// the instrument's USB bridge, or without a USB layer built in.
class NullBridge : public UsbBridge {
public:
    BridgeStatus getNumDevices(std::uint32_t& count) override {
        count = 0;
        return BridgeStatus::DeviceNotFound;
    }
    BridgeStatus open(std::uint32_t, BridgeHandle& handle) override {
        handle = kInvalidBridgeHandle;
        return BridgeStatus::DeviceNotFound;
    }
    BridgeStatus close(BridgeHandle) override { return BridgeStatus::InvalidHandle; }
    BridgeStatus read(BridgeHandle, std::uint8_t*, std::uint32_t, std::uint32_t& transferred) override {
        transferred = 0;
        return BridgeStatus::InvalidHandle;
    }
    BridgeStatus write(BridgeHandle, const std::uint8_t*, std::uint32_t, std::uint32_t& transferred) override {
        transferred = 0;
        return BridgeStatus::InvalidHandle;
    }
    BridgeStatus setTimeouts(std::uint32_t, std::uint32_t) override { return BridgeStatus::Success; }
};

} // namespace veltrane
