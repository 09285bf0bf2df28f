#pragma once

#include <optional>
#include <string>

#include "app/program_state.h"

namespace veltrane {

// The eight functions a single key can start, in the order of the HOTKEY
// record (and of the setup grid's rows 1 to 8).
enum class HotkeyFunction : std::uint8_t {
    SpectrumMode = 0,
    LinkerMode = 1,
    Capture = 2,
    OpenRaw = 3,
    MakeLibrary = 4,
    LibraryExport = 5,
    LibraryDraw = 6,
    Marker = 7,
};

constexpr const char* kHotkeyExistedMessage = "Hotkey existed!";
constexpr const char* kDefaultHotkeys[kHotkeyCount] = {"S", "L", "C", "O", "M", "E", "D", "A"};

// Text of the function in the setup grid ("Spectrum Mode", ...).
const char* HotkeyFunctionText(HotkeyFunction function);
// The tooltip of the function's button for a key: "Capture (C)", or the name
// alone when the function has no key (empty or a single space).
std::string HotkeyHint(HotkeyFunction function, const std::string& key);
// Whether the function's key acts in the given mode.
bool HotkeyActsIn(HotkeyFunction function, ActiveMode mode);

// The main window's key press: `typed` is the typed character already turned
// into upper-case 8-bit text. The keys are compared in a fixed order and the
// first equal one is chosen; the result is the function to run, or nothing
// when the key is a space, matches no key or belongs to the other mode.
std::optional<HotkeyFunction> DispatchHotkey(const HOTKEY& hotkey, ActiveMode mode, const std::string& typed);

// A key typed on row `row` (1..8) of the setup grid. False when another row
// already has that key ("Hotkey existed!"); a space is always accepted and
// removes the row's key.
bool AssignHotkey(HOTKEY& hotkey, int row, const std::string& typed);

} // namespace veltrane
