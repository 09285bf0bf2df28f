#include "identify/identify_settings.h"

namespace veltrane {

namespace {
constexpr const char* kHotkeySection = "HOTKEY";
}

std::string ReadIdentifyHotkey(const IniFile& ini) {
    return ini.readString(kHotkeySection, kIdentifyHotkeyKey, kDefaultIdentifyHotkey);
}

IniFile::Entry IdentifyHotkeyEntry(const std::string& key) {
    return {kHotkeySection, kIdentifyHotkeyKey, key};
}

int ReadIdentifyPanelWidth(const IniFile& ini) {
    std::int64_t width = ini.readInteger(kIdentifySection, kIdentifyPanelWidthKey, 0);
    // A hand-edited value far off any screen counts as unset.
    return width > 0 && width <= 10000 ? static_cast<int>(width) : 0;
}

IniFile::Entry IdentifyPanelWidthEntry(int width) {
    return {kIdentifySection, kIdentifyPanelWidthKey, std::to_string(width)};
}

std::string ReadReportFolder(const IniFile& ini) {
    return ini.readString(kReportSection, "Folder", "");
}

IniFile::Entry ReportFolderEntry(const std::string& folder) {
    return {kReportSection, "Folder", folder};
}

bool ReadReportLetter(const IniFile& ini) {
    return ini.readString(kReportSection, "Paper", "A4") == "Letter";
}

IniFile::Entry ReportPaperEntry(bool letter) {
    return {kReportSection, "Paper", letter ? "Letter" : "A4"};
}

} // namespace veltrane
