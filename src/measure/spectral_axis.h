#pragma once

#include <cstdint>

#include "device/wave_calibration.h"

namespace veltrane {

struct SpectrumStore;
struct DeviceInfo;
struct MeasurementSession;

// The built-in pixel-to-wavelength polynomial of the 256-pixel sensor class,
// in nm, evaluated in double precision.
double SmallSensorPolynomial(int pixel);

// Fills the X values of the spectrum store for the current device and
// recomputes the drawn pixel window: Raman shifts in cm-1 with a valid
// calibration (corrected by the device's axis correction, when it has one),
// pixel numbers (large sensors) or nm (256-pixel class) without.
// Touches no chart.
void ComputeSpectralAxis(SpectrumStore& spectrum, const DeviceInfo& device, float laserWavelength);

// ComputeSpectralAxis with the device's laser wavelength; true when the
// bottom-axis title of the spectrum chart must read "Ramanshift(cm-1)".
bool RefreshSpectralAxis(SpectrumStore& spectrum, const DeviceInfo& device);

// The spectrum chart's X title for what its X values are: Raman shift with a
// calibration or a raw file's spectrum, otherwise what the axis falls back
// to, pixel numbers or (256-pixel sensors) wavelengths.
const char* SpectrumXAxisCaption(const MeasurementSession& session, const DeviceInfo& device);

} // namespace veltrane
