#include "interchange/measurement_facts.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "device/device_connection.h"
#include "device/device_info.h"
#include "interchange/shown_spectrum.h"
#include "measure/measurement_session.h"

namespace veltrane {

namespace {

// The device names a type it does not know "Unknow": no model to tell.
std::string KnownModel(const std::string& name) {
    return name == ModelName(0, BrandVariant{}) ? std::string() : name;
}

} // namespace

std::string LongDateText(const LocalDateTime& when, std::optional<int> utcOffsetMinutes) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", when.year, when.month, when.day, when.hour,
                  when.minute, when.second);
    std::string out = text;
    if (utcOffsetMinutes) {
        const int offset = *utcOffsetMinutes;
        const int magnitude = offset < 0 ? -offset : offset;
        std::snprintf(text, sizeof text, " %c%02d%02d", offset < 0 ? '-' : '+', magnitude / 60 % 100, magnitude % 60);
        out += text;
    }
    return out;
}

std::string LongDateText(std::int64_t unixSeconds) {
    const auto moment = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    if (localtime_r(&moment, &local) == nullptr) return {};
    const LocalDateTime when{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                             local.tm_hour,        local.tm_min,     local.tm_sec};
    return LongDateText(when, static_cast<int>(local.tm_gmtoff / 60));
}

void AddSampleInfo(InterchangeSpectrum& spectrum, const SampleInfo& sample) {
    if (!sample.sampleName.empty()) spectrum.title = sample.sampleName;
    spectrum.operatorName = sample.operatorName;
    spectrum.notes = sample.notes;
}

SampleInfo SampleInfoOf(const InterchangeSpectrum& spectrum) {
    return {spectrum.title, spectrum.operatorName, spectrum.notes};
}

CaptureSettings CaptureSettingsOf(const InterchangeSpectrum& spectrum) {
    CaptureSettings capture;
    capture.serial = spectrum.serial;
    // Whole milliseconds, as the instrument counts them; a time beyond the
    // field's range is left unsaid rather than wrapped.
    if (spectrum.integrationMs >= 0.5 && spectrum.integrationMs < 4.0e9)
        capture.integrationMs = static_cast<std::uint32_t>(spectrum.integrationMs + 0.5);
    if (spectrum.averages > 0) capture.averages = static_cast<std::uint32_t>(spectrum.averages);
    return capture;
}

void DescribeShownSpectrum(InterchangeSpectrum& spectrum, const MeasurementSession& session, const DeviceInfo& device) {
    AddSampleInfo(spectrum, session.sample);
    const SpectrumStore& s = session.spectrum;
    // Of the capture itself as it ended, not of the settings since: a later
    // capture that was stopped changed those but not the spectrum.
    auto addCapture = [&spectrum](const CaptureSettings& capture) {
        spectrum.serial = capture.serial;
        spectrum.integrationMs = capture.integrationMs.value_or(0);
        spectrum.averages = static_cast<int>(std::min<std::uint32_t>(capture.averages, INT32_MAX));
    };
    if (s.haveMeasured) {
        spectrum.instrument = KnownModel(device.modelName);
        if (device.laserWavelength > 0.0f) spectrum.laserNm = device.laserWavelength;
        addCapture(session.shownCapture);
        if (session.capturedAt != 0) spectrum.date = LongDateText(session.capturedAt);
        return;
    }
    const RawFileRecord& raw = session.rawFile;
    if (!s.haveFileData || raw.header.modelCode() == kForeignModelCode) return;
    // A raw file keeps its laser, its model's code and a local time without
    // a zone; its sidecar the serial number and exposure of its capture.
    addCapture(session.shownCapture);
    spectrum.laserNm = raw.laserWavelength;
    if (raw.header.modelCode() <= 0xFF)
        spectrum.instrument =
            KnownModel(ModelName(static_cast<std::uint8_t>(raw.header.modelCode()), device.brandVariant));
    const LocalDateTime when = raw.header.dateTime();
    if (when.year > 0) spectrum.date = LongDateText(when, std::nullopt);
}

} // namespace veltrane
