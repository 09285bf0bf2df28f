#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace veltrane {

struct SpectrumStore;
struct RawFileRecord;

// Said beside a capture with clipped pixels, and above an identification of
// such a spectrum.
std::string SaturationWarning(std::size_t pixels); // "Saturated: N pixels — reduce Int.time"
constexpr const char* kSaturatedIdentifyWarning = "Saturated spectrum: the result may be wrong";

// Marks in `clipped` every one of the first `count` frame values (raw
// counts, before any dark is subtracted) that lies at `fullScale`; marks
// already set stay set, so the frames of an average add up. `fullScale` 0
// (a sensor the program does not know) marks nothing.
void MarkClippedPixels(const float* frame, std::size_t count, std::uint32_t fullScale, bool* clipped);

// The pixels of the shown spectrum that reached full scale (see
// SpectrumStore::clipped), among the first `pixelCount`.
std::size_t SaturatedPixelCount(const SpectrumStore& spectrum, std::uint16_t pixelCount);

// The same for a raw spectrum file as read. The file keeps only the
// dark-corrected intensities, so a pixel counts as clipped when its
// intensity lies within a dark level of full scale: a clipped pixel keeps
// full scale minus its dark, and the dark of these sensors stays well below
// a sixteenth of full scale. A file whose model code names no known sensor
// counts none.
std::size_t SaturatedPixelCount(const RawFileRecord& record);
// Marks the clipped pixels of a raw file, as counted above, in `clipped`.
void MarkClippedPixels(const RawFileRecord& record, bool* clipped);

} // namespace veltrane
