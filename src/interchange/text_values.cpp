#include "interchange/text_values.h"

#include <charconv>
#include <cmath>

namespace veltrane {

std::vector<std::string_view> TextLines(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r') continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::string_view TrimSpaces(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool ParseDecimal(std::string_view field, double& value) {
    if (field.empty()) return false;
    // from_chars takes no '+', and would take "inf" and "nan".
    if (field.front() == '+') field.remove_prefix(1);
    if (field.empty() || field.front() == '+') return false;
    for (char c : field)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) return false;
    double parsed = 0.0;
    auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), parsed);
    if (ec != std::errc() || end != field.data() + field.size() || !std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

std::string ShortestText(float value) {
    char buffer[64];
    std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, r.ptr);
}

} // namespace veltrane
