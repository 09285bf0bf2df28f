#include "measure/auto_exposure.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "device/device_info.h"
#include "device/sensor_limits.h"
#include "measure/measurement_session.h"

namespace veltrane {

namespace {
// How far one trial may move the next: a first estimate from a frame that
// barely rose above the bias is rough, and a long overshoot costs time.
constexpr double kMaxStepUp = 20.0;
constexpr double kStepDownAfterClip = 10.0;

struct Trial {
    double exposureMs;
    double peak;
};

double Peak(const SpectrumStore& spectrum, std::uint32_t count) {
    return *std::max_element(spectrum.signal.begin(), spectrum.signal.begin() + count);
}
} // namespace

ExposureChoice ChooseExposure(const AcquisitionContext& ctx, double target) {
    ExposureChoice choice;
    const SensorLimits limits = SensorLimitsOf(ctx.device.deviceType);
    const std::uint32_t count = std::min<std::uint32_t>(ctx.device.pixelCount, kMaxPixels);
    if (limits.fullScale == 0 || count == 0) return choice;
    const double fullScale = limits.fullScale;
    const double goal = std::clamp(target, 0.0, 1.0) * fullScale;
    const double shortest = limits.minExposureMs;
    const double longest = limits.maxExposureMs;
    auto clampTime = [&](double ms) { return std::clamp(std::round(ms), shortest, longest); };

    double exposure = clampTime(kFirstTrialExposureMs);
    std::optional<Trial> unclipped; // the last trial that did not clip
    for (int trial = 1; trial <= kMaxExposureTrials; ++trial) {
        ctx.session.progress.frame.store(static_cast<std::uint16_t>(trial), std::memory_order_relaxed);
        const auto ms = static_cast<std::uint32_t>(exposure);
        if (!WaitForExposure(ctx, ms) || !ReadFrame(ctx)) return choice;
        choice.trials = trial;
        const double peak = Peak(ctx.session.spectrum, count);
        double next;
        if (peak >= fullScale) {
            // A clipped frame tells only that the time was too long. An
            // earlier trial that did not clip gives a time that cannot: its
            // whole reading taken as light.
            next = exposure / kStepDownAfterClip;
            if (unclipped && unclipped->exposureMs < exposure && unclipped->peak > 0.0)
                next = std::min(std::max(next, unclipped->exposureMs * goal / unclipped->peak), exposure / 2.0);
            if (exposure <= shortest) {
                choice.exposureMs = ms;
                choice.ok = true;
                return choice;
            }
        } else {
            if (std::abs(peak - goal) <= kExposureTolerance * fullScale) {
                choice.exposureMs = ms;
                choice.ok = true;
                return choice;
            }
            // The strongest pixel grows in proportion to the time above the
            // converter's bias. Two trials give both; from one, taking the
            // whole reading as light overrates the light and so undershoots,
            // which the next trial corrects without ever clipping.
            double rate = peak / exposure;
            double bias = 0.0;
            if (unclipped && unclipped->exposureMs != exposure) {
                double twoPointRate = (peak - unclipped->peak) / (exposure - unclipped->exposureMs);
                if (twoPointRate > 0.0) {
                    rate = twoPointRate;
                    bias = peak - rate * exposure;
                }
            }
            next = rate > 0.0 ? (goal - bias) / rate : exposure * kMaxStepUp;
            unclipped = Trial{exposure, peak};
            // Even the longest time stays below the goal: no trial needed
            // to know that it is the one.
            if (next >= longest && bias + rate * longest <= goal) {
                choice.exposureMs = static_cast<std::uint32_t>(longest);
                choice.ok = true;
                return choice;
            }
            next = std::min(next, exposure * kMaxStepUp);
        }
        next = clampTime(next);
        if (next == exposure) break; // pinned at a limit
        exposure = next;
    }
    choice.exposureMs = static_cast<std::uint32_t>(exposure);
    choice.ok = true;
    return choice;
}

} // namespace veltrane
