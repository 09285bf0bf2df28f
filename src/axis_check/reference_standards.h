#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane {

// A band of a reference material at a certified Raman shift, in cm-1. The
// weight says how much the band counts in the mean offset and the
// correction (a band known less precisely, or often overlapped, counts less).
struct ReferenceBand {
    double shift = 0.0;
    double weight = 1.0;
};

struct ReferenceStandard {
    std::string name;
    std::vector<ReferenceBand> bands; // ascending
};

// Polystyrene, cyclohexane and acetaminophen (paracetamol) with the band
// positions of ASTM E1840, Standard Guide for Raman Shift Standards for
// Spectrometer Calibration.
const std::vector<ReferenceStandard>& BuiltInStandards();

// A built-in standard by name, in any letter case ("paracetamol" finds
// acetaminophen too).
std::optional<ReferenceStandard> FindStandard(std::string_view name);

// A standard from text: its name on the first non-blank line, then one band
// a line, "SHIFT" or "SHIFT WEIGHT" (space, tab, comma or semicolon between);
// lines starting with '#' are comments. Empty, with the reason in `error`,
// when the text has no name, a line does not read, or fewer than 4 bands.
std::optional<ReferenceStandard> ParseStandard(std::string_view text, std::string& error);

} // namespace veltrane
