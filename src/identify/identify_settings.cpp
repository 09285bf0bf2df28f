#include "identify/identify_settings.h"

namespace veltrane {

namespace {
constexpr const char* kHotkeySection = "HOTKEY";
}

std::string ReadIdentifyHotkey(const IniFile& ini) {
    return ini.readString(kHotkeySection, kIdentifyHotkeyKey, kDefaultIdentifyHotkey);
}

bool WriteIdentifyHotkey(IniFile& ini, const std::string& key) {
    return ini.writeString(kHotkeySection, kIdentifyHotkeyKey, key);
}

} // namespace veltrane
