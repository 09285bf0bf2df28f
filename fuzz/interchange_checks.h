#pragma once

// What every accepted foreign spectrum must be, and what a refusal must
// leave, for the three interchange fuzz targets.

#include <algorithm>
#include <cmath>

#include "fuzz_support.h"
#include "interchange/delimited_text.h"
#include "interchange/spc_file.h"

namespace veltrane::fuzz {

inline void CheckRead(const ReadOutcome& outcome, const InterchangeSpectrum& before, const InterchangeSpectrum& after) {
    if (!outcome.ok) {
        FUZZ_CHECK(!outcome.message.empty());
        FUZZ_CHECK(before.x == after.x && before.y == after.y && before.title == after.title);
        return;
    }
    FUZZ_CHECK(!after.x.empty() && after.x.size() == after.y.size() && after.x.size() <= kMaxInterchangePoints);
    FUZZ_CHECK(std::is_sorted(after.x.begin(), after.x.end()));
    for (std::size_t i = 0; i < after.x.size(); ++i)
        FUZZ_CHECK(std::isfinite(after.x[i]) && std::isfinite(after.y[i]));

    // Whatever was read is written to SPC and read back exactly.
    InterchangeSpectrum back;
    FUZZ_CHECK(ReadSpcSpectrum(WriteSpcSpectrum(after), 0, back).ok);
    FUZZ_CHECK(back.x == after.x && back.y == after.y);
    // And so is what it says of the sample, as free text of any lines; a
    // zero byte has no text form and becomes U+FFFD.
    if (after.notes.find('\0') == std::string::npos) FUZZ_CHECK(back.notes == after.notes);
    if (after.operatorName.find('\0') == std::string::npos) FUZZ_CHECK(back.operatorName == after.operatorName);
}

} // namespace veltrane::fuzz
