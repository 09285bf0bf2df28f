#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/ini_file.h"

namespace veltrane {

struct UsbDeviceId {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    bool operator==(const UsbDeviceId&) const = default;
};

// The instrument's bridge is a Silicon Labs USBXpress chip: a vendor-specific
// bulk device, not a serial port. Its factory IDs are vendor 0x10C4, product
// 0xEA61. The CP210x UART IDs (0xEA60 and friends) are deliberately absent:
// those are serial adapters that belong to the kernel's tty driver, and
// opening one of them would talk our protocol to some unrelated gadget.
inline constexpr UsbDeviceId kDefaultUsbDeviceIds[] = {{0x10C4, 0xEA61}};

// "VID:PID" in hex, each part one to four digits with an optional "0x";
// blanks around either part are allowed.
std::optional<UsbDeviceId> ParseUsbDeviceId(std::string_view text);

// The default IDs followed by those of the settings file's "USB Devices"
// section (keys Device1, Device2, ... up to Device32; gaps and unreadable
// entries are skipped, duplicates dropped).
std::vector<UsbDeviceId> ReadUsbDeviceIds(const IniFile& settings);

} // namespace veltrane
