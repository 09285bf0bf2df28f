#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "measure/sample_info.h"

namespace veltrane {

// The raw file's layout has no room for the sample information, nor for the
// serial number and exposure of the capture, so they go into a small JSON
// file beside it: "NAME.rsd.json" for "NAME.rsd", one object with the keys
// "sample_name", "operator" and "notes" (UTF-8 text), and, when known,
// "serial_number" (text), "integration_time_ms" and "averages" (whole
// numbers).
struct RawFileSidecar {
    SampleInfo sample;
    CaptureSettings capture;

    bool empty() const { return sample.empty() && capture.empty(); }
};

std::string SampleSidecarPath(const std::string& rawPath);

// The object, indented for a person to read. Bytes that are not UTF-8 (a
// name typed under another code page) become U+FFFD, as JSON must be UTF-8.
std::string EncodeSampleSidecar(const RawFileSidecar& sidecar);
// False, leaving `sidecar` as it was, for text that is no JSON object or
// whose keys above hold anything else (text, or a whole number from 0 to
// 2^32 − 1); a key left out reads as empty, and keys of later versions are
// passed over.
bool DecodeSampleSidecar(std::string_view bytes, RawFileSidecar& sidecar);

enum class SidecarRead : std::uint8_t { Read, None, Damaged };
// The sidecar of the raw file at `rawPath`; `sidecar` is empty when there is
// none or it is damaged.
SidecarRead ReadSampleSidecar(const std::string& rawPath, RawFileSidecar& sidecar);
// Writes the sidecar whole or not at all when it has anything to say;
// without anything, removes the sidecar an earlier save under the same name
// left, which would otherwise be read as this file's. False when that failed.
bool WriteSampleSidecar(const std::string& rawPath, const RawFileSidecar& sidecar);

constexpr const char* kSidecarDamaged = "The sample information beside the raw file could not be read; it is left out.";
constexpr const char* kSidecarSaveFailed = "The raw file is saved, but its sample information could not be saved!";

} // namespace veltrane
