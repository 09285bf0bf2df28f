#include "shared/window_rules.h"

#include <algorithm>

namespace veltrane {

WindowPosition StartupPlacement(int screenWidth, int screenHeight) {
    return {screenWidth > 1280 ? (screenWidth - 1280) / 2 : 0, screenHeight > 768 ? (screenHeight - 768) / 2 : 0};
}

WindowPosition CentredOver(int ownerLeft, int ownerTop, int ownerWidth, int ownerHeight, int width, int height) {
    // C++ division truncates toward zero, as the placement rule wants even
    // when the window is larger than its owner.
    return {ownerLeft + (ownerWidth - width) / 2, ownerTop + (ownerHeight - height) / 2};
}

std::string StatusValueText(ActiveMode mode, std::uint32_t value) {
    if (mode == ActiveMode::Linker) return "Library quantity: " + std::to_string(value);
    if (value == 0) return "MSR_time:";
    return "MSR_time: " + std::to_string(value) + " ms";
}

std::string StatusLabelText(ActiveMode mode) {
    return mode == ActiveMode::Spectrum ? "MSR_status: " : "Trans_status: ";
}

bool StatusIconForRun(std::uint32_t status, StatusIcon& icon) {
    switch (status) {
    case 0:
        icon = StatusIcon::Blank;
        return true;
    case 1:
        icon = StatusIcon::Green;
        return true;
    case 2:
        icon = StatusIcon::Grey;
        return true;
    case 3:
        icon = StatusIcon::Red;
        return true;
    default:
        return false;
    }
}

bool StatusIconForConnection(std::uint32_t value, StatusIcon& icon) {
    if (value > 1) return false;
    icon = value == 0 ? StatusIcon::Green : StatusIcon::Red;
    return true;
}

const char* const kScreenSizeNames[kScreenSizeCount] = {"1024x768", "1280x768", "1280x1024",
                                                        "1366x768", "1600x900", "1920x1080"};

ScreenFit FitScreenSize(int index, int fullWidth, int fullHeight) {
    static constexpr int sizes[kScreenSizeCount][2] = {{1024, 768}, {1280, 768}, {1280, 1024},
                                                       {1366, 768}, {1600, 900}, {1920, 1080}};
    index = std::clamp(index, 0, kScreenSizeCount - 1);
    int width = std::min(sizes[index][0], fullWidth);
    int height = std::min(sizes[index][1], fullHeight);
    return {width, height, (fullWidth - width) / 2, (fullHeight - height) / 2};
}

} // namespace veltrane
