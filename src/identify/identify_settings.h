#pragma once

#include <string>

#include "platform/ini_file.h"

namespace veltrane {

// The Identify button's key, kept beside the eight others in [HOTKEY]. A
// settings file from before identification has no such key and reads as the
// default.
constexpr const char* kIdentifyHotkeyKey = "Identify";
constexpr const char* kDefaultIdentifyHotkey = "I";

std::string ReadIdentifyHotkey(const IniFile& ini);
// The key's entry, written with the other settings in one rewrite.
IniFile::Entry IdentifyHotkeyEntry(const std::string& key);

// The width the user last gave the identification panel, in pixels; 0 when
// it was never set.
constexpr const char* kIdentifySection = "IDENTIFY";
constexpr const char* kIdentifyPanelWidthKey = "Panel width";
int ReadIdentifyPanelWidth(const IniFile& ini);
IniFile::Entry IdentifyPanelWidthEntry(int width);

// Where Report… last wrote a report, and the paper it is laid out for.
constexpr const char* kReportSection = "REPORT";
std::string ReadReportFolder(const IniFile& ini);
IniFile::Entry ReportFolderEntry(const std::string& folder);
// "A4" or "Letter"; anything else reads as A4.
bool ReadReportLetter(const IniFile& ini);
IniFile::Entry ReportPaperEntry(bool letter);

} // namespace veltrane
