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

} // namespace veltrane
