#include "axis_check/reference_standards.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace veltrane {

namespace {

ReferenceStandard Standard(std::string name, std::initializer_list<double> shifts) {
    ReferenceStandard s{std::move(name), {}};
    for (double shift : shifts)
        s.bands.push_back({shift, 1.0});
    return s;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string_view Trimmed(std::string_view text) {
    std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool ReadNumber(std::string_view text, double& value) {
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

} // namespace

const std::vector<ReferenceStandard>& BuiltInStandards() {
    // ASTM E1840-96 (reapproved 2014), Table 1: the Raman shifts agreed by
    // the laboratories of its round robin, in cm-1.
    static const std::vector<ReferenceStandard> standards = {
        Standard("Polystyrene", {620.9, 795.8, 1001.4, 1031.8, 1155.3, 1450.5, 1583.1, 1602.3, 2852.4, 2904.5, 3054.3}),
        Standard("Cyclohexane", {384.1, 426.3, 801.3, 1028.3, 1157.6, 1266.4, 1444.4, 2664.4, 2852.9, 2923.8, 2938.3}),
        Standard("Acetaminophen",
                 {213.3,  329.2,  390.9,  465.1,  504.0,  651.6,  710.8,  797.2,  834.5,  857.9,  968.7,  1105.5,
                  1168.5, 1236.8, 1278.5, 1323.9, 1371.5, 1515.1, 1561.5, 1648.4, 2931.1, 3064.6, 3102.4, 3326.6}),
    };
    return standards;
}

std::optional<ReferenceStandard> FindStandard(std::string_view name) {
    std::string wanted = Lower(Trimmed(name));
    if (wanted == "paracetamol" || wanted == "4-acetamidophenol") wanted = "acetaminophen";
    for (const ReferenceStandard& s : BuiltInStandards())
        if (Lower(s.name) == wanted) return s;
    return std::nullopt;
}

std::optional<ReferenceStandard> ParseStandard(std::string_view text, std::string& error) {
    ReferenceStandard standard;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = Trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '#') continue;
        if (standard.name.empty()) {
            standard.name = std::string(line);
            continue;
        }
        std::vector<std::string_view> fields;
        std::size_t at = 0;
        while (at < line.size()) {
            std::size_t next = line.find_first_of(" \t,;", at);
            if (next == std::string_view::npos) next = line.size();
            if (next > at) fields.push_back(line.substr(at, next - at));
            at = next + 1;
        }
        ReferenceBand band;
        if (fields.empty() || fields.size() > 2 || !ReadNumber(fields[0], band.shift) ||
            (fields.size() == 2 && (!ReadNumber(fields[1], band.weight) || !(band.weight > 0.0)))) {
            error =
                "Line " + std::to_string(lineNumber) + " is not a band: a Raman shift, optionally a weight above 0.";
            return std::nullopt;
        }
        standard.bands.push_back(band);
    }
    if (standard.name.empty()) {
        error = "The standard has no name.";
        return std::nullopt;
    }
    if (standard.bands.size() < 4) {
        error = "A standard needs at least 4 bands.";
        return std::nullopt;
    }
    std::sort(standard.bands.begin(), standard.bands.end(),
              [](const ReferenceBand& a, const ReferenceBand& b) { return a.shift < b.shift; });
    return standard;
}

} // namespace veltrane
