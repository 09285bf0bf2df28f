#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "measure/acquisition.h"

namespace veltrane {

struct MeasurementSession;
struct DeviceInfo;

// Result codes of the Capture checks; the last one set wins.
enum class CaptureCode : std::uint8_t {
    Start = 0,
    PreheatNotPositive = 1,
    AverageNotPositive = 2,
    PowerNotPositive = 3,
    PreheatTooShort = 4,
    NoDevice = 5,
    MeasureProcessing = 6,
    ExposureNegative = 7,
    ExposureTooLong = 8,
    DeviceNotSupported = 9,
};

// Longest integration time the program accepts, in ms: the wait for an
// exposure gives up after three times the exposure, and that time-out must
// still fit the 32-bit tick arithmetic. Weak samples legitimately need
// exposures of minutes; nothing shorter than this bound is refused.
constexpr std::uint32_t kMaxExposureMs = 0xFFFFFFFFu / 3;
constexpr std::uint16_t kMinPreheatMs = 20000;

const char* CaptureMessage(CaptureCode code);

// Told after a measurement whose laser the instrument would not switch off.
constexpr const char* kLaserOffFailedMessage = "Laser Off Fail!";

// The four parameter boxes and the dark tick box, as the user left them.
struct CaptureInputs {
    std::string exposure;
    std::string average;
    std::string preheat;
    std::string power;
    bool takeDark = true;
};

struct CaptureCheck {
    CaptureCode code = CaptureCode::Start;
    // Set when a box held no number: the conversion's message, shown instead
    // of the code's; the boxes before it are stored, the rest untouched.
    std::optional<std::string> conversionError;
};

// Reads the boxes into the measurement parameters (storing as it goes, each
// value narrowed to its field) and decides whether a measurement may start.
// The checks look at the narrowed value the worker will use: an average of
// 65536 is 0 frames. `workerBusy`: a measurement worker has not returned yet.
CaptureCheck CheckCapture(const CaptureInputs& inputs, MeasurementSession& session, const DeviceInfo& device,
                          bool workerBusy);

// A decimal number as typed, truncated toward zero; nullopt when the text is
// not a number.
std::optional<std::int64_t> ParseTruncatedDecimal(const std::string& text);
std::string FloatConversionError(const std::string& text);
std::string IntegerConversionError(const std::string& text);

// The measurement worker: dark, laser on, preheat, signal, laser off; with
// the automatic exposure (session.exposureMode) laser on, preheat, trial
// frames, signal, laser off, dark. A stop request ends it at its next wait
// with the laser off, puts the spectrum buffers back as they were before it
// and raises measureStopped (measureStatus 0). Stores measureState = 2 as its
// very last write.
void RunMeasurement(const AcquisitionContext& ctx);

constexpr const char* kMeasurementStoppedMessage = "Measurement stopped";

// The sensor classes the acquisition can read: the two large sensors and the
// 256-pixel class.
bool MeasurableDeviceType(std::uint8_t deviceType);

// Progress in percent for the bar while a measurement runs, from the
// worker's timing fields at tick `now`.
std::uint8_t MeasureProgressPercent(const MeasurementSession& session, std::uint32_t now);
// The phase of a running measurement for the status bar: "Dark 1/2, 24 s
// left", "Laser preheat 12 s", "Auto exposure trial 2/5", "Signal 2/2, 3 s
// left", then "Laser off".
std::string MeasurePhaseText(const MeasurementSession& session, std::uint32_t now);

// The average box's arrows: the value the box shows after a click, or the
// conversion message when the box holds no whole number.
struct StepResult {
    std::optional<std::string> text;
    std::optional<std::string> error;
};
StepResult StepAverage(const std::string& boxText, bool up);

} // namespace veltrane
