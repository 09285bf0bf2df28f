#include "measure/measurement.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "device/device_connection.h"
#include "device/device_info.h"
#include "measure/auto_exposure.h"
#include "measure/measurement_session.h"
#include "measure/spectral_axis.h"
#include "platform/clock.h"
#include "platform/ini_file.h"

namespace veltrane {

const char* CaptureMessage(CaptureCode code) {
    switch (code) {
    case CaptureCode::PreheatNotPositive:
        return "Preheat can not be zero or negative number!";
    case CaptureCode::AverageNotPositive:
        return "Average can not be zero or negative number!";
    case CaptureCode::PowerNotPositive:
        return "Laser Power can not be zero or negative number!";
    case CaptureCode::PreheatTooShort:
        return "Preheat can not lower than 20000ms!";
    case CaptureCode::NoDevice:
        return "No Device!";
    case CaptureCode::MeasureProcessing:
        return "Measure Processing!";
    case CaptureCode::ExposureNegative:
        return "Int.time can not be negative number!";
    case CaptureCode::ExposureTooLong:
        return "Int.time can not be over 1431655765ms!";
    case CaptureCode::DeviceNotSupported:
        return kDeviceRefusedMessage;
    case CaptureCode::Start:
        break;
    }
    return "";
}

std::optional<std::int64_t> ParseTruncatedDecimal(const std::string& text) {
    std::size_t start = text.find_first_not_of(" \t");
    std::size_t end = text.find_last_not_of(" \t");
    if (start == std::string::npos) return std::nullopt;
    std::string body = text.substr(start, end - start + 1);
    // Only plain decimal notation: no hex, no "inf" or "nan".
    for (char c : body)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return std::nullopt;
    errno = 0;
    char* stop = nullptr;
    double value = std::strtod(body.c_str(), &stop);
    if (stop != body.c_str() + body.size() || errno == ERANGE || !std::isfinite(value)) return std::nullopt;
    value = std::trunc(value);
    if (value > 9.0e18 || value < -9.0e18) return std::nullopt;
    return static_cast<std::int64_t>(value);
}

namespace {
// Built by appending: GCC 12 warns wrongly about "'" + string + "...".
std::string Quoted(const std::string& text, const char* rest) {
    std::string message(1, '\'');
    message.append(text);
    message.push_back('\'');
    message.append(rest);
    return message;
}
} // namespace

std::string FloatConversionError(const std::string& text) {
    return Quoted(text, " is not a valid floating point value");
}

std::string IntegerConversionError(const std::string& text) {
    return Quoted(text, " is not a valid integer value");
}

CaptureCheck CheckCapture(const CaptureInputs& inputs, MeasurementSession& session, const DeviceInfo& device,
                          bool workerBusy) {
    CaptureCheck result;
    if (MeasurementBusy(session) || workerBusy) {
        result.code = CaptureCode::MeasureProcessing;
        return result;
    }
    MeasureParams& params = session.measureParams;
    auto read = [&](const std::string& text) {
        auto value = ParseTruncatedDecimal(text);
        if (!value) result.conversionError = FloatConversionError(text);
        return value;
    };

    auto exposure = read(inputs.exposure);
    if (!exposure) return result;
    // A negative exposure would become a time of weeks in the 32-bit field;
    // 0 is a real exposure (the first poll comes at once).
    if (*exposure < 0)
        result.code = CaptureCode::ExposureNegative;
    else if (*exposure > kMaxExposureMs)
        result.code = CaptureCode::ExposureTooLong;
    else
        params.exposureMs = static_cast<std::uint32_t>(*exposure);

    params.takeDark = inputs.takeDark;

    auto preheat = read(inputs.preheat);
    if (!preheat) return result;
    if (*preheat <= 0)
        result.code = CaptureCode::PreheatNotPositive;
    else
        params.preheatMs = static_cast<std::uint16_t>(*preheat);

    auto average = read(inputs.average);
    if (!average) return result;
    // 65536 frames is 0 in the 16-bit field: the worker would average
    // nothing and report an empty spectrum as measured.
    if (*average <= 0 || static_cast<std::uint16_t>(*average) == 0)
        result.code = CaptureCode::AverageNotPositive;
    else
        params.averageCount = static_cast<std::uint16_t>(*average);

    auto power = read(inputs.power);
    if (!power) return result;
    if (*power <= 0 || static_cast<std::uint8_t>(*power) == 0)
        result.code = CaptureCode::PowerNotPositive;
    else
        params.laserPower = static_cast<std::uint8_t>(*power);

    if (params.preheatMs < kMinPreheatMs) result.code = CaptureCode::PreheatTooShort;
    bool connected = device.deviceState == DeviceConnection::Connected;
    // Nothing can be read from a sensor the program does not know; the laser
    // would burn through the preheat for an empty spectrum.
    if (connected && !MeasurableDeviceType(device.deviceType)) result.code = CaptureCode::DeviceNotSupported;
    if (!connected) result.code = CaptureCode::NoDevice;
    return result;
}

bool MeasurableDeviceType(std::uint8_t deviceType) {
    return deviceType == 1 || deviceType == 179 || deviceType == 180;
}

namespace {

// Dark, laser on, preheat, signal, laser off, as the instrument has always
// measured.
std::uint8_t MeasureDarkFirst(const AcquisitionContext& ctx, const MeasureParams& params, bool& laserOffFailed) {
    MeasurementSession& session = ctx.session;
    const DeviceInfo& device = ctx.device;
    MeasureProgress& progress = session.progress;
    std::uint8_t result = kAcquireSucceeded;
    if (params.takeDark) result = Acquire(ctx, session.spectrum.dark.data(), params.exposureMs, params.averageCount);
    if (result != kAcquireSucceeded) {
        // The laser was never switched on.
        session.measureStatus.store(3, std::memory_order_relaxed);
        // The dark's frames went through `signal`, so a raw file's spectrum
        // shown before may be overwritten: it must not be saved or made a
        // library as the file's, nor its Raman shifts stay the axis.
        if (session.spectrum.haveFileData) {
            ComputeSpectralAxis(session.spectrum, device, device.laserWavelength);
            session.spectrum.haveFileData = false;
        }
        return result;
    }
    progress.measureStep.store(1, std::memory_order_relaxed);
    // A laser that refused to come on would give a "signal" of dark
    // current only; that is a failed measurement, not a spectrum.
    if (SwitchLaser(ctx, true)) {
        progress.preheatStart.store(ctx.clock.tickCount(), std::memory_order_relaxed);
        SleepUnlessStopped(ctx, params.preheatMs);
        progress.measureStep.store(2, std::memory_order_relaxed);
        result = ctx.stopRequested() ? kAcquireFailed
                                     : Acquire(ctx, session.spectrum.signal.data(), params.exposureMs,
                                               params.averageCount, session.spectrum.clipped.data());
    } else {
        result = kAcquireFailed;
    }
    progress.measureStep.store(3, std::memory_order_relaxed);
    // Switched off whatever happened before, also after a refused switch-on
    // whose reply may have been lost; a device that is gone is powered
    // down by its replug.
    laserOffFailed = !SwitchLaserOff(ctx);
    return result;
}

// Laser on, preheat, trial frames that choose the integration time, signal,
// laser off, then the dark at the chosen time. The laser stays on from the
// preheat to the end of the signal, so it needs no second preheat; the dark
// comes last because its time is known only then.
std::uint8_t MeasureAutoExposed(const AcquisitionContext& ctx, const MeasureParams& params, double target,
                                bool& laserOffFailed) {
    MeasurementSession& session = ctx.session;
    MeasureProgress& progress = session.progress;
    std::uint8_t result = kAcquireFailed;
    std::uint32_t exposure = params.exposureMs;
    progress.measureStep.store(1, std::memory_order_relaxed);
    if (SwitchLaser(ctx, true)) {
        progress.preheatStart.store(ctx.clock.tickCount(), std::memory_order_relaxed);
        if (SleepUnlessStopped(ctx, params.preheatMs)) {
            progress.measureStep.store(4, std::memory_order_relaxed);
            ExposureChoice choice = ChooseExposure(ctx, target);
            if (choice.ok && !ctx.stopRequested()) {
                exposure = choice.exposureMs;
                progress.chosenExposureMs.store(exposure, std::memory_order_relaxed);
                progress.measureStep.store(2, std::memory_order_relaxed);
                result = Acquire(ctx, session.spectrum.signal.data(), exposure, params.averageCount,
                                 session.spectrum.clipped.data());
            }
        }
    }
    laserOffFailed = !SwitchLaserOff(ctx);
    // With the laser still on, a dark would be a second signal.
    if (result == kAcquireSucceeded && params.takeDark && !laserOffFailed) {
        progress.measureStep.store(0, std::memory_order_relaxed);
        // The dark's frames pass through `signal` on their way in.
        const auto signal = std::make_unique<std::array<float, kMaxPixels>>(session.spectrum.signal);
        result = Acquire(ctx, session.spectrum.dark.data(), exposure, params.averageCount);
        session.spectrum.signal = *signal;
    } else if (laserOffFailed) {
        result = kAcquireFailed;
    }
    progress.measureStep.store(3, std::memory_order_relaxed);
    return result;
}

} // namespace

void RunMeasurement(const AcquisitionContext& ctx) {
    MeasurementSession& session = ctx.session;
    const DeviceInfo& device = ctx.device;
    MeasureProgress& progress = session.progress;
    const MeasureParams params = session.measureParams;
    const ExposureMode mode = session.exposureMode;
    progress.firstDarkMs.store(0, std::memory_order_relaxed);
    progress.firstSignalMs.store(0, std::memory_order_relaxed);
    progress.measureStep.store(0, std::memory_order_relaxed);
    progress.frame.store(0, std::memory_order_relaxed);
    progress.preheatStart.store(0, std::memory_order_relaxed);
    progress.chosenExposureMs.store(0, std::memory_order_relaxed);
    session.measureStopped.store(false, std::memory_order_relaxed);
    std::uint32_t start = ctx.clock.tickCount();
    progress.measureTime.store(start, std::memory_order_relaxed);
    // What the buffers held before: a stopped measurement leaves nothing of
    // itself behind, so the spectrum shown before can still be saved.
    const auto before = std::make_unique<SpectrumStore>(session.spectrum);

    std::uint8_t result = kAcquireSucceeded;
    bool laserOffFailed = false;
    // Capture refuses such a device; should one get here all the same, the
    // laser stays off.
    if (!MeasurableDeviceType(device.deviceType)) {
        result = kAcquireFailed;
        session.measureStatus.store(3, std::memory_order_relaxed);
    } else {
        bool laserUsed = true;
        if (mode.automatic) {
            result = MeasureAutoExposed(ctx, params, mode.target, laserOffFailed);
        } else {
            result = MeasureDarkFirst(ctx, params, laserOffFailed);
            laserUsed = progress.measureStep.load(std::memory_order_relaxed) == 3;
        }
        if (laserUsed) {
            session.measureStatus.store(result == kAcquireSucceeded ? 1 : 3, std::memory_order_relaxed);
            if (!session.spectrum.haveMeasured && session.spectrum.haveFileData)
                ComputeSpectralAxis(session.spectrum, device, device.laserWavelength);
            session.spectrum.haveMeasured = true;
            session.spectrum.haveFileData = false;
        }
    }
    if (ctx.stopRequested()) {
        session.spectrum = *before;
        session.measureStatus.store(0, std::memory_order_relaxed);
        session.measureStopped.store(true, std::memory_order_relaxed);
    }
    session.laserOffFailed.store(laserOffFailed, std::memory_order_relaxed);
    progress.measureTime.store(TicksSince(start, ctx.clock.tickCount()), std::memory_order_relaxed);
    session.measureState.store(2, std::memory_order_release);
}

namespace {
// The integration time the estimate works with: the one chosen by the
// automatic exposure once it has chosen.
std::uint32_t EstimateExposure(const MeasurementSession& session) {
    std::uint32_t chosen = session.progress.chosenExposureMs.load(std::memory_order_relaxed);
    return chosen != 0 ? chosen : session.measureParams.exposureMs;
}
} // namespace

std::uint8_t MeasureProgressPercent(const MeasurementSession& session, std::uint32_t now) {
    const MeasureParams& params = session.measureParams;
    const MeasureProgress& progress = session.progress;
    const std::uint32_t exposure = EstimateExposure(session);
    std::uint32_t firstDark = progress.firstDarkMs.load(std::memory_order_relaxed);
    std::uint32_t firstSignal = progress.firstSignalMs.load(std::memory_order_relaxed);
    std::uint32_t adj = 0;
    if (firstDark != 0) adj = 2u * exposure - firstDark;
    if (firstSignal != 0) adj = adj + 2u * exposure - firstSignal;
    std::uint32_t total = 4u * params.averageCount * exposure + params.preheatMs;
    // The arithmetic is 32-bit unsigned throughout, as the estimate has always
    // been; only a total that wrapped to 0 needs guarding.
    if (total == 0) return 0;
    std::uint32_t p = ((now - progress.measureTime.load(std::memory_order_relaxed) + adj) * 100u) / total;
    // Before the first dark frame, unless the dark comes last (after an
    // automatic exposure's signal).
    if (progress.measureStep.load(std::memory_order_relaxed) == 0 && firstDark == 0 && firstSignal == 0)
        p = std::min(p, (exposure * 200u) / total);
    return static_cast<std::uint8_t>(std::min<std::uint32_t>(p, 100));
}

std::string MeasurePhaseText(const MeasurementSession& session, std::uint32_t now) {
    const MeasureParams& params = session.measureParams;
    const MeasureProgress& progress = session.progress;
    auto seconds = [](std::uint64_t ms) { return std::to_string((ms + 999) / 1000) + " s"; };
    std::uint64_t total = 4ull * params.averageCount * EstimateExposure(session) + params.preheatMs;
    std::uint64_t left = total * (100u - MeasureProgressPercent(session, now)) / 100u;
    const std::uint16_t frame = std::max<std::uint16_t>(1, progress.frame.load(std::memory_order_relaxed));
    std::string frames = std::to_string(frame) + "/" + std::to_string(params.averageCount);
    switch (progress.measureStep.load(std::memory_order_relaxed)) {
    case 0:
        return "Dark " + frames + ", " + seconds(left) + " left";
    case 1: {
        std::uint32_t began = progress.preheatStart.load(std::memory_order_relaxed);
        // Before the worker has stamped the preheat's start, the whole of it lies ahead.
        std::uint32_t done = began == 0 ? 0 : std::min<std::uint32_t>(now - began, params.preheatMs);
        return "Laser preheat " + seconds(params.preheatMs - done);
    }
    case 2:
        return "Signal " + frames + ", " + seconds(left) + " left";
    case 4:
        return "Auto exposure trial " + std::to_string(frame) + "/" + std::to_string(kMaxExposureTrials);
    default:
        return "Laser off";
    }
}

StepResult StepAverage(const std::string& boxText, bool up) {
    StepResult result;
    auto value = ParseWholeNumber(boxText);
    if (!value || *value < INT32_MIN || *value > INT32_MAX) {
        result.error = IntegerConversionError(boxText);
        return result;
    }
    std::int64_t a = *value;
    if (up)
        a += 1;
    else if (static_cast<std::uint16_t>(a) > 0)
        a -= 1;
    result.text = std::to_string(static_cast<std::uint16_t>(a));
    return result;
}

} // namespace veltrane
