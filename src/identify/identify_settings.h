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

} // namespace veltrane
