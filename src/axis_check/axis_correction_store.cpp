#include "axis_check/axis_correction_store.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "platform/ini_file.h"

namespace veltrane {

namespace {

constexpr const char* kFileName = "axis_corrections.ini";
constexpr const char* kRemoved = "none";

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

} // namespace

std::optional<double> ReadStoredNumber(const IniFile& file, const std::string& section, const char* key) {
    std::string text = file.readString(section, key, "");
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !std::isfinite(value)) return std::nullopt;
    return value;
}

AxisCorrectionStore::AxisCorrectionStore(const std::string& settingsFile)
    : m_path((std::filesystem::path(settingsFile).parent_path() / kFileName).string()) {}

std::optional<StoredAxisCorrection> AxisCorrectionStore::find(const std::string& serial) const {
    IniFile file(m_path);
    const std::string kind = file.readString(serial, "Kind", "");
    StoredAxisCorrection stored;
    if (kind == "offset")
        stored.correction.kind = AxisCorrectionKind::Offset;
    else if (kind == "wavelength axis")
        stored.correction.kind = AxisCorrectionKind::WavelengthAxis;
    else
        return std::nullopt;
    auto offset = ReadStoredNumber(file, serial, "Offset");
    auto wavelength = ReadStoredNumber(file, serial, "WavelengthNm");
    auto laser = ReadStoredNumber(file, serial, "LaserNm");
    // A correction that does not read whole is no correction: an axis moved
    // by half a stored value would be worse than none.
    if (!offset || !wavelength || !laser || std::fabs(*offset) > 1000.0 || std::fabs(*wavelength) > 100.0 ||
        !(*laser > 0.0))
        return std::nullopt;
    stored.correction.offset = *offset;
    stored.correction.wavelengthNm = *wavelength;
    stored.correction.laserNm = *laser;
    stored.date = file.readString(serial, "Date", "");
    stored.standard = file.readString(serial, "Standard", "");
    return stored;
}

bool AxisCorrectionStore::save(const std::string& serial, const StoredAxisCorrection& s) {
    const AxisCorrection& c = s.correction;
    return IniFile(m_path).writeStrings({
        {serial, "Kind", c.kind == AxisCorrectionKind::Offset ? "offset" : "wavelength axis"},
        {serial, "Offset", Number(c.offset)},
        {serial, "WavelengthNm", Number(c.wavelengthNm)},
        {serial, "LaserNm", Number(c.laserNm)},
        {serial, "Date", s.date},
        {serial, "Standard", s.standard},
    });
}

bool AxisCorrectionStore::remove(const std::string& serial) {
    if (!find(serial)) return true;
    return IniFile(m_path).writeString(serial, "Kind", kRemoved);
}

std::string InstrumentKey(const DeviceInfo& device) {
    return device.deviceSerial != 0 ? std::to_string(device.deviceSerial) : std::string();
}

std::string AxisCorrectionText(const StoredAxisCorrection& stored) {
    const double move = CorrectionAt(stored.correction, 1000.0);
    char text[96];
    std::snprintf(text, sizeof text, "Axis corrected by %s%.1f cm\u207B\u00B9", move < 0 ? "\u2212" : "+",
                  std::fabs(move));
    std::string out = text;
    if (stored.correction.kind == AxisCorrectionKind::WavelengthAxis) out += " at 1000 cm\u207B\u00B9";
    if (!stored.date.empty()) out += " on " + stored.date;
    return out;
}

} // namespace veltrane
