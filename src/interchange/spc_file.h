#pragma once

#include <string>
#include <string_view>

#include "interchange/spectrum.h"

namespace veltrane {

// Thermo Galactic SPC, new format, little-endian (version byte 0x4B): a
// 512-byte main header, an X array of float32 when the TXVALS flag is set
// (else X runs evenly from ffirst to flast), then the subfiles, each a
// 32-byte header and its Y values: float32 when the exponent is 0x80, else
// integers scaled by 2^(exponent-32), or 2^(exponent-16) when TSPREC marks
// them 16-bit. Of several subfiles the first is read, with a notice. X in
// cm-1 (Raman shift or wavenumber) is taken as Raman shift; nm and um are
// made Raman shifts with `laserNm` (needsLaser when it is not above 0). The
// "KEY=VALUE" lines of a log block become the header fields.
ReadOutcome ReadSpcSpectrum(std::string_view bytes, double laserNm, InterchangeSpectrum& spectrum);

// One subfile of float32 Y, X as Raman shift against arbitrary intensity,
// the experiment type Raman; an X array when X is not evenly spaced. The
// title goes into the comment field (129 bytes at most); what the spectrum
// says of the measurement (operator, notes, date, instrument, laser,
// integration time, averages) into a log block of "KEY=VALUE" lines.
std::string WriteSpcSpectrum(const InterchangeSpectrum& spectrum);

} // namespace veltrane
