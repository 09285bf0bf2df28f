#pragma once

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

} // namespace veltrane
