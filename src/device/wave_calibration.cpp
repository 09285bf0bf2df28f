#include "device/wave_calibration.h"

#include <algorithm>
#include <cmath>

#include "device/device_info.h"

namespace veltrane {

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
