#include "measure/axis_range.h"

#include "measure/measurement.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace veltrane {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t skipDigits(std::string_view text, std::size_t at) {
    while (at < text.size() && isDigit(text[at]))
        ++at;
    return at;
}

// A fixed range is set over a wide-open axis, so for every usual range no
// state the view sees on the way has its maximum below its minimum.
constexpr double kWideOpenBound = 1000000.0;

struct ReadRange {
    double start = 0.0;
    double end = 0.0;
};

// Reads a start/end pair as whole numbers; on the first box that is not a
// number, its text goes into `error`.
std::optional<ReadRange> readRange(const std::string& start, const std::string& end,
                                   std::optional<std::string>& error) {
    ReadRange range;
    for (auto [text, into] : {std::pair{&start, &range.start}, std::pair{&end, &range.end}}) {
        std::optional<double> value = ParseDecimal(*text);
        if (!value) {
            error = ConversionErrorText(*text);
            return std::nullopt;
        }
        *into = std::trunc(*value);
    }
    return range;
}

} // namespace

std::optional<double> ParseDecimal(std::string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isBlank(text[first]))
        ++first;
    while (last > first && isBlank(text[last - 1]))
        --last;
    text = text.substr(first, last - first);

    // The grammar is checked by hand: from_chars alone would take "inf",
    // "nan" and hexadecimal forms, and refuses a leading '+'.
    std::size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    const std::size_t numberStart = at;
    std::size_t afterInteger = skipDigits(text, at);
    bool digits = afterInteger > at;
    at = afterInteger;
    if (at < text.size() && text[at] == '.') {
        std::size_t afterFraction = skipDigits(text, at + 1);
        digits = digits || afterFraction > at + 1;
        at = afterFraction;
    }
    if (!digits) return std::nullopt;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        std::size_t exponent = at + 1;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
        std::size_t afterExponent = skipDigits(text, exponent);
        if (afterExponent == exponent) return std::nullopt;
        at = afterExponent;
    }
    if (at != text.size()) return std::nullopt;

    double value = 0.0;
    const char* begin = text.data() + numberStart;
    const char* end = text.data() + text.size();
    auto [stop, ec] = std::from_chars(begin, end, value, std::chars_format::general);
    if (ec != std::errc() || stop != end) return std::nullopt;
    return negative ? -value : value;
}

std::string ConversionErrorText(const std::string& text) {
    return FloatConversionError(text);
}

AxisRangeOutcome ApplyAxisRange(ChartModel& chart, const AxisRangeInput& input) {
    AxisRangeOutcome outcome;
    chart.setAxisDesiredIncrement(ChartAxis::Left, 0);

    std::optional<ReadRange> x;
    std::optional<ReadRange> y;
    if (!input.xAutomatic) x = readRange(input.xStart, input.xEnd, outcome.conversionError);
    if (!outcome.conversionError && !input.yAutomatic) y = readRange(input.yStart, input.yEnd, outcome.conversionError);
    if (outcome.conversionError) {
        outcome.closeWindow = false;
        return outcome;
    }

    if (!x) {
        chart.setAxisAutomaticMaximum(ChartAxis::Bottom, true);
        chart.setAxisAutomaticMinimum(ChartAxis::Bottom, true);
    } else if (x->start > x->end) {
        outcome.rangeMessages.emplace_back(kXRangeReversedMessage);
    } else {
        chart.setAxisAutomaticMaximum(ChartAxis::Bottom, false);
        chart.setAxisAutomaticMinimum(ChartAxis::Bottom, false);
        chart.setAxisMinimum(ChartAxis::Bottom, -kWideOpenBound);
        chart.setAxisMaximum(ChartAxis::Bottom, kWideOpenBound);
        chart.setAxisMaximum(ChartAxis::Bottom, x->end);
        chart.setAxisMinimum(ChartAxis::Bottom, x->start);
    }

    if (!y) {
        chart.setAxisAutomaticMaximum(ChartAxis::Left, true);
        chart.setAxisAutomaticMinimum(ChartAxis::Left, true);
    } else if (y->start > y->end) {
        outcome.rangeMessages.emplace_back(kYRangeReversedMessage);
    } else {
        chart.setAxisAutomaticMaximum(ChartAxis::Left, false);
        chart.setAxisAutomaticMinimum(ChartAxis::Left, false);
        chart.setAxisMinimum(ChartAxis::Left, -kWideOpenBound);
        chart.setAxisMaximum(ChartAxis::Left, kWideOpenBound);
        chart.setAxisMinimum(ChartAxis::Left, y->start);
        chart.setAxisMaximum(ChartAxis::Left, y->end);
    }
    return outcome;
}

std::string WholeNumberText(double value) {
    // Adding 0.0 turns the -0 that truncating -0.7 gives into a plain 0.
    double whole = std::trunc(value) + 0.0;
    // Room for the largest double written out in full.
    char text[400];
    std::snprintf(text, sizeof text, "%.0f", whole);
    return text;
}

AxisRangeTexts CurrentAxisRangeTexts(const ChartModel& chart) {
    return {WholeNumberText(chart.currentAxisMinimum(ChartAxis::Bottom)),
            WholeNumberText(chart.currentAxisMaximum(ChartAxis::Bottom)),
            WholeNumberText(chart.currentAxisMinimum(ChartAxis::Left)),
            WholeNumberText(chart.currentAxisMaximum(ChartAxis::Left))};
}

} // namespace veltrane
