#include "axis_check/axis_check_log.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "platform/ini_file.h"

namespace veltrane {

namespace {

// The corrections' file: one section per serial holds both.
constexpr const char* kFileName = "axis_corrections.ini";

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::optional<double> ReadNumber(const IniFile& file, const std::string& section, const char* key) {
    std::string text = file.readString(section, key, "");
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string Cm(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f cm\u207b\u00b9", std::fabs(value));
    return text;
}

} // namespace

AxisCheckLog::AxisCheckLog(const std::string& settingsFile)
    : m_path((std::filesystem::path(settingsFile).parent_path() / kFileName).string()) {}

std::optional<AxisCheckRecord> AxisCheckLog::last(const std::string& serial) const {
    IniFile file(m_path);
    AxisCheckRecord check;
    const std::string result = file.readString(serial, "Check result", "");
    if (result != "pass" && result != "fail") return std::nullopt;
    check.pass = result == "pass";
    check.date = file.readString(serial, "Check date", "");
    check.standard = file.readString(serial, "Check standard", "");
    auto largest = ReadNumber(file, serial, "Check largest");
    auto rms = ReadNumber(file, serial, "Check rms");
    if (!largest || !rms || check.date.empty()) return std::nullopt;
    check.largest = *largest;
    check.rms = *rms;
    return check;
}

bool AxisCheckLog::record(const std::string& serial, const AxisCheckRecord& check) {
    return IniFile(m_path).writeStrings({
        {serial, "Check result", check.pass ? "pass" : "fail"},
        {serial, "Check date", check.date},
        {serial, "Check standard", check.standard},
        {serial, "Check largest", Number(check.largest)},
        {serial, "Check rms", Number(check.rms)},
    });
}

AxisCheckRecord RecordOf(const AxisCheck& check, const std::string& standard, const std::string& date) {
    return {date, standard, check.pass, check.largest, check.rms};
}

std::string AxisCheckSummary(const std::optional<AxisCheckRecord>& check,
                             const std::optional<StoredAxisCorrection>& correction) {
    std::string text;
    if (check) {
        text = std::string(check->pass ? "pass" : "fail") + " on " + check->date + " (";
        if (!check->standard.empty()) text += check->standard + ", ";
        text += "largest deviation " + Cm(check->largest) + ")";
    } else {
        text = "not checked";
    }
    if (correction) text += "; " + AxisCorrectionText(*correction);
    return text;
}

} // namespace veltrane
