#include "measure/acquisition.h"

#include <algorithm>
#include <array>

#include "device/device_info.h"
#include "device/device_link.h"
#include "device/sensor_limits.h"
#include "measure/measurement_session.h"
#include "measure/saturation.h"
#include "platform/clock.h"

namespace veltrane {

namespace {
constexpr std::uint32_t kFrameBufferValues = 2600;
constexpr std::uint32_t kBlockPixels = 1024;
constexpr std::uint32_t kSmallSensorPixels = 256;
// Longest single sleep between looks at the stop request.
constexpr std::uint32_t kStopCheckMs = 50;
} // namespace

std::uint32_t ExposureTimeout(std::uint32_t exposureMs) {
    return exposureMs < 2000 ? 6000u : 3u * exposureMs;
}

std::uint32_t ExposurePollInterval(std::uint32_t exposureMs) {
    auto quarter = static_cast<std::uint16_t>(exposureMs / 4);
    return std::min<std::uint32_t>(quarter, 200);
}

bool SleepUnlessStopped(const AcquisitionContext& ctx, std::uint32_t ms) {
    while (ms > 0) {
        if (ctx.stopRequested()) return false;
        std::uint32_t step = std::min(ms, kStopCheckMs);
        ctx.clock.sleep(step);
        ms -= step;
    }
    return !ctx.stopRequested();
}

bool WaitForExposure(const AcquisitionContext& ctx, std::uint32_t exposureMs) {
    std::uint32_t timeout = ExposureTimeout(exposureMs);
    // A zero interval would poll the bus without pause; one millisecond is the
    // shortest step the clock has.
    std::uint32_t interval = std::max<std::uint32_t>(ExposurePollInterval(exposureMs), 1);
    if (!ctx.link.CountDevices()) return false;
    std::uint32_t t0 = ctx.clock.tickCount();
    ctx.link.StartExposure(exposureMs);
    if (!SleepUnlessStopped(ctx, exposureMs / 2)) return false;
    std::uint32_t now = t0;
    while (TicksSince(t0, now) < timeout) {
        if (ctx.link.PollState() == wire::kReadyState) return true;
        if (!SleepUnlessStopped(ctx, interval)) return false;
        now = ctx.clock.tickCount();
    }
    return false;
}

bool ReadFrame(const AcquisitionContext& ctx) {
    MeasurementSession& session = ctx.session;
    const DeviceInfo& device = ctx.device;
    std::array<std::uint16_t, kBlockPixels> block{};
    if (device.deviceType == 179 || device.deviceType == 180) {
        std::uint32_t total = std::min<std::uint32_t>(device.pixelTotal, kFrameBufferValues);
        std::array<std::uint16_t, kFrameBufferValues> frame{};
        std::uint32_t blocks = total / kBlockPixels + (total % kBlockPixels != 0 ? 1 : 0);
        for (std::uint32_t b = 0; b < blocks; ++b) {
            if (!ctx.link.ReadPixelBlock(kBlockPixels, static_cast<std::uint16_t>(b))) return false;
            std::uint32_t n = std::min(kBlockPixels, total - b * kBlockPixels);
            ctx.link.pixelValues(block.data(), n);
            std::copy_n(block.begin(), n, frame.begin() + b * kBlockPixels);
        }
        session.spectrum.signal.fill(0.0f);
        // Identification refused any geometry that would reach past the frame.
        std::uint32_t count = std::min<std::uint32_t>(device.pixelCount, kMaxPixels);
        for (std::uint32_t i = 0; i < count && device.pixelFirst + i < total; ++i)
            session.spectrum.signal[i] = static_cast<float>(frame[device.pixelFirst + i]);
        return true;
    }
    if (device.deviceType == 1) {
        if (!ctx.link.ReadPixelBlock(kSmallSensorPixels, 0)) return false;
        ctx.link.pixelValues(block.data(), kSmallSensorPixels);
        for (std::uint32_t i = 0; i < kSmallSensorPixels; ++i)
            session.spectrum.signal[i] = static_cast<float>(block[i]);
        return true;
    }
    return true; // nothing to read from a sensor the program does not know
}

std::uint8_t Acquire(const AcquisitionContext& ctx, float* destination, std::uint32_t exposureMs,
                     std::uint16_t averageCount, bool* clipped) {
    MeasurementSession& session = ctx.session;
    const DeviceInfo& device = ctx.device;
    std::array<float, kMaxPixels> accumulator{};
    std::uint32_t count = std::min<std::uint32_t>(device.pixelCount, kMaxPixels);
    bool known = device.deviceType == 1 || device.deviceType == 179 || device.deviceType == 180;
    float divisor = static_cast<float>(averageCount);
    const std::uint32_t fullScale = SensorLimitsOf(device.deviceType).fullScale;
    if (clipped) std::fill_n(clipped, count, false);
    std::uint32_t t0 = ctx.clock.tickCount();
    for (std::uint32_t k = 0; k < averageCount; ++k) {
        session.progress.frame.store(static_cast<std::uint16_t>(k + 1), std::memory_order_relaxed);
        if (!WaitForExposure(ctx, exposureMs)) return kAcquireFailed;
        if (k == 0) {
            std::uint32_t elapsed = TicksSince(t0, ctx.clock.tickCount());
            std::uint8_t step = session.progress.measureStep.load(std::memory_order_relaxed);
            if (step == 0) session.progress.firstDarkMs.store(elapsed, std::memory_order_relaxed);
            if (step == 2) session.progress.firstSignalMs.store(elapsed, std::memory_order_relaxed);
        }
        if (!ReadFrame(ctx)) return kAcquireFailed;
        if (known && clipped) MarkClippedPixels(session.spectrum.signal.data(), count, fullScale, clipped);
        if (known) {
            // Each frame is divided by the count before it is added, in single
            // precision, as the instrument's averaging has always done.
            for (std::uint32_t i = 0; i < count; ++i)
                accumulator[i] += session.spectrum.signal[i] / divisor;
        }
        if (k + 1 == averageCount) std::copy_n(accumulator.begin(), count, destination);
    }
    return kAcquireSucceeded;
}

bool SwitchLaser(const AcquisitionContext& ctx, bool on) {
    return ctx.link.SetLaser(on ? 1 : 0, 0);
}

bool SwitchLaserOff(const AcquisitionContext& ctx) {
    for (int attempt = 0; attempt < kLaserOffAttempts; ++attempt) {
        if (SwitchLaser(ctx, false)) return true;
        // Unplugged: the instrument loses its power and the laser with it.
        if (!ctx.link.CountDevices()) return true;
    }
    return false;
}

} // namespace veltrane
