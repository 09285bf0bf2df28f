#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "device/axis_correction.h"
#include "shared/program_constants.h"

namespace veltrane {

// The largest pixel count the program handles, and so the length of every
// per-pixel array.
constexpr std::size_t kMaxPixels = 2500;

enum class DeviceConnection : std::uint8_t { Disconnected = 0, NewlyConnected = 1, Connected = 2 };

// Said instead of "No Device!" before the first connection check has looked.
constexpr const char* kDeviceBeingIdentified = "Device is being identified…";

// What the program knows of the attached instrument: its identity, sensor
// geometry, wavelength calibration and the Raman-shift range the spectrum
// chart shows for it. Written by the connection check on the GUI thread; a
// measurement or transfer worker only reads it, and the check never
// identifies a new device while a worker still runs.
struct DeviceInfo {
    // The brand whose model names are given. The build fixes it; tests set the other.
    BrandVariant brandVariant = kBrandVariant;

    DeviceConnection deviceState = DeviceConnection::Disconnected;
    // The first connection check after start-up has run (found a device,
    // identified it, or found none); until then no device is no news.
    bool connectionChecked = false;
    bool deviceIdentified = false;
    std::uint8_t deviceType = 0;
    std::uint16_t pixelTotal = 0;
    std::uint16_t pixelFirst = 0;
    std::uint16_t pixelLast = 0;
    std::uint16_t pixelCount = 0;
    float laserWavelength = 0.0f;
    std::uint8_t hwVersionMajor = 0;
    std::uint8_t hwVersionMinor = 0;
    std::uint16_t fwVersionMajor = 0;
    std::uint16_t fwVersionMinor = 0;
    std::string modelName;
    std::string opticsSerial;
    std::uint32_t deviceSerial = 0;
    std::array<float, 6> waveCal{};
    bool waveCalValid = false;
    std::uint16_t displayLow = 0;
    std::uint16_t displayHigh = 0;
    // The correction of the Raman-shift axis this PC keeps for the
    // instrument; the window sets it once the instrument is identified.
    // The axis drawn, exported and identified with carries it; raw files,
    // written from the calibration, do not.
    std::optional<AxisCorrection> axisCorrection;
    // A present device that was refused (unusable sensor geometry) and the
    // user told so; cleared when no device is found, so a replug tells again.
    bool deviceRefusalShown = false;
};

} // namespace veltrane
