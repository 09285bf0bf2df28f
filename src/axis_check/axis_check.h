#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "axis_check/reference_standards.h"
#include "device/axis_correction.h"

namespace veltrane {

struct AxisCheckSettings {
    double searchWindow = 15.0; // cm-1 either side of a reference band
    double tolerance = 1.5;     // the largest deviation a pass allows, cm-1
};

enum class BandOutcome : std::uint8_t { Found, Missing, Saturated, Overlapped, OutsideSpectrum };

// "missing", "saturated", "overlapped", "outside the spectrum".
const char* BandOutcomeText(BandOutcome outcome);

struct BandCheck {
    double reference = 0.0;
    double weight = 1.0;
    BandOutcome outcome = BandOutcome::Missing;
    double found = 0.0;     // when Found
    double deviation = 0.0; // found - reference, when Found
};

// Fewer bands found than this and the check says nothing.
constexpr std::size_t kMinBandsForCheck = 4;

struct AxisCheck {
    std::string standard;
    std::vector<BandCheck> bands;
    std::size_t found = 0;
    bool enoughBands = false;
    double offset = 0.0;  // weighted mean deviation, cm-1
    double rms = 0.0;     // root mean square deviation
    double largest = 0.0; // the deviation of largest size, with its sign
    double spread = 0.0;  // standard deviation of the deviations about the offset: a drifted axis moves
                          // every band alike, another material's bands scatter
    double tolerance = 0.0;
    bool pass = false; // enough bands and |largest| within the tolerance
};

// Finds each reference band of `standard` in the spectrum (shift ascending
// or not, intensity as measured: a background is allowed) and compares.
// `saturation`, when given, is the intensity at which the converter clips;
// a band reaching it is skipped.
AxisCheck CheckAxis(std::span<const double> shift, std::span<const double> intensity, const ReferenceStandard& standard,
                    const AxisCheckSettings& settings = {}, std::optional<double> saturation = std::nullopt);

// The position of the band nearest `reference` within the window, to a
// fraction of a pixel, or why there is none. Exposed for tests.
BandOutcome LocateBand(std::span<const double> shift, std::span<const double> intensity, double reference,
                       double window, double noise, std::optional<double> saturation, double& position);

// The noise of a spectrum: the robust spread of its second differences,
// which neither a smooth background nor a band a few pixels wide moves much.
double NoiseLevel(std::span<const double> intensity);

// The correction of the axis that best explains the check's deviations
// (see AxisCorrection for the two kinds).
std::optional<AxisCorrection> FitAxisCorrection(const AxisCheck& check, double laserNm);

} // namespace veltrane
