#pragma once

#include <string>
#include <string_view>

#include "interchange/spectrum.h"

namespace veltrane {

// The columns to read from a table: a column's name (any letter case) or
// its 1-based number; empty to let the reader choose by the names.
struct ColumnChoice {
    std::string x;
    std::string y;
};

// Delimited text: an optional block of header facts ("key;value",
// "##KEY=value", "# key: value"), an optional row naming the columns, then
// rows of numbers. The separator is a tab, a semicolon, a comma or runs of
// spaces, told by the first row of numbers; with a tab, a semicolon or
// spaces the decimal mark may be a comma. X is taken from a Raman-shift
// column, else a wavenumber column that holds Raman shifts, else a
// wavelength (nm) or absolute wavenumber column made Raman shifts with the
// laser wavelength (`laserNm`, else the file's own; needsLaser without
// either). Y is the processed or dark-subtracted signal, else an intensity
// or counts column, else the raw signal, else the first other column. Rows
// whose chosen cells are empty are skipped; blank lines and lines that
// begin with '#', '%' or "//" are skipped anywhere. X runs ascending or
// descending.
ReadOutcome ReadDelimitedSpectrum(std::string_view text, double laserNm, const ColumnChoice& columns,
                                  InterchangeSpectrum& spectrum);
inline ReadOutcome ReadDelimitedSpectrum(std::string_view text, InterchangeSpectrum& spectrum) {
    return ReadDelimitedSpectrum(text, 0.0, ColumnChoice{}, spectrum);
}

// "raman_shift_cm-1,intensity" and one "x,y" line a point, each number the
// shortest text that reads back as the same float32. When the spectrum says
// anything of the measurement besides its title (operator, notes, date,
// instrument, laser, integration time, averages), "# Key: value" comment
// lines with the title and those facts come first.
std::string WriteCsvSpectrum(const InterchangeSpectrum& spectrum);

} // namespace veltrane
