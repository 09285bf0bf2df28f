#include "axis_check/axis_check_log.h"

#include <cmath>
#include <cstdio>

#include "platform/ini_file.h"

namespace veltrane {

namespace {

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string Cm(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f cm\u207b\u00b9", std::fabs(value));
    return text;
}

} // namespace

// The corrections' file: one section per serial holds both.
AxisCheckLog::AxisCheckLog(const std::string& settingsFile) : m_path(AxisCorrectionStore(settingsFile).path()) {}

std::optional<AxisCheckRecord> AxisCheckLog::last(const std::string& serial) const {
    IniFile file(m_path);
    AxisCheckRecord check;
    const std::string result = file.readString(serial, "Check result", "");
    if (result != "pass" && result != "fail") return std::nullopt;
    check.pass = result == "pass";
    check.date = file.readString(serial, "Check date", "");
    check.standard = file.readString(serial, "Check standard", "");
    auto largest = ReadStoredNumber(file, serial, "Check largest");
    auto rms = ReadStoredNumber(file, serial, "Check rms");
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
