#include "app/settings.h"

#include <limits>
#include <optional>

namespace veltrane {

namespace {

constexpr const char* kFormSection = "Form";
constexpr const char* kSavedKey = "file";

constexpr const char* kMeasureSection = "Measure Set";
constexpr const char* kExposureKey = "Exptime";
constexpr const char* kAverageKey = "Average";
constexpr const char* kPreheatKey = "Laser preheat";
constexpr const char* kPowerKey = "Laser power";

constexpr const char* kExposureSection = "EXPOSURE";
constexpr const char* kAutoKey = "Auto";

constexpr const char* kSampleSection = "SAMPLE";
constexpr const char* kOperatorKey = "Operator";
constexpr const char* kKeepKey = "Keep";

constexpr const char* kHotkeySection = "HOTKEY";
constexpr std::array<const char*, kHotkeyCount> kHotkeyNames = {
    "Spectrum mode", "Linker mode", "Capture", "Open Raw", "Make Library", "Library Export", "Library Draw", "Marker"};
constexpr std::array<const char*, kHotkeyCount> kHotkeyDefaults = {"S", "L", "C", "O", "M", "E", "D", "A"};

// The settings' own "saved" value; anything else (a first run gives the
// default 255) means the file holds no measurement settings worth reading.
constexpr std::uint8_t kSettingsSaved = 1;

std::optional<std::int32_t> parseInt32(std::string_view text) {
    const std::optional<std::int64_t> value = ParseWholeNumber(text);
    if (!value || *value < std::numeric_limits<std::int32_t>::min() ||
        *value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(*value);
}

// A whole number as the profile reader gives it: 32 bits wide, so a value
// beyond that is no whole number and reads as the default rather than as its
// low bits (5000000000 would otherwise be an exposure of 705032704 ms).
std::int64_t readWhole32(const IniFile& ini, std::string_view section, std::string_view key, std::int64_t fallback) {
    std::int64_t value = ini.readInteger(section, key, fallback);
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::uint32_t>::max())
        return fallback;
    return value;
}

} // namespace

void ReadSettings(const IniFile& ini, ProgramState& state, MeasureBoxTexts& boxes) {
    state.shell.settingsSaved = static_cast<std::uint8_t>(readWhole32(ini, kFormSection, kSavedKey, 255));

    for (std::size_t i = 0; i < kHotkeyCount; ++i)
        state.hotkey.keys[i] = ini.readString(kHotkeySection, kHotkeyNames[i], kHotkeyDefaults[i]);

    if (state.shell.settingsSaved != kSettingsSaved) return;

    // The stored fields are as wide as the instrument's command fields; larger
    // numbers in the file keep only their low bits, as they always have.
    MeasureParams& params = state.measurement.measureParams;
    params.exposureMs = static_cast<std::uint32_t>(readWhole32(ini, kMeasureSection, kExposureKey, 3000));
    params.averageCount = static_cast<std::uint16_t>(readWhole32(ini, kMeasureSection, kAverageKey, 3));
    params.preheatMs = static_cast<std::uint16_t>(readWhole32(ini, kMeasureSection, kPreheatKey, 20000));
    params.laserPower = static_cast<std::uint8_t>(readWhole32(ini, kMeasureSection, kPowerKey, 100));

    // The exposure box shows the value signed, so a stored 4294967295 reads
    // back as the "-1" that was typed.
    boxes.exposure = std::to_string(static_cast<std::int32_t>(params.exposureMs));
    boxes.average = std::to_string(params.averageCount);
    boxes.preheat = std::to_string(params.preheatMs);
    boxes.power = std::to_string(params.laserPower);
}

bool WriteSettings(IniFile& ini, const MeasureBoxTexts& boxes, const HOTKEY& hotkey,
                   const std::vector<IniFile::Entry>& extra) {
    // One rewrite of the file for all keys, in their order: a disk that fills
    // up keeps the earlier file whole instead of a mixture of old and new.
    std::vector<IniFile::Entry> entries;
    entries.push_back({kFormSection, kSavedKey, std::to_string(kSettingsSaved)});

    // An unconvertible box skips only its own key; stopping here would lose
    // every setting after it.
    if (const std::optional<std::int32_t> exposure = parseInt32(boxes.exposure))
        entries.push_back({kMeasureSection, kExposureKey, std::to_string(*exposure)});
    if (const std::optional<std::int64_t> average = ParseWholeNumber(boxes.average))
        entries.push_back({kMeasureSection, kAverageKey, std::to_string(static_cast<std::uint16_t>(*average))});
    if (const std::optional<std::int64_t> preheat = ParseWholeNumber(boxes.preheat))
        entries.push_back({kMeasureSection, kPreheatKey, std::to_string(static_cast<std::uint16_t>(*preheat))});
    if (const std::optional<std::int64_t> power = ParseWholeNumber(boxes.power))
        entries.push_back({kMeasureSection, kPowerKey, std::to_string(static_cast<std::uint8_t>(*power))});

    for (std::size_t i = 0; i < kHotkeyCount; ++i)
        entries.push_back({kHotkeySection, kHotkeyNames[i], hotkey.keys[i]});
    entries.insert(entries.end(), extra.begin(), extra.end());
    return ini.writeStrings(entries);
}

bool ReadAutoExposure(const IniFile& ini) {
    return ini.readInteger(kExposureSection, kAutoKey, 0) == 1;
}

IniFile::Entry AutoExposureEntry(bool automatic) {
    return {kExposureSection, kAutoKey, automatic ? "1" : "0"};
}

SampleSettings ReadSampleSettings(const IniFile& ini) {
    return {ini.readString(kSampleSection, kOperatorKey, ""), ini.readInteger(kSampleSection, kKeepKey, 0) == 1};
}

std::vector<IniFile::Entry> SampleSettingsEntries(const SampleSettings& settings) {
    // In quotes, which the reader takes off: blanks at either end and
    // quotes of the name itself come back as typed. A line of the file has
    // no room for a line break.
    std::string name = settings.operatorName;
    for (char& c : name)
        if (c == '\r' || c == '\n') c = ' ';
    return {{kSampleSection, kOperatorKey, "\"" + name + "\""},
            {kSampleSection, kKeepKey, settings.keepForNext ? "1" : "0"}};
}

} // namespace veltrane
