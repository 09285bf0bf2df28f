#pragma once

#include <array>
#include <cstdint>

namespace veltrane {

struct DeviceInfo;

// Laser wavelength assumed when the instrument reports 0 nm.
constexpr float kDefaultLaserNm = 403.25f;

// The two large sensor types (2500 and 2048 pixels), whose axis comes from
// the calibration polynomial.
inline bool IsLargeSensorType(std::uint8_t type) {
    return type == 179 || type == 180;
}

// The calibration's wavelength in nm at a pixel, in double precision. Inline:
// the axis is computed pixel by pixel, and a call per pixel would cost more
// than the arithmetic.
inline double CalibrationPolynomial(const std::array<float, 6>& c, int pixel) {
    double x = pixel;
    return static_cast<double>(c[0]) + static_cast<double>(c[1]) * x + static_cast<double>(c[2]) * x * x +
           static_cast<double>(c[3]) * x * x * x + static_cast<double>(c[4]) * x * x * x * x;
}

// Whether the calibration of the device gives a large sensor an axis that is
// finite and strictly monotonic over its pixels, as ComputeSpectralAxis would
// compute it. A calibration that does not is no calibration: a constant or
// infinite axis draws nothing sensible and makes libraries of nonsense.
// Other sensor classes do not use the coefficients and always pass.
bool CalibratedAxisUsable(const DeviceInfo& device);

} // namespace veltrane
