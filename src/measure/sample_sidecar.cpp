#include "measure/sample_sidecar.h"

#include <filesystem>
#include <nlohmann/json.hpp>

#include "platform/file_io.h"

namespace veltrane {

namespace {

constexpr const char* kSampleNameKey = "sample_name";
constexpr const char* kOperatorKey = "operator";
constexpr const char* kNotesKey = "notes";
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

} // namespace

std::string SampleSidecarPath(const std::string& rawPath) {
    return rawPath + ".json";
}

std::string EncodeSampleSidecar(const SampleInfo& sample) {
    nlohmann::ordered_json object;
    object[kSampleNameKey] = sample.sampleName;
    object[kOperatorKey] = sample.operatorName;
    object[kNotesKey] = sample.notes;
    return object.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

bool DecodeSampleSidecar(std::string_view bytes, SampleInfo& sample) {
    // Parsed without exceptions: a damaged file gives a discarded value.
    const nlohmann::json object = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (!object.is_object()) return false;
    SampleInfo read;
    if (!TextOf(object, kSampleNameKey, read.sampleName) || !TextOf(object, kOperatorKey, read.operatorName) ||
        !TextOf(object, kNotesKey, read.notes))
        return false;
    sample = std::move(read);
    return true;
}

SidecarRead ReadSampleSidecar(const std::string& rawPath, SampleInfo& sample) {
    sample = SampleInfo{};
    std::string bytes;
    const LoadResult loaded = ReadWholeFile(SampleSidecarPath(rawPath), bytes, kMaxSidecarBytes);
    if (loaded == LoadResult::Missing) return SidecarRead::None;
    if (loaded != LoadResult::Loaded || !DecodeSampleSidecar(bytes, sample)) return SidecarRead::Damaged;
    return SidecarRead::Read;
}

bool WriteSampleSidecar(const std::string& rawPath, const SampleInfo& sample) {
    const std::string path = SampleSidecarPath(rawPath);
    if (!sample.empty()) return WriteFileAtomically(path, EncodeSampleSidecar(sample));
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return !ec;
}

} // namespace veltrane
