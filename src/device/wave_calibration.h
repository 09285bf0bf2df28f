#pragma once

#include <array>
#include <cstdint>

namespace veltrane {

struct DeviceInfo;

// Laser wavelength assumed when the instrument reports 0 nm.
constexpr float kDefaultLaserNm = 403.25f;

// The two large sensor types (2500 and 2048 pixels), whose axis comes from
// the calibration polynomial.
bool IsLargeSensorType(std::uint8_t type);

// The calibration's wavelength in nm at a pixel, in double precision.
double CalibrationPolynomial(const std::array<float, 6>& coefficients, int pixel);

// Whether the calibration of the device gives a large sensor an axis that is
// finite and strictly monotonic over its pixels, as ComputeSpectralAxis would
// compute it. A calibration that does not is no calibration: a constant or
// infinite axis draws nothing sensible and makes libraries of nonsense.
// Other sensor classes do not use the coefficients and always pass.
bool CalibratedAxisUsable(const DeviceInfo& device);

} // namespace veltrane
