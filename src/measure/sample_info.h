#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace veltrane {

// What the person measuring says about the sample: it travels with the
// measurement into exports, the sidecar of a raw file and the report. The raw
// file's own layout has no room for it.
struct SampleInfo {
    std::string sampleName;
    std::string operatorName;
    std::string notes;

    bool empty() const { return sampleName.empty() && operatorName.empty() && notes.empty(); }
};

// How a capture was measured beyond what the raw file's layout holds: the
// instrument's serial number and the exposure. Kept in the raw file's
// sidecar, so a report or an export of the file opened later can say them;
// empty for a file saved before they were kept.
struct CaptureSettings {
    std::string serial;
    std::optional<std::uint32_t> integrationMs; // 0 ms is a real exposure
    std::uint32_t averages = 0;                 // 0: not known

    bool empty() const { return serial.empty() && !integrationMs && averages == 0; }
};

} // namespace veltrane
