#pragma once

#include <cstdint>

namespace veltrane {

// A correction of an instrument's Raman-shift axis, found by checking it
// against a reference material. An error of the laser wavelength moves every
// Raman shift by the same amount (an offset); an error of the spectrograph's
// wavelength axis moves them by amounts that change along the spectrum. The
// check chooses the kind that explains its deviations better (the wavelength
// axis only when the bands span 1000 cm-1 or more and it leaves clearly less
// behind). It lives beside the device's calibration because it corrects what
// the calibration gives; this PC keeps it, never the instrument.
enum class AxisCorrectionKind : std::uint8_t { Offset, WavelengthAxis };

struct AxisCorrection {
    AxisCorrectionKind kind = AxisCorrectionKind::Offset;
    double offset = 0.0;       // cm-1 added to every shift (Offset)
    double wavelengthNm = 0.0; // nm taken from every pixel's wavelength (WavelengthAxis)
    double laserNm = 0.0;      // the laser wavelength the shifts were computed with
    double residualRms = 0.0;  // what the correction leaves of the deviations, cm-1
};

// A Raman shift as the corrected axis gives it.
double CorrectedShift(const AxisCorrection& correction, double shift);

// How much the correction moves a shift there, cm-1 (for "Axis corrected by ...").
inline double CorrectionAt(const AxisCorrection& correction, double shift) {
    return CorrectedShift(correction, shift) - shift;
}

} // namespace veltrane
