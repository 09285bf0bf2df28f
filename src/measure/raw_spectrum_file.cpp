#include "measure/raw_spectrum_file.h"

#include <algorithm>
#include <cmath>

#include "device/device_info.h"
#include "measure/measurement_session.h"
#include "measure/saturation.h"
#include "measure/spectral_axis.h"
#include "platform/byte_order.h"

namespace veltrane {

namespace {

constexpr std::size_t kOffFrameLength = kHeaderSize;
constexpr std::size_t kOffData = kHeaderSize + 4;

float EffectiveLaser(float reported) {
    // 0 nm would make every wavenumber infinite; the display has always used
    // 403.25 nm for it, and so do the files.
    return reported > 0.0f && std::isfinite(reported) ? reported : kDefaultLaserNm;
}

} // namespace

std::uint16_t RawFilePixelCount(std::int32_t frameLength) {
    switch (frameLength) {
    case kRawFrame2500:
        return 2500;
    case kRawFrame2048:
        return 2048;
    case kRawFrame256:
        return 256;
    default:
        return 0;
    }
}

std::string EncodeRawSpectrumFile(const SpectrumHeader& header, const std::vector<float>& intensities,
                                  const std::vector<float>& wavenumbers, float laserWavelength, std::int32_t laserPixel,
                                  std::int32_t windowStart, std::int32_t windowEnd) {
    auto n = static_cast<std::int32_t>(intensities.size());
    std::string bytes(RawFileSize(n), '\0');
    auto* b = reinterpret_cast<std::uint8_t*>(bytes.data());
    std::copy(header.bytes.begin(), header.bytes.end(), b);
    PutI32(b + kOffFrameLength, n);
    for (std::int32_t j = 0; j < n; ++j) {
        PutF32(b + kOffData + 4u * j, intensities[j]);
        PutF32(b + kOffData + 4u * (n + j), j < static_cast<std::int32_t>(wavenumbers.size()) ? wavenumbers[j] : 0.0f);
    }
    std::uint8_t* tail = b + kOffData + 8u * n;
    PutF32(tail, laserWavelength);
    PutI32(tail + 4, laserPixel);
    PutI32(tail + 8, windowStart);
    PutI32(tail + 12, windowEnd);
    return bytes;
}

RawFileCheck DecodeRawSpectrumFile(std::string_view bytes, RawFileRecord& record) {
    if (bytes.size() < kOffData) return RawFileCheck::Incomplete;
    const auto* b = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::int32_t n = GetI32(b + kOffFrameLength);
    std::uint16_t pixels = RawFilePixelCount(n);
    if (pixels == 0) return RawFileCheck::UnknownFormat;
    if (bytes.size() < RawFileSize(n)) return RawFileCheck::Incomplete;
    const std::uint8_t* tail = b + kOffData + 8u * n;
    std::int32_t start = GetI32(tail + 8);
    std::int32_t end = GetI32(tail + 12);
    if (start < 0 || end < 0 || start > pixels || end > pixels) return RawFileCheck::WindowOutside;

    std::copy_n(b, kHeaderSize, record.header.bytes.begin());
    record.frameLength = n;
    record.intensities.fill(0.0f);
    record.wavenumbers.fill(0.0f);
    for (std::int32_t j = 0; j < n; ++j) {
        record.intensities[j] = GetF32(b + kOffData + 4u * j);
        record.wavenumbers[j] = GetF32(b + kOffData + 4u * (n + j));
    }
    record.laserWavelength = GetF32(tail);
    record.laserPixel = GetI32(tail + 4);
    record.windowStart = start;
    record.windowEnd = end;
    return RawFileCheck::Ok;
}

const char* SaveRawRefusal(const MeasurementSession& session, const DeviceInfo& device) {
    if (MeasurementBusy(session)) return "Measure Processing!";
    if (session.spectrum.haveMeasured && device.waveCalValid) return nullptr;
    if (session.spectrum.haveMeasured) return kNoWaveCalibration;
    return kNoDataToSave;
}

CaptureSettings CaptureSettingsOf(const MeasurementSession& session, const DeviceInfo& device) {
    CaptureSettings capture;
    if (device.deviceSerial != 0) capture.serial = std::to_string(device.deviceSerial);
    const std::uint32_t chosen = session.progress.chosenExposureMs.load(std::memory_order_relaxed);
    capture.integrationMs = chosen != 0 ? chosen : session.measureParams.exposureMs;
    capture.averages = session.measureParams.averageCount;
    return capture;
}

std::string BuildRawSpectrumFile(const MeasurementSession& session, const DeviceInfo& device,
                                 const std::string& fileName, const LocalDateTime& when, RawFileRecord& record) {
    std::int32_t n = device.pixelTotal;
    std::int32_t pixels = std::min<std::int32_t>(device.pixelCount, std::min<std::int32_t>(n, kMaxPixels));
    SpectrumHeader header;
    header.setName(fileName);
    float laser = EffectiveLaser(device.laserWavelength);

    std::vector<float> wavenumbers(static_cast<std::size_t>(n), 0.0f);
    std::int32_t laserPixel = -1; // no pixel at the laser line
    for (std::int32_t j = 0; j < pixels; ++j) {
        double x = j;
        const auto& c = device.waveCal;
        double lambda = static_cast<double>(c[0]) + static_cast<double>(c[1]) * x + static_cast<double>(c[2]) * x * x +
                        static_cast<double>(c[3]) * x * x * x + static_cast<double>(c[4]) * x * x * x * x;
        wavenumbers[j] = static_cast<float>(lambda);
        if (std::fabs(static_cast<double>(wavenumbers[j]) - laser) <= 0.001) laserPixel = j;
    }
    double laserWavenumber = 1e7 / static_cast<double>(laser);
    std::int32_t windowStart = -1;
    std::int32_t windowEnd = -1;
    for (std::int32_t j = 0; j < n && wavenumbers[j] != 0.0f; ++j) {
        double shift = laserWavenumber - 1e7 / static_cast<double>(wavenumbers[j]);
        if (device.displayLow >= shift) windowStart = j + 1;
        if (device.displayHigh >= shift) windowEnd = j;
        wavenumbers[j] = static_cast<float>(laserWavenumber - shift);
    }
    // No pixel met a condition: the whole pixel range rather than a value
    // left over from another file.
    if (windowStart < 0) windowStart = 0;
    if (windowEnd < 0) windowEnd = pixels;

    std::vector<float> intensities(static_cast<std::size_t>(n), 0.0f);
    for (std::int32_t j = 0; j < pixels; ++j) {
        float value = session.spectrum.signal[j] - session.spectrum.dark[j];
        intensities[j] = value > 0.0f ? value : 0.0f;
    }
    header.setDateTime(when);
    header.setModelCode(device.deviceType);

    record.laserWavelength = laser;
    record.laserPixel = laserPixel;
    record.windowStart = windowStart;
    record.windowEnd = windowEnd;
    return EncodeRawSpectrumFile(header, intensities, wavenumbers, laser, laserPixel, windowStart, windowEnd);
}

void ApplyRawSpectrum(const RawFileRecord& record, MeasurementSession& session, DeviceInfo& device) {
    std::uint16_t pixels = RawFilePixelCount(record.frameLength);
    float k = static_cast<float>(1e7 / static_cast<double>(EffectiveLaser(record.laserWavelength)));
    device.pixelCount = pixels;
    SpectrumStore& s = session.spectrum;
    s.signal.fill(0.0f);
    s.dark.fill(0.0f);
    s.axis.fill(0.0f);
    for (std::uint16_t i = 0; i < pixels; ++i) {
        s.signal[i] = record.intensities[i];
        s.axis[i] = k - record.wavenumbers[i];
    }
    s.clipped.fill(false);
    MarkClippedPixels(record, s.clipped.data());
    s.foreignAxis.clear();
    s.foreignSignal.clear();
    s.haveFileData = true;
    s.haveMeasured = false;
}

} // namespace veltrane
