#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shared/chart_model.h"

namespace veltrane {

constexpr const char* kXRangeReversedMessage = "X_max<X_min";
constexpr const char* kYRangeReversedMessage = "Y_max<Y_min";

// A decimal number as a user types it into a box: blanks around it, an
// optional sign, digits with an optional point, an optional exponent.
// Anything else, or a value too large or too small for a double, is nullopt.
std::optional<double> ParseDecimal(std::string_view text);
std::string ConversionErrorText(const std::string& text);

// What the axis-range window hands over when Apply is pressed.
struct AxisRangeInput {
    bool xAutomatic = false;
    bool yAutomatic = true;
    std::string xStart;
    std::string xEnd;
    std::string yStart;
    std::string yEnd;
};

struct AxisRangeOutcome {
    std::optional<std::string> conversionError; // the first box that is not a number
    std::vector<std::string> rangeMessages;     // reversed ranges, X before Y
    bool closeWindow = true;                    // false only after a conversion error
};

// Applies the axis ranges to the chart: the left axis' desired increment goes
// back to 0 first, then every box in use is read (a box that is not a number
// stops everything there), then X and Y are set. A reversed range leaves its
// axis as it was and reports a message.
AxisRangeOutcome ApplyAxisRange(ChartModel& chart, const AxisRangeInput& input);

// The four range boxes as the chart's bounds in force show them: whole
// numbers, truncated toward zero.
struct AxisRangeTexts {
    std::string xStart;
    std::string xEnd;
    std::string yStart;
    std::string yEnd;
};
AxisRangeTexts CurrentAxisRangeTexts(const ChartModel& chart);
std::string WholeNumberText(double value);

} // namespace veltrane
