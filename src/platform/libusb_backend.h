#pragma once

#include <memory>

#include "platform/usb_backend.h"

namespace veltrane {

// The USB backend over libusb-1.0. Only built when libusb was found
// (VELTRANE_WITH_LIBUSB). Never null: when libusb cannot start, every listing
// fails and the bridge reports no device.
std::unique_ptr<UsbBackend> MakeLibusbBackend();

} // namespace veltrane
