#pragma once

#include <atomic>
#include <cstdint>

namespace veltrane {

struct MeasurementSession;
struct DeviceInfo;

class Clock;
class DeviceLink;

// What an acquisition works with. `stop` is raised when the program closes
// during a measurement: every wait then ends at its next step, so the worker
// can switch the laser off and return.
struct AcquisitionContext {
    DeviceLink& link;
    Clock& clock;
    MeasurementSession& session;
    const DeviceInfo& device;
    const std::atomic<bool>* stop = nullptr;
    bool stopRequested() const { return stop && stop->load(std::memory_order_acquire); }
};

// Result values of Acquire, as the measurement status uses them.
constexpr std::uint8_t kAcquireSucceeded = 1;
constexpr std::uint8_t kAcquireFailed = 3;

// Time-out and poll interval of one exposure, in ms.
std::uint32_t ExposureTimeout(std::uint32_t exposureMs);
std::uint32_t ExposurePollInterval(std::uint32_t exposureMs);

// Sleeps `ms` on the clock in steps short enough to notice a stop request;
// false when it was cut short.
bool SleepUnlessStopped(const AcquisitionContext& ctx, std::uint32_t ms);

// Starts one exposure and waits until the instrument reports it complete.
bool WaitForExposure(const AcquisitionContext& ctx, std::uint32_t exposureMs);
// Reads one frame and leaves its valid pixels in `signal`. False when a
// pixel block could not be read: a frame with a stale block is no frame.
bool ReadFrame(const AcquisitionContext& ctx);
// Averages `averageCount` frames into `destination` (signal or dark). With
// `clipped`, it is cleared and then marks the pixels that reached the
// converter's full scale in any of the frames.
std::uint8_t Acquire(const AcquisitionContext& ctx, float* destination, std::uint32_t exposureMs,
                     std::uint16_t averageCount, bool* clipped = nullptr);
bool SwitchLaser(const AcquisitionContext& ctx, bool on);

// Sends the laser's switch-off until the instrument confirms it, a few times
// at most. True when the laser is known off: confirmed, or the instrument is
// no longer attached (a replug powers it down). False means a present
// instrument kept refusing, and the user must be told.
constexpr int kLaserOffAttempts = 3;
bool SwitchLaserOff(const AcquisitionContext& ctx);

} // namespace veltrane
