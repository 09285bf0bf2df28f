#pragma once

#include <string>
#include <utility>
#include <vector>

namespace veltrane {

// A spectrum as it comes from or goes to another program's file: X in Raman
// shift (cm-1), one intensity per X. The readers give X ascending; the
// writers take the points in the order they are given.
struct InterchangeSpectrum {
    std::vector<float> x;
    std::vector<float> y;
    std::string title;
    // What the file says about the measurement, where it says it: 0 or
    // empty when it does not. `fields` keeps every key and value of the
    // file's header block as written (entities decoded), in file order.
    double laserNm = 0.0;
    double integrationMs = 0.0;
    std::string date;
    std::string instrument; // model or name of the instrument
    std::string serial;
    // Who measured, what they noted (any number of lines) and how many
    // frames were averaged (0: not said).
    std::string operatorName;
    std::string notes;
    int averages = 0;
    // The unit of the intensities as the file names it ("COUNTS",
    // "ABSORBANCE"); empty when it names none.
    std::string yUnits;
    std::vector<std::pair<std::string, std::string>> fields;
};

// What a reader made of a file. On refusal `message` says why and the
// spectrum passed in is left as it was. `notice` tells of something read
// but worth saying (only the first spectrum of several was taken).
// `needsLaser`: the X axis is in wavelengths and a laser wavelength is
// needed to make Raman shifts of it; read again with one.
struct ReadOutcome {
    bool ok = false;
    bool needsLaser = false;
    std::string message;
    std::string notice;
    // A table of named columns: the names, and whether the choice of X and
    // Y was a guess (no column named as a Raman shift or wavelength, or
    // several intensity columns of the same kind) that a person may want
    // to make instead.
    std::vector<std::string> columns;
    bool columnsUnclear = false;
    // Of a table read: how many columns its rows have and which two were
    // taken (0-based), so that a person asked to choose sees the guess.
    std::size_t columnCount = 0;
    std::size_t xColumn = 0;
    std::size_t yColumn = 0;
};

// More points than any spectrum a person brings is likely to hold; a file
// that claims more is refused before anything of that size is allocated.
constexpr std::size_t kMaxInterchangePoints = 1u << 22;
// Values are kept as float32: a larger magnitude is refused, not made infinite.
constexpr double kMaxMagnitude = 3.0e38;

// X of point i of n running evenly from `first` to `last`: the one formula
// every reader and writer of evenly spaced data uses, so that what one
// writes the others read back to the same float32.
double EvenX(double first, double last, std::size_t n, std::size_t i);

// Whether X runs evenly from its first to its last value within `tolerance`
// times the step; with 0, whether EvenX gives every X back exactly.
bool EvenlySpaced(const std::vector<float>& x, double tolerance = 0.0);

// `count` points evenly spaced over the spectrum's X range, each intensity
// interpolated on the straight line between its neighbours; the title and
// facts stay as they were.
InterchangeSpectrum ResampledEvenly(const InterchangeSpectrum& spectrum, std::size_t count);

// Whether intensities in `yUnits` may be those of a Raman spectrum: none
// named, counts, intensity or arbitrary units. Absorbance, transmittance
// and the like belong to other kinds of spectroscopy.
bool RamanIntensityUnits(const std::string& yUnits);

// Raman shift of an absolute wavelength in nm for a laser line in nm.
double RamanShiftOfWavelength(double nm, double laserNm);

} // namespace veltrane
