#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veltrane {

// What the virtual instrument pretends to be: the contents of its identity
// records, its sensor geometry, its optics and its calibration file.
struct SimModel {
    std::string label;                // short name for --help and test output
    std::uint8_t deviceType = 179;    // byte 20 of the device record
    std::uint16_t frameLength = 2546; // values per frame (sensor record offset 32)
    std::uint16_t firstPixel = 23;    // sensor record offset 36
    std::uint16_t lastPixel = 2522;   // sensor record offset 40
    float laserNm = 532.0f;           // device record offset 16
    std::uint8_t hwMajor = 3, hwMinor = 1;
    std::uint16_t fwMajor = 2, fwMinor = 14;
    std::string opticsSerial = "OPT-532-2500-A047181"; // at most 20 bytes go on the wire
    std::uint32_t deviceSerial = 21087342;
    // The true pixel-to-wavelength polynomial of the optics (nm over the
    // valid-pixel index). The calibration file normally holds these values.
    std::array<double, 5> optics{};
    // Dark level in counts and dark current in counts per second.
    double darkOffset = 980.0;
    double darkCurrentPerS = 42.0;
    // Read noise of the sensor and its electronics, standard deviation in counts.
    double readNoise = 4.5;
    // Counts per second that the strongest band of a strong scatterer reaches
    // at full laser power.
    double ramanScale = 5200.0;
    // Resolution of the converter: a pixel reads at most 2^bits - 1.
    int converterBits = 16;

    std::uint16_t pixelCount() const { return static_cast<std::uint16_t>(lastPixel - firstPixel + 1); }
    double fullScale() const { return static_cast<double>((1u << converterBits) - 1u); }
    // The calibration file bytes: the six float32 values c0..c5.
    std::vector<std::uint8_t> calibrationFile() const;
};

// The four instruments the simulator offers.
SimModel SimModelLarge2500(); // DeviceType 179, 2546-value frame, 2500 valid pixels, 532 nm
SimModel SimModelLarge2048(); // DeviceType 180, 2068-value frame, 2048 valid pixels, 785 nm
SimModel SimModelSmall256();  // DeviceType 165, 256-pixel sensor, 405 nm
SimModel SimModelUnknown();   // a DeviceType the program cannot measure with
std::optional<SimModel> SimModelByName(const std::string& name); // "2500", "2048", "256", "unknown"

} // namespace veltrane
