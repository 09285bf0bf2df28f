#pragma once

#include <cstdint>

namespace veltrane {

struct ProgramState;

// Laser wavelength assumed when the instrument reports 0 nm.
constexpr float kDefaultLaserNm = 403.25f;

// The built-in pixel-to-wavelength polynomial of the 256-pixel sensor class,
// in nm, evaluated in double precision.
double SmallSensorPolynomial(int pixel);

// Fills the X values of the spectrum store for the current device and
// recomputes the drawn pixel window: Raman shifts in cm-1 with a valid
// calibration, pixel numbers (large sensors) or nm (256-pixel class) without.
// Touches no chart.
void ComputeSpectralAxis(ProgramState& state, float laserWavelength);

// Whether the calibration in the state gives a large sensor an axis that is
// finite and strictly monotonic over its pixels, as ComputeSpectralAxis would
// compute it. A calibration that does not is no calibration: a constant or
// infinite axis draws nothing sensible and makes libraries of nonsense.
// Other sensor classes do not use the coefficients and always pass.
bool CalibratedAxisUsable(const ProgramState& state);

// ComputeSpectralAxis with the device's laser wavelength; true when the
// bottom-axis title of the spectrum chart must read "Ramanshift(cm-1)".
bool RefreshSpectralAxis(ProgramState& state);

} // namespace veltrane
