#pragma once

#include <cstdint>

namespace veltrane {

// What the program knows of an instrument's sensor electronics, by the
// DeviceType identification leaves (1 for the 256-pixel class, 179, 180).
// Every known model digitises with a 16-bit converter: the pixel values
// travel as unsigned 16-bit numbers and a pixel that collects more light
// than the converter can count reads 65535 ("full scale").
struct SensorLimits {
    std::uint8_t converterBits = 0; // 0 for a sensor the program does not know
    std::uint32_t fullScale = 0;    // 2^bits - 1: the count a clipped pixel reports
    // The range the automatic exposure chooses from, in ms. Below the shortest
    // the readout, not the light, decides the frame; beyond the longest the
    // trials alone would keep the user waiting minutes, and a longer time can
    // still be typed.
    std::uint32_t minExposureMs = 0;
    std::uint32_t maxExposureMs = 0;
};

SensorLimits SensorLimitsOf(std::uint8_t deviceType);

} // namespace veltrane
