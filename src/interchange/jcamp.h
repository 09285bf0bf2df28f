#pragma once

#include <string>
#include <string_view>

#include "interchange/spectrum.h"

namespace veltrane {

// JCAMP-DX 4.24 and 5.x, one spectrum: ##XYDATA=(X++(Y..Y)) in any mix of
// AFFN, PAC, SQZ, DIF and DUP, every DIF Y-check verified; ##XYPOINTS and
// ##PEAK TABLE as AFFN (X, Y) pairs. FIRSTX, LASTX, NPOINTS and, where
// given, DELTAX and FIRSTY must agree with the data. XUNITS 1/CM is Raman
// shift; NANOMETERS and MICROMETERS are made Raman shifts with `laserNm`
// (needsLaser when it is not above 0). Of a compound file (##BLOCKS) the
// first block with data is read, with a notice.
ReadOutcome ReadJcampSpectrum(std::string_view text, double laserNm, InterchangeSpectrum& spectrum);

enum class JcampForm : std::uint8_t { Affn, DifDup };

// AFFN: ##XYPOINTS=(XY..XY), one "x, y" pair a line, as exact as float32
// text allows. DIFDUP: ##XYDATA=(X++(Y..Y)) compressed with Y-check values;
// X must be evenly spaced there, so uneven points are first interpolated
// linearly onto as many evenly spaced ones over the same range, and points
// with a value that is not a number are left out. Empty text when nothing
// can be written (no points, a range too wide for a double).
std::string WriteJcampSpectrum(const InterchangeSpectrum& spectrum, JcampForm form);

} // namespace veltrane
