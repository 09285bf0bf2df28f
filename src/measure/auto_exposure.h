#pragma once

#include <cstdint>

#include "measure/acquisition.h"

namespace veltrane {

constexpr double kDefaultExposureTarget = 0.7;
constexpr int kMaxExposureTrials = 5;
// The first trial frame: short enough that even a strong scatterer does not
// clip, long enough to lift a weak one above the read noise.
constexpr std::uint32_t kFirstTrialExposureMs = 100;
// A strongest pixel within this share of full scale of the target ends the trials.
constexpr double kExposureTolerance = 0.05;

struct ExposureChoice {
    bool ok = false;              // false: a trial frame failed or a stop was asked for
    std::uint32_t exposureMs = 0; // the chosen integration time
    int trials = 0;               // trial frames taken
};

// Chooses the integration time that brings the strongest pixel of a frame
// to `target` (a fraction of the converter's full scale), within the
// sensor's limits (SensorLimitsOf), from at most kMaxExposureTrials short
// trial frames. The laser must be on and preheated: the trials are frames
// of the sample as the signal will see it. Each trial leaves its frame in
// `signal` and counts itself in the progress's frame field.
ExposureChoice ChooseExposure(const AcquisitionContext& ctx, double target = kDefaultExposureTarget);

} // namespace veltrane
