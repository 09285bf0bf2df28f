#include "interchange/delimited_text.h"

#include <algorithm>
#include <cmath>

#include "interchange/text_values.h"

namespace veltrane {

namespace {

enum class Separator : std::uint8_t { Tab, Semicolon, Comma, Spaces };

Separator SeparatorOf(std::string_view line) {
    if (line.find('\t') != std::string_view::npos) return Separator::Tab;
    if (line.find(';') != std::string_view::npos) return Separator::Semicolon;
    if (line.find(',') != std::string_view::npos) return Separator::Comma;
    return Separator::Spaces;
}

bool IsComment(std::string_view line) {
    line = TrimSpaces(line);
    return line.empty() || line.front() == '#' || line.front() == '%' || line.substr(0, 2) == "//";
}

std::vector<std::string_view> Fields(std::string_view line, Separator sep) {
    std::vector<std::string_view> fields;
    if (sep == Separator::Spaces) {
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
                ++i;
            std::size_t start = i;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t')
                ++i;
            if (i > start) fields.push_back(line.substr(start, i - start));
        }
        return fields;
    }
    char c = sep == Separator::Tab ? '\t' : sep == Separator::Semicolon ? ';' : ',';
    std::size_t start = 0;
    for (;;) {
        std::size_t end = line.find(c, start);
        fields.push_back(TrimSpaces(line.substr(start, end == std::string_view::npos ? end : end - start)));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    // A separator at the end of every line is common in spreadsheet output.
    if (fields.size() > 2 && fields.back().empty()) fields.pop_back();
    return fields;
}

bool ParseField(std::string_view field, Separator sep, double& value) {
    if (field.size() >= 2 && field.front() == '"' && field.back() == '"') field = field.substr(1, field.size() - 2);
    std::string text(field);
    if (sep == Separator::Tab || sep == Separator::Semicolon) {
        // A decimal comma, never both marks: "1.234,5" is ambiguous.
        if (text.find(',') != std::string::npos) {
            if (text.find('.') != std::string::npos) return false;
            std::replace(text.begin(), text.end(), ',', '.');
        }
    }
    return ParseDecimal(text, value);
}

bool ParsePoint(std::string_view line, Separator sep, double& x, double& y) {
    std::vector<std::string_view> fields = Fields(line, sep);
    return fields.size() == 2 && ParseField(fields[0], sep, x) && ParseField(fields[1], sep, y);
}

ReadOutcome Refuse(std::string message) {
    ReadOutcome outcome;
    outcome.message = std::move(message);
    return outcome;
}

} // namespace

ReadOutcome ReadDelimitedSpectrum(std::string_view text, InterchangeSpectrum& spectrum) {
    std::vector<std::string_view> lines = TextLines(text);
    std::vector<float> xs, ys;
    bool started = false;
    Separator sep = Separator::Spaces;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (IsComment(line)) continue;
        double x = 0.0, y = 0.0;
        if (!started) {
            Separator candidate = SeparatorOf(line);
            if (!ParsePoint(line, candidate, x, y)) continue; // a heading
            sep = candidate;
            started = true;
        } else if (!ParsePoint(line, sep, x, y)) {
            return Refuse("Line " + std::to_string(i + 1) + " is not two numbers.");
        }
        if (std::fabs(x) > kMaxMagnitude || std::fabs(y) > kMaxMagnitude)
            return Refuse("Line " + std::to_string(i + 1) + " holds a number out of range.");
        if (xs.size() >= kMaxInterchangePoints) return Refuse("Too many points.");
        xs.push_back(static_cast<float>(x));
        ys.push_back(static_cast<float>(y));
    }
    if (xs.size() < 2) return Refuse("No two columns of numbers found.");
    bool ascending = std::is_sorted(xs.begin(), xs.end());
    bool descending = std::is_sorted(xs.rbegin(), xs.rend());
    if (!ascending && !descending) return Refuse("The X values are neither ascending nor descending.");
    if (xs.front() == xs.back()) return Refuse("The X values do not change.");
    if (!ascending) {
        std::reverse(xs.begin(), xs.end());
        std::reverse(ys.begin(), ys.end());
    }
    spectrum.x = std::move(xs);
    spectrum.y = std::move(ys);
    spectrum.title.clear();
    ReadOutcome outcome;
    outcome.ok = true;
    return outcome;
}

std::string WriteCsvSpectrum(const InterchangeSpectrum& spectrum) {
    std::string text = "raman_shift_cm-1,intensity\n";
    for (std::size_t i = 0; i < spectrum.x.size() && i < spectrum.y.size(); ++i)
        text += ShortestText(spectrum.x[i]) + "," + ShortestText(spectrum.y[i]) + "\n";
    return text;
}

} // namespace veltrane
