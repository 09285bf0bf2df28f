#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "measure/raw_spectrum_file.h"
#include "measure/spectrum_header.h"

namespace veltrane {

// A spectrum against Raman shift in cm-1, as identification reads any of the
// program's files.
struct ShiftSpectrum {
    SpectrumHeader header;
    std::vector<double> shift;
    std::vector<double> intensity;
};

enum class SpectrumKind : std::uint8_t { Raw, PcLibrary, DeviceRecord };

enum class ShiftRead : std::uint8_t {
    Ok,
    UnknownFormat,  // no layout of the program has this size or frame length
    Damaged,        // the raw reader refused it
    WavelengthAxis, // a 256-pixel-class library whose X are in nm, with no laser wavelength to convert by
};
const char* ShiftReadReason(ShiftRead read);

// The layout is told by the size, as everywhere in the program: a device
// record is 5120 bytes, a PC library 20120, a raw file 140 + 8N. X is the
// raw file's Raman shift (10^7 / laser - wavenumber) over its window, a PC
// library's X values, a device record's X / 10; points the instrument does
// not have (X = 0 in a library) are left out.
ShiftRead ReadShiftSpectrum(std::string_view bytes, ShiftSpectrum& out, SpectrumKind* kind = nullptr);

// The Raman shifts of a raw file record over its window.
void ShiftSpectrumFromRaw(const RawFileRecord& record, ShiftSpectrum& out);

// Whether a library's model code is of the 256-pixel class, whose libraries
// hold wavelengths when made without a calibration.
bool IsSmallSensorModelCode(std::uint16_t code);

// Whether a library of that model code holds wavelengths in nm rather than
// Raman shifts (one made from a capture by an earlier version).
bool LibraryHoldsWavelengths(std::uint16_t modelCode, const std::vector<float>& axis);

} // namespace veltrane
