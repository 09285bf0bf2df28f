#include "measure/measurement.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "device/device_connection.h"
#include "device/device_info.h"
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

void RunMeasurement(const AcquisitionContext& ctx) {
    MeasurementSession& session = ctx.session;
    const DeviceInfo& device = ctx.device;
    MeasureProgress& progress = session.progress;
    const MeasureParams params = session.measureParams;
    progress.firstDarkMs.store(0, std::memory_order_relaxed);
    progress.firstSignalMs.store(0, std::memory_order_relaxed);
    progress.measureStep.store(0, std::memory_order_relaxed);
    progress.frame.store(0, std::memory_order_relaxed);
    progress.preheatStart.store(0, std::memory_order_relaxed);
    std::uint32_t start = ctx.clock.tickCount();
    progress.measureTime.store(start, std::memory_order_relaxed);

    std::uint8_t result = kAcquireSucceeded;
    bool laserOffFailed = false;
    // Capture refuses such a device; should one get here all the same, the
    // laser stays off.
    if (!MeasurableDeviceType(device.deviceType))
        result = kAcquireFailed;
    else if (params.takeDark)
        result = Acquire(ctx, session.spectrum.dark.data(), params.exposureMs, params.averageCount);
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
    } else {
        progress.measureStep.store(1, std::memory_order_relaxed);
        // A laser that refused to come on would give a "signal" of dark
        // current only; that is a failed measurement, not a spectrum.
        if (SwitchLaser(ctx, true)) {
            progress.preheatStart.store(ctx.clock.tickCount(), std::memory_order_relaxed);
            SleepUnlessStopped(ctx, params.preheatMs);
            progress.measureStep.store(2, std::memory_order_relaxed);
            result = ctx.stopRequested()
                         ? kAcquireFailed
                         : Acquire(ctx, session.spectrum.signal.data(), params.exposureMs, params.averageCount);
        } else {
            result = kAcquireFailed;
        }
        progress.measureStep.store(3, std::memory_order_relaxed);
        session.measureStatus.store(result == kAcquireSucceeded ? 1 : 3, std::memory_order_relaxed);
        // Switched off whatever happened before, also after a refused switch-on
        // whose reply may have been lost; a device that is gone is powered
        // down by its replug.
        laserOffFailed = !SwitchLaserOff(ctx);
        if (!session.spectrum.haveMeasured && session.spectrum.haveFileData)
            ComputeSpectralAxis(session.spectrum, device, device.laserWavelength);
        session.spectrum.haveMeasured = true;
        session.spectrum.haveFileData = false;
    }
    session.laserOffFailed.store(laserOffFailed, std::memory_order_relaxed);
    progress.measureTime.store(TicksSince(start, ctx.clock.tickCount()), std::memory_order_relaxed);
    session.measureState.store(2, std::memory_order_release);
}

std::uint8_t MeasureProgressPercent(const MeasurementSession& session, std::uint32_t now) {
    const MeasureParams& params = session.measureParams;
    const MeasureProgress& progress = session.progress;
    std::uint32_t firstDark = progress.firstDarkMs.load(std::memory_order_relaxed);
    std::uint32_t firstSignal = progress.firstSignalMs.load(std::memory_order_relaxed);
    std::uint32_t adj = 0;
    if (firstDark != 0) adj = 2u * params.exposureMs - firstDark;
    if (firstSignal != 0) adj = adj + 2u * params.exposureMs - firstSignal;
    std::uint32_t total = 4u * params.averageCount * params.exposureMs + params.preheatMs;
    // The arithmetic is 32-bit unsigned throughout, as the estimate has always
    // been; only a total that wrapped to 0 needs guarding.
    if (total == 0) return 0;
    std::uint32_t p = ((now - progress.measureTime.load(std::memory_order_relaxed) + adj) * 100u) / total;
    if (progress.measureStep.load(std::memory_order_relaxed) == 0 && firstDark == 0)
        p = std::min(p, (params.exposureMs * 200u) / total);
    return static_cast<std::uint8_t>(std::min<std::uint32_t>(p, 100));
}

std::string MeasurePhaseText(const MeasurementSession& session, std::uint32_t now) {
    const MeasureParams& params = session.measureParams;
    const MeasureProgress& progress = session.progress;
    auto seconds = [](std::uint64_t ms) { return std::to_string((ms + 999) / 1000) + " s"; };
    std::uint64_t total = 4ull * params.averageCount * params.exposureMs + params.preheatMs;
    std::uint64_t left = total * (100u - MeasureProgressPercent(session, now)) / 100u;
    std::string frames = std::to_string(std::max<std::uint16_t>(1, progress.frame.load(std::memory_order_relaxed))) +
                         "/" + std::to_string(params.averageCount);
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
