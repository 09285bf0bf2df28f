#pragma once

#include <optional>
#include <string>

#include "axis_check/axis_check.h"
#include "device/device_info.h"

namespace veltrane {

// The axis corrections of the instruments this PC has checked, one per
// serial number, kept in "axis_corrections.ini" beside the settings file:
// a correction belongs to the instrument and this PC's check of it, not to
// the instrument's memory or to any spectrum file (raw files keep what the
// instrument measured).
struct StoredAxisCorrection {
    AxisCorrection correction;
    std::string date;     // "2026-12-09", when it was applied
    std::string standard; // the reference material checked
};

class AxisCorrectionStore {
public:
    // `settingsFile` is the program's settings file; the store lives beside it.
    explicit AxisCorrectionStore(const std::string& settingsFile);

    std::optional<StoredAxisCorrection> find(const std::string& serial) const;
    // False when the file could not be written; the old one is then kept.
    bool save(const std::string& serial, const StoredAxisCorrection& stored);
    bool remove(const std::string& serial);

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// The instrument's name in the store: its device serial number, as the
// device information shows it; empty for an instrument that reports none,
// which can then keep no correction.
std::string InstrumentKey(const DeviceInfo& device);

class IniFile;
// A finite number written in the file under `key`; nullopt for anything else.
std::optional<double> ReadStoredNumber(const IniFile& file, const std::string& section, const char* key);

// "Axis corrected by −2.4 cm⁻¹ on 2026-12-09" (the move at 1000 cm⁻¹ for a
// correction of the wavelength axis, which moves each shift differently).
std::string AxisCorrectionText(const StoredAxisCorrection& stored);

} // namespace veltrane
