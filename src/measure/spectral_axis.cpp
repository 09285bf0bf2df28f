#include "measure/spectral_axis.h"

#include <algorithm>
#include <cmath>

#include "app/program_state.h"

namespace veltrane {

namespace {

// Coefficients formed as mantissa times a power of ten, as the sensor's data
// sheet gives them.
constexpr double kSmallSensor[6] = {3.23124139860483e2,  2.3858233731047,     -0.867423647505312e-3,
                                    -5.50503390300192e-6, 4.51235935677212e-9, 7.35313283236453e-12};

bool IsLargeSensor(std::uint8_t type) { return type == 179 || type == 180; }

double Polynomial(const std::array<float, 6>& c, int i) {
    double x = i;
    return static_cast<double>(c[0]) + static_cast<double>(c[1]) * x + static_cast<double>(c[2]) * x * x +
           static_cast<double>(c[3]) * x * x * x + static_cast<double>(c[4]) * x * x * x * x;
}

} // namespace

double SmallSensorPolynomial(int pixel) {
    double x = pixel;
    double value = kSmallSensor[5];
    for (int k = 4; k >= 0; --k) value = value * x + kSmallSensor[k];
    return value;
}

void ComputeSpectralAxis(ProgramState& state, float laserWavelength) {
    SpectrumStore& s = state.spectrum;
    float laser = laserWavelength == 0.0f ? kDefaultLaserNm : laserWavelength;
    float kL = static_cast<float>(1e7 / static_cast<double>(laser));
    int count = std::min<int>(state.pixelCount, static_cast<int>(kMaxPixels));
    s.windowFirst = 0;

    if (state.deviceType == 1) {
        for (int i = 0; i < count; ++i) s.axis[i] = static_cast<float>(SmallSensorPolynomial(i));
        s.windowEnd = static_cast<std::uint16_t>(count);
    } else if (IsLargeSensor(state.deviceType)) {
        bool startFound = false;
        bool endFound = false;
        for (int i = 0; i < count; ++i) {
            s.axis[i] = static_cast<float>(Polynomial(state.waveCal, i));
            double shift = static_cast<double>(kL) - 1e7 / static_cast<double>(s.axis[i]);
            if (!startFound && shift >= state.displayLow) {
                startFound = true;
                s.windowFirst = static_cast<std::uint16_t>(i > 0 ? i - 1 : 0);
            }
            if (shift <= state.displayHigh) {
                endFound = true;
                s.windowEnd = static_cast<std::uint16_t>(std::min(i + 2, count));
            }
        }
        // No pixel at or below the display high: rather than keep an end left
        // over from another device, draw the whole sensor.
        if (!endFound || !state.waveCalValid) {
            s.windowFirst = state.waveCalValid ? s.windowFirst : 0;
            s.windowEnd = static_cast<std::uint16_t>(count);
        }
    } else {
        return; // a sensor the program cannot measure with keeps its axis
    }

    if (state.waveCalValid) {
        for (int i = 0; i < count; ++i)
            s.axis[i] = static_cast<float>(static_cast<double>(kL) - 1e7 / static_cast<double>(s.axis[i]));
    }
}

bool CalibratedAxisUsable(const ProgramState& state) {
    if (!IsLargeSensor(state.deviceType)) return true;
    float laser = state.laserWavelength == 0.0f ? kDefaultLaserNm : state.laserWavelength;
    float kL = static_cast<float>(1e7 / static_cast<double>(laser));
    int count = std::min<int>(state.pixelCount, static_cast<int>(kMaxPixels));
    float previous = 0.0f;
    int direction = 0;
    for (int i = 0; i < count; ++i) {
        float lambda = static_cast<float>(Polynomial(state.waveCal, i));
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

bool RefreshSpectralAxis(ProgramState& state) {
    ComputeSpectralAxis(state, state.laserWavelength);
    return state.waveCalValid;
}

} // namespace veltrane
