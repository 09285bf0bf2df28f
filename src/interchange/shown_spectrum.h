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

// Makes a foreign spectrum (X ascending, any number of points) the shown
// spectrum as opening a raw file does: every point kept at its own
// resolution for the chart, and in the store and the file record the same
// spectrum as FitForStore gives it, with the whole of it as the file's
// window and `name` in the file header, so smoothing, markers and Make
// Library treat it like an opened raw file. True when the store's copy had
// to be resampled: a library entry made from it holds fewer points than
// were opened.
bool ApplyInterchangeSpectrum(const InterchangeSpectrum& spectrum, const std::string& name, MeasurementSession& session,
                              DeviceInfo& device);

} // namespace veltrane
