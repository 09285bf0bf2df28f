#pragma once

#include <string>

#include "app/program_state.h"
#include "platform/ini_file.h" // also brings ParseWholeNumber, which the measurement code reuses

namespace veltrane {

// The texts of the four measurement edit boxes (Edit_exp, Edit_avg_cnt,
// Edit_laser_preheat, Edit_laser_power), as typed or as shown.
struct MeasureBoxTexts {
    std::string exposure, average, preheat, power;
};

// Told on closing when the settings file could not be written.
constexpr const char* kSettingsSaveFailed = "Can not save settings!";

// Reads the saved-flag and the hotkeys into the state and, only when the file
// says settings were saved, the measurement parameters into the state and the
// boxes. Otherwise the parameters and the boxes keep what the caller gave them.
void ReadSettings(const IniFile& ini, ProgramState& state, MeasureBoxTexts& boxes);

// Writes the saved-flag, the four boxes and the eight hotkeys. A box that is
// not a whole number is skipped, so the file keeps its earlier value for it,
// and the rest is still written. False when any file write failed.
// `extra` entries (settings of other parts of the program) go into the same
// rewrite, after the rest.
bool WriteSettings(IniFile& ini, const MeasureBoxTexts& boxes, const HOTKEY& hotkey,
                   const std::vector<IniFile::Entry>& extra = {});

// Whether Auto beside Int.time was ticked when the window closed. It lives in
// a section of its own, so the measurement section keeps its four keys.
bool ReadAutoExposure(const IniFile& ini);
IniFile::Entry AutoExposureEntry(bool automatic);

// The operator typed beside the parameters, kept between sessions, and
// whether the sample name and notes are kept for the next capture rather
// than cleared; in a section of their own.
struct SampleSettings {
    std::string operatorName;
    bool keepForNext = false;
};
SampleSettings ReadSampleSettings(const IniFile& ini);
std::vector<IniFile::Entry> SampleSettingsEntries(const SampleSettings& settings);

} // namespace veltrane
