#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/device_file_access.h"
#include "device/device_info.h"
#include "device/device_link.h"
#include "platform/clock.h"

namespace veltrane {

// Told once per attachment when a device reports a sensor the program cannot
// hold in its buffers.
constexpr const char* kDeviceRefusedMessage = "Device not supported!";
constexpr const char* kCalibrationMissingMessage = "Wave calibration not exist!";

// Frame and pixel limits of the measurement buffers.
constexpr std::uint16_t kMaxFrameLength = 2600;

enum class IdentifyOutcome : std::uint8_t {
    NoDevice,          // the count failed
    AlreadyIdentified, // nothing sent
    Identified,        // the four records were read and are usable
    RecordsUnreadable, // a record read failed: not identified, next check tries again
    Refused,           // the sensor record describes a geometry the buffers cannot hold
    Postponed,         // a new device waits until the last measurement's worker returned
};

// True for the 256-pixel sensor class, whose DeviceType is stored as 1.
bool IsSmallSensorType(std::uint8_t reportedType);
// The model display name of a DeviceType as reported by the device.
std::string ModelName(std::uint8_t reportedType, BrandVariant brand);
// Whether a sensor record's geometry fits the buffers: frame length at most
// 2600, at least one pixel and at most 2500, first + count within the frame.
bool SensorGeometryUsable(std::uint16_t total, std::uint16_t first, std::uint16_t last);

// Counts devices and, for a device not yet identified, reads the four
// identity records. Returns the new connection state.
DeviceConnection IdentifyDevice(DeviceLink& link, DeviceInfo& device, IdentifyOutcome* outcome = nullptr);

// Fills the device information from the two records (sensor, then device).
void ApplyDeviceRecords(DeviceInfo& device, const std::array<std::uint8_t, wire::kSensorRecordSize>& sensor,
                        const std::array<std::uint8_t, wire::kDeviceRecordSize>& record);

// What a connection check leaves for the window to show.
struct CheckResult {
    DeviceConnection state = DeviceConnection::Disconnected;
    IdentifyOutcome outcome = IdentifyOutcome::NoDevice;
    // A device was identified in this check: the window sets up the spectrum
    // chart, refreshes the axis, writes the range boxes, fills the tree and
    // the status bar.
    bool newlyIdentified = false;
    FileAccessResult calibration = FileAccessResult::Success;
    bool showCalibrationMissing = false; // "Wave calibration not exist!"
    bool showDeviceRefused = false;      // kDeviceRefusedMessage, once per attachment
    // No device (or none usable) was found: whatever ran on the old one is
    // over, and the owner of the measurement and transfer states resets them.
    bool lost = false;
};

// One tick of the connection check on the device information alone:
// identification with calibration read, or `lost` when no device is found.
// With `identificationAllowed` false a present but unidentified device is
// left for a later tick (nothing is sent to it).
CheckResult CheckDevice(DeviceLink& link, Clock& clock, DeviceInfo& device, bool identificationAllowed = true);

// The device information tree: the model name as root, then its lines.
struct DeviceTree {
    std::string root;
    std::vector<std::string> children;
};
DeviceTree DeviceTreeLines(const DeviceInfo& device);

} // namespace veltrane
