#pragma once

#include <optional>
#include <string>

#include "axis_check/axis_check.h"
#include "axis_check/axis_correction_store.h"

namespace veltrane {

// The last check of each instrument's axis, kept beside its correction: a
// record of identification says whether, when and how well the axis had
// been checked before the sample was measured.
struct AxisCheckRecord {
    std::string date;     // "2026-12-09"
    std::string standard; // the reference material measured
    bool pass = false;
    double largest = 0.0; // cm-1
    double rms = 0.0;     // cm-1
};

class AxisCheckLog {
public:
    // `settingsFile` is the program's settings file; the log shares the
    // corrections' file beside it.
    explicit AxisCheckLog(const std::string& settingsFile);

    std::optional<AxisCheckRecord> last(const std::string& serial) const;
    // False when the file could not be written.
    bool record(const std::string& serial, const AxisCheckRecord& check);

private:
    std::string m_path;
};

// The record of a check made now: today's date, its result and figures.
AxisCheckRecord RecordOf(const AxisCheck& check, const std::string& standard, const std::string& date);

// "pass on 2026-12-09 (polystyrene, largest deviation 0.8 cm⁻¹)", followed by
// "; Axis corrected by …" when a correction is applied, or "not checked".
std::string AxisCheckSummary(const std::optional<AxisCheckRecord>& check,
                             const std::optional<StoredAxisCorrection>& correction);

} // namespace veltrane
