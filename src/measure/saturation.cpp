#include "measure/saturation.h"

#include <algorithm>

#include "device/sensor_limits.h"
#include "measure/raw_spectrum_file.h"
#include "measure/spectrum_store.h"

namespace veltrane {

namespace {
// How far below full scale a dark-corrected intensity may lie and still be
// taken for a clipped pixel, as a share of full scale.
constexpr std::uint32_t kDarkShareDivisor = 16;

std::uint32_t RawFileFullScale(const RawFileRecord& record) {
    std::uint16_t model = record.header.modelCode();
    return model > 0xFF ? 0u : SensorLimitsOf(static_cast<std::uint8_t>(model)).fullScale;
}
} // namespace

std::string SaturationWarning(std::size_t pixels) {
    return "Saturated: " + std::to_string(pixels) + (pixels == 1 ? " pixel" : " pixels") +
           " \xE2\x80\x94 reduce Int.time";
}

void MarkClippedPixels(const float* frame, std::size_t count, std::uint32_t fullScale, bool* clipped) {
    if (fullScale == 0) return;
    const float top = static_cast<float>(fullScale);
    for (std::size_t i = 0; i < count; ++i)
        if (frame[i] >= top) clipped[i] = true;
}

std::size_t SaturatedPixelCount(const SpectrumStore& spectrum, std::uint16_t pixelCount) {
    std::size_t count = std::min<std::size_t>(pixelCount, spectrum.clipped.size());
    return static_cast<std::size_t>(std::count(spectrum.clipped.begin(), spectrum.clipped.begin() + count, true));
}

void MarkClippedPixels(const RawFileRecord& record, bool* clipped) {
    const std::uint32_t fullScale = RawFileFullScale(record);
    if (fullScale == 0) return;
    const float threshold = static_cast<float>(fullScale - fullScale / kDarkShareDivisor);
    const std::size_t count = std::min<std::size_t>(RawFilePixelCount(record.frameLength), record.intensities.size());
    for (std::size_t i = 0; i < count; ++i)
        if (record.intensities[i] >= threshold) clipped[i] = true;
}

std::size_t SaturatedPixelCount(const RawFileRecord& record) {
    std::array<bool, kMaxRawFrame> clipped{};
    MarkClippedPixels(record, clipped.data());
    return static_cast<std::size_t>(std::count(clipped.begin(), clipped.end(), true));
}

} // namespace veltrane
