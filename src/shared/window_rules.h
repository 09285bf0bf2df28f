#pragma once

#include <cstdint>
#include <string>

namespace veltrane {

// Which page the main window shows; the status bar and the hotkeys read it.
enum class ActiveMode : std::uint8_t { Spectrum = 0, Linker = 1 };

// Geometry and status-bar rules of the main window, as plain functions so
// they can be checked without a window.

struct WindowPosition {
    int left;
    int top;
};

// Where the main window opens on a screen of the given size: a 1280 x 768
// frame centred, or the top left corner on a smaller screen.
WindowPosition StartupPlacement(int screenWidth, int screenHeight);

// A secondary window of the given outer size centred over the main window
// (halves truncated toward zero).
WindowPosition CentredOver(int ownerLeft, int ownerTop, int ownerWidth, int ownerHeight, int width, int height);

// Status bar: panel 2 text (kind 0), panel 3 label (kind 1), icon images.
enum class StatusIcon : std::uint8_t { Green = 0, Grey = 1, Red = 2, Blank = 3 };
std::string StatusValueText(ActiveMode mode, std::uint32_t value);
std::string StatusLabelText(ActiveMode mode);
// Icon of a measurement or transfer status 0..3; nothing above 3.
bool StatusIconForRun(std::uint32_t status, StatusIcon& icon);
// Icon of the connection: 0 connected (green), 1 no device (red); nothing above 1.
bool StatusIconForConnection(std::uint32_t value, StatusIcon& icon);

constexpr int kStatusIconBaseOffset = 530; // main window width minus this
constexpr int kStatusIconOffset = 350;     // status icon x from the base
constexpr int kConnectionIconOffset = 490; // connection icon x from the base
inline int StatusIconBaseFor(int mainWidth) {
    return mainWidth - kStatusIconBaseOffset;
}

// Outcome of pressing a mode button.
enum class ModeSwitch : std::uint8_t { Switch, RefuseMeasuring, RefuseTransferring, Stay };
constexpr const char* kMeasureProcessingMessage = "Measure Processing!";
constexpr const char* kTransferProcessingMessage = "Library Transfer Processing!";

// The "Screen" page of the setup window: the six sizes, and the size and
// position a choice gives within the usable full-screen area W x H (H
// including the caption).
constexpr int kScreenSizeCount = 6;
extern const char* const kScreenSizeNames[kScreenSizeCount];
struct ScreenFit {
    int width;
    int height;
    int left;
    int top;
};
ScreenFit FitScreenSize(int index, int fullWidth, int fullHeightWithCaption);

} // namespace veltrane
