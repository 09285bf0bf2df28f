#include <gtest/gtest.h>

#include <memory>

#include "app/hotkeys.h"
#include "app/mode_switch.h"
#include "shared/window_rules.h"
#include "library/row_boxes.h"

namespace veltrane {
namespace {

TEST(WindowRules, PlacementOnTheScreenAndOverTheOwner) {
    EXPECT_EQ(StartupPlacement(1920, 1080).left, 320);
    EXPECT_EQ(StartupPlacement(1920, 1080).top, 156);
    EXPECT_EQ(StartupPlacement(1280, 720).left, 0);
    EXPECT_EQ(StartupPlacement(1280, 720).top, 0);
    EXPECT_EQ(StartupPlacement(1281, 769).left, 0); // (1281 - 1280) / 2 truncates
    WindowPosition at = CentredOver(100, 50, 1280, 768, 418, 297);
    EXPECT_EQ(at.left, 531);
    EXPECT_EQ(at.top, 285);
    // A window larger than its owner: halves truncate toward zero, not down.
    at = CentredOver(0, 0, 400, 300, 403, 305);
    EXPECT_EQ(at.left, -1);
    EXPECT_EQ(at.top, -2);
}

TEST(WindowRules, StatusTextsAndIcons) {
    EXPECT_EQ(StatusValueText(ActiveMode::Spectrum, 0), "MSR_time:");
    EXPECT_EQ(StatusValueText(ActiveMode::Spectrum, 2350), "MSR_time: 2350 ms");
    EXPECT_EQ(StatusValueText(ActiveMode::Linker, 12), "Library quantity: 12");
    EXPECT_EQ(StatusValueText(ActiveMode::Linker, 0), "Library quantity: 0");
    EXPECT_EQ(StatusLabelText(ActiveMode::Spectrum), "MSR_status: ");
    EXPECT_EQ(StatusLabelText(ActiveMode::Linker), "Trans_status: ");
    StatusIcon icon = StatusIcon::Blank;
    const StatusIcon expected[] = {StatusIcon::Blank, StatusIcon::Green, StatusIcon::Grey, StatusIcon::Red};
    for (std::uint32_t v = 0; v < 4; ++v) {
        ASSERT_TRUE(StatusIconForRun(v, icon));
        EXPECT_EQ(icon, expected[v]);
    }
    EXPECT_FALSE(StatusIconForRun(4, icon));
    ASSERT_TRUE(StatusIconForConnection(1, icon));
    EXPECT_EQ(icon, StatusIcon::Red);
    EXPECT_FALSE(StatusIconForConnection(2, icon));
    EXPECT_EQ(StatusIconBaseFor(1280) + kStatusIconOffset, 1100);
    EXPECT_EQ(StatusIconBaseFor(1600) + kConnectionIconOffset, 1560);
}

TEST(WindowRules, ScreenSizesFitTheUsableArea) {
    ScreenFit fit = FitScreenSize(5, 1366, 740);
    EXPECT_EQ(fit.width, 1366);
    EXPECT_EQ(fit.height, 740);
    EXPECT_EQ(fit.left, 0);
    EXPECT_EQ(fit.top, 0);
    fit = FitScreenSize(0, 1920, 1050);
    EXPECT_EQ(fit.width, 1024);
    EXPECT_EQ(fit.height, 768);
    EXPECT_EQ(fit.left, 448);
    EXPECT_EQ(fit.top, 141);
}

TEST(Hotkeys, DispatchOrderAndModes) {
    HOTKEY keys;
    for (std::size_t i = 0; i < kHotkeyCount; ++i) keys.keys[i] = kDefaultHotkeys[i];
    EXPECT_EQ(DispatchHotkey(keys, ActiveMode::Spectrum, "C"), HotkeyFunction::Capture);
    EXPECT_EQ(DispatchHotkey(keys, ActiveMode::Linker, "C"), std::nullopt);
    EXPECT_EQ(DispatchHotkey(keys, ActiveMode::Linker, "E"), HotkeyFunction::LibraryExport);
    EXPECT_EQ(DispatchHotkey(keys, ActiveMode::Spectrum, "E"), std::nullopt);
    EXPECT_EQ(DispatchHotkey(keys, ActiveMode::Linker, "A"), HotkeyFunction::Marker);
    EXPECT_EQ(DispatchHotkey(keys, ActiveMode::Spectrum, "c"), std::nullopt);
    // Library Draw and Spectrum mode share a key: Draw is compared first.
    keys.keys[0] = "D";
    EXPECT_EQ(DispatchHotkey(keys, ActiveMode::Linker, "D"), HotkeyFunction::LibraryDraw);
    EXPECT_EQ(DispatchHotkey(keys, ActiveMode::Spectrum, "D"), std::nullopt);
    keys.keys[7] = " ";
    EXPECT_EQ(DispatchHotkey(keys, ActiveMode::Spectrum, " "), std::nullopt);
}

TEST(Hotkeys, AssignmentAndHints) {
    HOTKEY keys;
    for (std::size_t i = 0; i < kHotkeyCount; ++i) keys.keys[i] = kDefaultHotkeys[i];
    EXPECT_FALSE(AssignHotkey(keys, 3, "E"));
    EXPECT_EQ(keys.keys[2], "C");
    EXPECT_TRUE(AssignHotkey(keys, 3, "C"));
    EXPECT_TRUE(AssignHotkey(keys, 8, " "));
    EXPECT_TRUE(AssignHotkey(keys, 7, " ")); // any number of functions without a key
    EXPECT_TRUE(AssignHotkey(keys, 5, "?"));
    EXPECT_FALSE(AssignHotkey(keys, 0, "Z"));
    EXPECT_EQ(HotkeyHint(HotkeyFunction::OpenRaw, "O"), "Open Raw Data (O)");
    EXPECT_EQ(HotkeyHint(HotkeyFunction::Marker, " "), "Marker");
    EXPECT_EQ(HotkeyHint(HotkeyFunction::LibraryExport, ""), "Export Library");
    EXPECT_STREQ(HotkeyFunctionText(HotkeyFunction::LibraryExport), "Library Export");
}

TEST(RowBoxes, LayoutFitsBoxesToTheGridHeight) {
    RowBoxLayout tall = LayoutRowBoxes(300, 201, 3);
    EXPECT_EQ(tall.fitRows, 7);
    EXPECT_EQ(tall.top[7], 300 + 181);
    EXPECT_TRUE(tall.visible[0]);
    EXPECT_TRUE(tall.visible[3]);
    EXPECT_FALSE(tall.visible[4]); // no fourth library
    EXPECT_FALSE(tall.visible[8]); // does not fit
    EXPECT_EQ(LayoutRowBoxes(0, 40, 10).fitRows, 3);
    EXPECT_EQ(LayoutRowBoxes(0, 5000, 40).fitRows, 33);
    EXPECT_EQ(LayoutRowBoxes(0, 5000, 40).visible[33], true);
}

} // namespace
} // namespace veltrane
