#include "app/hotkeys.h"

namespace veltrane {

namespace {

struct FunctionInfo {
    const char* gridText;
    const char* hintName;
    bool spectrum;
    bool linker;
};

constexpr FunctionInfo kFunctions[kHotkeyCount] = {
    {"Spectrum Mode", "Spectrum Mode", true, true},
    {"Linker Mode", "Linker Mode", true, true},
    {"Capture", "Capture", true, false},
    {"Open Raw", "Open Raw Data", true, false},
    {"Make Library", "Make Library", true, false},
    {"Library Export", "Export Library", false, true},
    {"Library Draw", "Draw Library", false, true},
    {"Marker", "Marker", true, true},
};

// The order in which a typed key is compared with the functions' keys.
constexpr HotkeyFunction kDispatchOrder[kHotkeyCount] = {
    HotkeyFunction::Capture,     HotkeyFunction::LibraryDraw, HotkeyFunction::LibraryExport,
    HotkeyFunction::LinkerMode,  HotkeyFunction::MakeLibrary, HotkeyFunction::OpenRaw,
    HotkeyFunction::SpectrumMode, HotkeyFunction::Marker,
};

const FunctionInfo& Info(HotkeyFunction f) { return kFunctions[static_cast<std::size_t>(f)]; }

} // namespace

const char* HotkeyFunctionText(HotkeyFunction function) { return Info(function).gridText; }

std::string HotkeyHint(HotkeyFunction function, const std::string& key) {
    std::string name = Info(function).hintName;
    if (key.empty() || key == " ") return name;
    return name + " (" + key + ")";
}

bool HotkeyActsIn(HotkeyFunction function, ActiveMode mode) {
    return mode == ActiveMode::Spectrum ? Info(function).spectrum : Info(function).linker;
}

std::optional<HotkeyFunction> DispatchHotkey(const HOTKEY& hotkey, ActiveMode mode, const std::string& typed) {
    if (typed == " ") return std::nullopt;
    for (HotkeyFunction f : kDispatchOrder) {
        if (hotkey.keys[static_cast<std::size_t>(f)] != typed) continue;
        // The first equal key decides, even when its function does not act in
        // this mode.
        if (!HotkeyActsIn(f, mode)) return std::nullopt;
        return f;
    }
    return std::nullopt;
}

bool AssignHotkey(HOTKEY& hotkey, int row, const std::string& typed) {
    if (row < 1 || row > static_cast<int>(kHotkeyCount)) return false;
    if (typed != " ") {
        for (int other = 1; other <= static_cast<int>(kHotkeyCount); ++other)
            if (other != row && hotkey.keys[other - 1] == typed) return false;
    }
    hotkey.keys[row - 1] = typed;
    return true;
}

} // namespace veltrane
