#pragma once

#include <cstdint>
#include <string>

#include "interchange/spectrum.h"

namespace veltrane {

struct MeasurementSession;
struct DeviceInfo;

// The model code a spectrum from another program carries in its header:
// no instrument of ours, so the library chart draws all its X range.
constexpr std::uint16_t kForeignModelCode = 0xFFFF;
// The spectrum store and a PC library hold 2500 points.
constexpr std::size_t kMaxShownPoints = 2500;

// The spectrum as the store can hold it: unchanged up to 2500 points, else
// 2500 points evenly spaced over its X range (`resampled` says which).
InterchangeSpectrum FitForStore(const InterchangeSpectrum& spectrum, bool& resampled);

// Makes a foreign spectrum (at most 2500 points, X ascending) the shown
// spectrum as opening a raw file does: intensities and Raman shifts in the
// store, the whole spectrum as the file's window, `name` in the file header,
// so smoothing, markers and Make Library treat it like an opened raw file.
void ApplyInterchangeSpectrum(const InterchangeSpectrum& spectrum, const std::string& name, MeasurementSession& session,
                              DeviceInfo& device);

} // namespace veltrane
