#include "interchange/column_memory.h"

#include <algorithm>

#include "interchange/text_values.h"

namespace veltrane {

namespace {

std::size_t ColumnsOf(const ReadOutcome& outcome) {
    return std::max(outcome.columnCount, outcome.columns.size());
}

} // namespace

std::string ColumnHeaderKey(const ReadOutcome& outcome) {
    if (outcome.columns.empty()) return std::to_string(ColumnsOf(outcome)) + " unnamed columns";
    std::string key;
    for (const std::string& name : outcome.columns) {
        if (!key.empty()) key += ',';
        key += PlainName(name);
    }
    // Distinct from a count, and never a key the settings file reads as a
    // comment or a section.
    return "columns " + key;
}

std::optional<ColumnChoice> RememberedColumns(const IniFile& settings, const ReadOutcome& outcome) {
    const std::string value = settings.readString(kColumnChoiceSection, ColumnHeaderKey(outcome), "");
    const std::size_t comma = value.find(',');
    if (comma == std::string::npos) return std::nullopt;
    std::optional<std::int64_t> x = ParseWholeNumber(std::string_view(value).substr(0, comma));
    std::optional<std::int64_t> y = ParseWholeNumber(std::string_view(value).substr(comma + 1));
    const auto count = static_cast<std::int64_t>(ColumnsOf(outcome));
    if (!x || !y || *x < 1 || *y < 1 || *x > count || *y > count || *x == *y) return std::nullopt;
    return ColumnChoice{std::to_string(*x), std::to_string(*y)};
}

bool RememberColumns(IniFile& settings, const ReadOutcome& outcome, std::size_t x, std::size_t y) {
    return settings.writeString(kColumnChoiceSection, ColumnHeaderKey(outcome),
                                std::to_string(x + 1) + "," + std::to_string(y + 1));
}

} // namespace veltrane
