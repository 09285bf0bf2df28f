#include "measure/sample_sidecar.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <nlohmann/json.hpp>

#include "platform/file_io.h"

namespace veltrane {

namespace {

constexpr const char* kSampleNameKey = "sample_name";
constexpr const char* kOperatorKey = "operator";
constexpr const char* kNotesKey = "notes";
constexpr const char* kSerialKey = "serial_number";
constexpr const char* kIntegrationKey = "integration_time_ms";
constexpr const char* kAveragesKey = "averages";
// Pages of notes fit many times over; anything larger is no sidecar of ours.
constexpr std::size_t kMaxSidecarBytes = 1u << 20;

// A key of the object as text: absent reads as empty, anything but a string
// is damage.
bool TextOf(const nlohmann::json& object, const char* key, std::string& text) {
    auto it = object.find(key);
    if (it == object.end()) {
        text.clear();
        return true;
    }
    if (!it->is_string()) return false;
    text = it->get<std::string>();
    return true;
}

// A key of the object as a whole number: absent reads as none, anything but
// a whole number that fits is damage.
bool CountOf(const nlohmann::json& object, const char* key, std::optional<std::uint32_t>& count) {
    auto it = object.find(key);
    count.reset();
    if (it == object.end()) return true;
    if (!it->is_number_unsigned() || it->get<std::uint64_t>() > UINT32_MAX) return false;
    count = static_cast<std::uint32_t>(it->get<std::uint64_t>());
    return true;
}

} // namespace

std::string SampleSidecarPath(const std::string& rawPath) {
    return rawPath + ".json";
}

std::string EncodeSampleSidecar(const RawFileSidecar& sidecar) {
    nlohmann::ordered_json object;
    object[kSampleNameKey] = sidecar.sample.sampleName;
    object[kOperatorKey] = sidecar.sample.operatorName;
    object[kNotesKey] = sidecar.sample.notes;
    const CaptureSettings& capture = sidecar.capture;
    if (!capture.serial.empty()) object[kSerialKey] = capture.serial;
    if (capture.integrationMs) object[kIntegrationKey] = *capture.integrationMs;
    if (capture.averages > 0) object[kAveragesKey] = capture.averages;
    return object.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

bool DecodeSampleSidecar(std::string_view bytes, RawFileSidecar& sidecar) {
    // Parsed without exceptions: a damaged file gives a discarded value.
    const nlohmann::json object = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (!object.is_object()) return false;
    RawFileSidecar read;
    std::optional<std::uint32_t> averages;
    if (!TextOf(object, kSampleNameKey, read.sample.sampleName) ||
        !TextOf(object, kOperatorKey, read.sample.operatorName) || !TextOf(object, kNotesKey, read.sample.notes) ||
        !TextOf(object, kSerialKey, read.capture.serial) ||
        !CountOf(object, kIntegrationKey, read.capture.integrationMs) ||
        !CountOf(object, kAveragesKey, averages))
        return false;
    read.capture.averages = averages.value_or(0);
    sidecar = std::move(read);
    return true;
}

SidecarRead ReadSampleSidecar(const std::string& rawPath, RawFileSidecar& sidecar) {
    sidecar = RawFileSidecar{};
    std::string bytes;
    const LoadResult loaded = ReadWholeFile(SampleSidecarPath(rawPath), bytes, kMaxSidecarBytes);
    if (loaded == LoadResult::Missing) return SidecarRead::None;
    if (loaded != LoadResult::Loaded || !DecodeSampleSidecar(bytes, sidecar)) return SidecarRead::Damaged;
    return SidecarRead::Read;
}

bool WriteSampleSidecar(const std::string& rawPath, const RawFileSidecar& sidecar) {
    const std::string path = SampleSidecarPath(rawPath);
    if (!sidecar.empty()) return WriteFileAtomically(path, EncodeSampleSidecar(sidecar));
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return !ec;
}

} // namespace veltrane
