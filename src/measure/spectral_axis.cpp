#include "measure/spectral_axis.h"

#include <algorithm>
#include <cmath>

#include "device/device_info.h"
#include "measure/measurement_session.h"
#include "measure/spectrum_store.h"

namespace veltrane {

namespace {

// Coefficients formed as mantissa times a power of ten, as the sensor's data
// sheet gives them.
constexpr double kSmallSensor[6] = {3.23124139860483e2,   2.3858233731047,     -0.867423647505312e-3,
                                    -5.50503390300192e-6, 4.51235935677212e-9, 7.35313283236453e-12};

} // namespace

double SmallSensorPolynomial(int pixel) {
    double x = pixel;
    double value = kSmallSensor[5];
    for (int k = 4; k >= 0; --k)
        value = value * x + kSmallSensor[k];
    return value;
}

void ComputeSpectralAxis(SpectrumStore& spectrum, const DeviceInfo& device, float laserWavelength) {
    SpectrumStore& s = spectrum;
    float laser = laserWavelength == 0.0f ? kDefaultLaserNm : laserWavelength;
    float kL = static_cast<float>(1e7 / static_cast<double>(laser));
    int count = std::min<int>(device.pixelCount, static_cast<int>(kMaxPixels));
    s.windowFirst = 0;

    if (device.deviceType == 1) {
        for (int i = 0; i < count; ++i)
            s.axis[i] = static_cast<float>(SmallSensorPolynomial(i));
        s.windowEnd = static_cast<std::uint16_t>(count);
    } else if (IsLargeSensorType(device.deviceType)) {
        bool startFound = false;
        bool endFound = false;
        for (int i = 0; i < count; ++i) {
            s.axis[i] = static_cast<float>(CalibrationPolynomial(device.waveCal, i));
            double shift = static_cast<double>(kL) - 1e7 / static_cast<double>(s.axis[i]);
            if (!startFound && shift >= device.displayLow) {
                startFound = true;
                s.windowFirst = static_cast<std::uint16_t>(i > 0 ? i - 1 : 0);
            }
            if (shift <= device.displayHigh) {
                endFound = true;
                s.windowEnd = static_cast<std::uint16_t>(std::min(i + 2, count));
            }
        }
        // No pixel at or below the display high: rather than keep an end left
        // over from another device, draw the whole sensor.
        if (!endFound || !device.waveCalValid) {
            s.windowFirst = device.waveCalValid ? s.windowFirst : 0;
            s.windowEnd = static_cast<std::uint16_t>(count);
        }
    } else {
        return; // a sensor the program cannot measure with keeps its axis
    }

    if (device.waveCalValid) {
        for (int i = 0; i < count; ++i) {
            double shift = static_cast<double>(kL) - 1e7 / static_cast<double>(s.axis[i]);
            if (device.axisCorrection) shift = CorrectedShift(*device.axisCorrection, shift);
            s.axis[i] = static_cast<float>(shift);
        }
    }
}

bool RefreshSpectralAxis(SpectrumStore& spectrum, const DeviceInfo& device) {
    ComputeSpectralAxis(spectrum, device, device.laserWavelength);
    return device.waveCalValid;
}

const char* SpectrumXAxisCaption(const MeasurementSession& session, const DeviceInfo& device) {
    if (session.spectrum.haveFileData || device.waveCalValid) return "Ramanshift(cm-1)";
    return device.deviceType == 1 ? "Wavelength(nm)" : "Pixel";
}

} // namespace veltrane
