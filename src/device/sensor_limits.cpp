#include "device/sensor_limits.h"

namespace veltrane {

namespace {
constexpr std::uint8_t kConverterBits = 16;
constexpr std::uint32_t kShortestAutoExposureMs = 10;
constexpr std::uint32_t kLongestAutoExposureMs = 60000;
} // namespace

SensorLimits SensorLimitsOf(std::uint8_t deviceType) {
    if (deviceType != 1 && deviceType != 179 && deviceType != 180) return {};
    return {kConverterBits, (1u << kConverterBits) - 1u, kShortestAutoExposureMs, kLongestAutoExposureMs};
}

} // namespace veltrane
