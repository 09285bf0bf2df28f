#include "device/axis_correction.h"

namespace veltrane {

double CorrectedShift(const AxisCorrection& c, double shift) {
    if (c.kind == AxisCorrectionKind::Offset) return shift + c.offset;
    // Back to the pixel's wavelength, corrected there, and to a shift again.
    const double laser = 1e7 / c.laserNm;
    const double wavelength = 1e7 / (laser - shift);
    return laser - 1e7 / (wavelength - c.wavelengthNm);
}

} // namespace veltrane
