#pragma once

#include <string>
#include <string_view>

#include "interchange/spectrum.h"

namespace veltrane {

// Two numeric columns, X (Raman shift) and intensity, one point a line.
// The separator is a tab, a semicolon, a comma or runs of spaces, told by
// the first line of numbers and kept for the rest; with a tab or a semicolon
// the decimal separator may be a comma. Blank lines and lines that begin
// with '#', '%' or "//" are skipped anywhere, other lines only before the
// first point (column headings). X runs ascending or descending.
ReadOutcome ReadDelimitedSpectrum(std::string_view text, InterchangeSpectrum& spectrum);

// "raman_shift_cm-1,intensity" and one "x,y" line a point, each number the
// shortest text that reads back as the same float32.
std::string WriteCsvSpectrum(const InterchangeSpectrum& spectrum);

} // namespace veltrane
