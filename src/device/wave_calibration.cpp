#include "device/wave_calibration.h"

#include <algorithm>
#include <cmath>

#include "device/device_info.h"

namespace veltrane {

bool IsLargeSensorType(std::uint8_t type) {
    return type == 179 || type == 180;
}

double CalibrationPolynomial(const std::array<float, 6>& c, int i) {
    double x = i;
    return static_cast<double>(c[0]) + static_cast<double>(c[1]) * x + static_cast<double>(c[2]) * x * x +
           static_cast<double>(c[3]) * x * x * x + static_cast<double>(c[4]) * x * x * x * x;
}

bool CalibratedAxisUsable(const DeviceInfo& device) {
    if (!IsLargeSensorType(device.deviceType)) return true;
    float laser = device.laserWavelength == 0.0f ? kDefaultLaserNm : device.laserWavelength;
    float kL = static_cast<float>(1e7 / static_cast<double>(laser));
    int count = std::min<int>(device.pixelCount, static_cast<int>(kMaxPixels));
    float previous = 0.0f;
    int direction = 0;
    for (int i = 0; i < count; ++i) {
        float lambda = static_cast<float>(CalibrationPolynomial(device.waveCal, i));
        float shift = static_cast<float>(static_cast<double>(kL) - 1e7 / static_cast<double>(lambda));
        if (!std::isfinite(lambda) || !std::isfinite(shift)) return false;
        if (i > 0) {
            if (shift == previous) return false;
            int step = shift > previous ? 1 : -1;
            if (direction != 0 && step != direction) return false;
            direction = step;
        }
        previous = shift;
    }
    return true;
}

} // namespace veltrane
