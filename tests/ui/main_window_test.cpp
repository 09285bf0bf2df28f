#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>

#include "app/ui/about_window.h"
#include "app/ui/setup_window.h"
#include "identify/ui/identify_controller.h"
#include "shared/ui/status_panels.h"
#include "ui/app_fixture.h"

namespace veltrane {
namespace {

using test::AppFixture;

class MainWindow : public AppFixture {};

std::vector<std::string> TreeLines(QTreeWidget* tree) {
    std::vector<std::string> lines;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* root = tree->topLevelItem(i);
        lines.push_back(root->text(0).toStdString());
        for (int c = 0; c < root->childCount(); ++c)
            lines.push_back("  " + root->child(c)->text(0).toStdString());
    }
    return lines;
}

TEST_F(MainWindow, StartsInSpectrumModeWithItsCaptionLogoAndButtons) {
    start();
    EXPECT_EQ(main().windowTitle(), "Veltrane_V 1.3 beta");
    QTabWidget* pages = find<QTabWidget>("PageControl1");
    EXPECT_EQ(pages->currentWidget()->objectName(), "Measure");
    EXPECT_TRUE(pages->isTabVisible(0));
    EXPECT_FALSE(pages->isTabVisible(1));
    EXPECT_TRUE(find<QToolButton>("SpeedButton_spectrum_mode")->isChecked());
    EXPECT_FALSE(find<QToolButton>("SpeedButton_linker_mode")->isChecked());
    for (const char* name : {"SpeedButton_msr", "SpeedButton_setup", "SpeedButton_open_raw", "SpeedButton_save_raw",
                             "SpeedButton_save_lib"})
        EXPECT_TRUE(find(name)->isVisibleTo(&main())) << name;
    for (const char* name : {"SpeedButton_import_dev", "SpeedButton_import_pc", "SpeedButton_export",
                             "SpeedButton_draw", "SpeedButton_import_spectra"})
        EXPECT_FALSE(find(name)->isVisibleTo(&main())) << name;
    EXPECT_TRUE(find("Image_main_brenmor")->isVisibleTo(&main()));
    EXPECT_FALSE(find("Image_main_korvel")->isVisibleTo(&main()));
    EXPECT_EQ(main().statusPanels()->valueText(), "MSR_time:");
    EXPECT_EQ(main().statusPanels()->labelText(), "MSR_status: ");
    EXPECT_EQ(find<QLineEdit>("Edit_exp")->text(), "3000");
    EXPECT_EQ(find<QLineEdit>("Edit_avg_cnt")->text(), "1");
    EXPECT_EQ(find<QLineEdit>("Edit_laser_preheat")->text(), "20000");
    EXPECT_EQ(state().hotkey.keys, (std::array<std::string, 8>{"S", "L", "C", "O", "M", "E", "D", "A"}));
}

TEST_F(MainWindow, ToolButtonHintsAreExact) {
    start();
    const std::pair<const char*, const char*> hints[] = {
        {"SpeedButton_spectrum_mode", "Spectrum Mode (S)"},
        {"SpeedButton_linker_mode", "Linker Mode (L)"},
        {"SpeedButton_msr", "Capture (C)"},
        {"SpeedButton_setup", "Setup"},
        {"SpeedButton_open_raw", "Open Raw Data (O)"},
        {"SpeedButton_save_raw", "Save Raw Data"},
        {"SpeedButton_save_lib", "Make Library (M)"},
        {"SpeedButton_import_pc", "Import PC Library "},
        {"SpeedButton_import_dev", "Import Device Library "},
        {"SpeedButton_export", "Export Library (E)"},
        {"SpeedButton_draw", "Draw Library (D)"},
        {"SpeedButton_import_spectra", "Import Spectra…"},
        {"SpeedButton_horizontal", "Auto Horizontal"},
        {"SpeedButton_vertical", "Auto Vertical"},
        {"SpeedButton_coordinate_set", "Coordinate Set"},
        {"SpeedButton_marker", "Marker (A)"},
        {"SpeedButton_mark_info", "Marker Set"},
    };
    for (auto [name, hint] : hints)
        EXPECT_EQ(find(name)->toolTip().toStdString(), hint) << name;
    EXPECT_TRUE(find("SpeedButton_help")->toolTip().isEmpty());
}

TEST_F(MainWindow, ModeSwitchesAndTheirRefusals) {
    start();
    main().SpeedButton_linker_modeClick();
    QTabWidget* pages = find<QTabWidget>("PageControl1");
    EXPECT_EQ(pages->currentWidget()->objectName(), "Lib_manager");
    EXPECT_FALSE(pages->isTabVisible(0));
    EXPECT_EQ(main().statusPanels()->valueText(), "Library quantity: 0");
    EXPECT_EQ(main().statusPanels()->labelText(), "Trans_status: ");
    EXPECT_TRUE(find("SpeedButton_draw")->isVisibleTo(&main()));
    EXPECT_TRUE(find("SpeedButton_import_spectra")->isVisibleTo(&main()));
    EXPECT_FALSE(find("SpeedButton_msr")->isVisibleTo(&main()));
    EXPECT_TRUE(find<QCheckBox>("CheckBox0")->isVisibleTo(&main()));
    EXPECT_FALSE(find<QCheckBox>("CheckBox1")->isVisibleTo(&main())); // no library listed

    state().library.transferState = 1;
    main().SpeedButton_spectrum_modeClick();
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Library Transfer Processing!"});
    EXPECT_EQ(dialogs.messages[0].caption, "Information");
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(pages->currentWidget()->objectName(), "Lib_manager");
    EXPECT_TRUE(find<QToolButton>("SpeedButton_linker_mode")->isChecked());

    state().library.transferState = 0;
    main().SpeedButton_spectrum_modeClick();
    EXPECT_EQ(pages->currentWidget()->objectName(), "Measure");
    state().measurement.progress.measureTime = 2350;
    main().UpdateStatusBar(0, 2350);
    EXPECT_EQ(main().statusPanels()->valueText(), "MSR_time: 2350 ms");

    state().measurement.measureState = 1;
    main().SpeedButton_linker_modeClick();
    EXPECT_EQ(dialogs.texts().back(), "Measure Processing!");
    EXPECT_EQ(pages->currentWidget()->objectName(), "Measure");
    EXPECT_TRUE(find<QToolButton>("SpeedButton_spectrum_mode")->isChecked());
    EXPECT_FALSE(find<QToolButton>("SpeedButton_linker_mode")->isChecked());
    state().measurement.measureState = 0;
}

TEST_F(MainWindow, StatusBarIconsFollowTheWindowWidth) {
    start();
    main().show();
    for (auto [width, statusX, connectionX] : {std::tuple{1280, 1100, 1240}, std::tuple{1600, 1420, 1560}}) {
        int frameExtra = main().frameGeometry().width() - main().width();
        main().resize(width - frameExtra, 768);
        QApplication::processEvents();
        ASSERT_EQ(main().frameGeometry().width(), width);
        EXPECT_EQ(state().shell.statusIconBase, width - 530);
        EXPECT_EQ(main().statusPanels()->statusIconLabel()->x(), statusX);
        EXPECT_EQ(main().statusPanels()->connectionIconLabel()->x(), connectionX);
        EXPECT_EQ(main().libraryGrid()->columnWidth(1), width - 500);
    }
    EXPECT_EQ(main().statusPanels()->iconBase(), 1070);
    QProgressBar* bar = main().progressBar();
    EXPECT_EQ(bar->x(), 80);
    EXPECT_EQ(bar->width(), 150);
    EXPECT_EQ(bar->maximum(), 100);

    main().UpdateStatusBar(1, 2);
    EXPECT_EQ(main().statusPanels()->statusIcon(), StatusIcon::Grey);
    main().UpdateStatusBar(1, 7); // label only
    EXPECT_EQ(main().statusPanels()->statusIcon(), StatusIcon::Grey);
    main().UpdateStatusBar(2, 1);
    EXPECT_EQ(main().statusPanels()->connectionIcon(), StatusIcon::Red);
    main().UpdateStatusBar(2, 5);
    EXPECT_EQ(main().statusPanels()->connectionIcon(), StatusIcon::Red);
}

TEST_F(MainWindow, IdentifiesEachModelInTheTreeAndForgetsItOnUnplug) {
    struct Case {
        SimModel model;
        std::string root;
    };
    for (Case c : {Case{SimModelLarge2500(), "TL100"}, Case{SimModelLarge2048(), "TL200"},
                   Case{SimModelSmall256(), "Unknow"}, Case{SimModelUnknown(), "Unknow"}}) {
        attach(c.model);
        start();
        tick();
        QTreeWidget* tree = find<QTreeWidget>("TreeView1");
        auto lines = TreeLines(tree);
        ASSERT_EQ(lines.size(), 5u) << c.model.label;
        EXPECT_EQ(lines[0], c.root);
        EXPECT_EQ(lines[1], "  HW S/N: " + std::to_string(c.model.hwMajor) + "." + std::to_string(c.model.hwMinor));
        EXPECT_EQ(lines[4], "  Dev S/N: " + std::to_string(c.model.deviceSerial));
        EXPECT_EQ(main().statusPanels()->connectionIcon(), StatusIcon::Green);
        EXPECT_EQ(main().statusPanels()->statusIcon(), StatusIcon::Blank);
        EXPECT_TRUE(dialogs.messages.empty());

        bridge.unplug(bridge.instrumentCount() - 1);
        tick();
        EXPECT_EQ(tree->topLevelItemCount(), 0);
        EXPECT_EQ(main().statusPanels()->connectionIcon(), StatusIcon::Red);
        app->mainWindow().close();
        app.reset();
    }
}

TEST_F(MainWindow, UncalibratedDeviceIsToldAndRefusedDeviceIsToldOnce) {
    attach(SimModelLarge2048());
    instrument->removeFile(wire::kCalibrationPath);
    start();
    tick();
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Wave calibration not exist!"});
    EXPECT_EQ(TreeLines(find<QTreeWidget>("TreeView1"))[1], "  Wave cal not exist!");
    EXPECT_EQ(state().device.displayHigh, 2048);

    bridge.unplug();
    tick();
    SimModel odd = SimModelLarge2500();
    odd.frameLength = 3000;
    attach(odd);
    dialogs.messages.clear();
    tick();
    tick();
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Device not supported!"});
    EXPECT_EQ(find<QTreeWidget>("TreeView1")->topLevelItemCount(), 0);
}

TEST_F(MainWindow, HotkeysActOnlyInTheirModeAndNeverOnASpace) {
    start();
    QSignalSpy capture(find<QToolButton>("SpeedButton_msr"), &QToolButton::clicked);
    QSignalSpy draw(find<QToolButton>("SpeedButton_draw"), &QToolButton::clicked);
    main().FormKeyPress("C");
    EXPECT_EQ(capture.count(), 1);
    main().FormKeyPress(" ");
    main().FormKeyPress("X");
    main().FormKeyPress("L");
    EXPECT_EQ(state().shell.activeMode, ActiveMode::Linker);
    EXPECT_TRUE(find<QToolButton>("SpeedButton_linker_mode")->isChecked());
    main().FormKeyPress("C");
    EXPECT_EQ(capture.count(), 1);
    main().FormKeyPress("D");
    EXPECT_EQ(draw.count(), 1);

    // Capture and Library Draw sharing a key: Capture is compared first and
    // does not act in the Linker mode, so nothing happens.
    state().hotkey.keys[6] = "C";
    main().FormKeyPress("C");
    EXPECT_EQ(draw.count(), 1);
    EXPECT_EQ(capture.count(), 1);
    // A space as a function's key never fires.
    state().hotkey.keys[0] = " ";
    main().FormKeyPress(" ");
    EXPECT_EQ(state().shell.activeMode, ActiveMode::Linker);
    main().FormKeyPress("S"); // no longer Spectrum mode's key
    EXPECT_EQ(state().shell.activeMode, ActiveMode::Linker);
}

TEST_F(MainWindow, TypedKeysReachTheHotkeysUnlessANumberBoxHasTheFocus) {
    start();
    main().show();
    QApplication::setActiveWindow(&main());
    QSignalSpy capture(find<QToolButton>("SpeedButton_msr"), &QToolButton::clicked);
    main().setFocus();
    type(&main(), "c");
    EXPECT_EQ(capture.count(), 1);

    QLineEdit* exposure = find<QLineEdit>("Edit_exp");
    exposure->setFocus();
    QApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), exposure);
    EXPECT_FALSE(main().keyPreview());
    type(&main(), "C");
    EXPECT_EQ(capture.count(), 1);
    main().setFocus();
    QApplication::processEvents();
    EXPECT_TRUE(main().keyPreview());
}

TEST_F(MainWindow, SetupWindowAssignsHotkeysAndRefusesDuplicates) {
    start();
    TForm_setup& setup = app->setupWindow();
    QTableWidget* grid = setup.hotkeyGrid();
    ASSERT_EQ(grid->rowCount(), 10);
    EXPECT_EQ(grid->item(0, 0)->text(), "Function");
    EXPECT_EQ(grid->item(0, 1)->text(), "Hot Key");
    EXPECT_EQ(grid->item(3, 0)->text(), "Capture");
    EXPECT_EQ(grid->item(3, 1)->text(), "C");
    EXPECT_EQ(grid->columnWidth(0), 230);
    EXPECT_EQ(state().hotkey.count, 8);

    grid->setCurrentCell(3, 0);
    setup.StringGrid_hotkeyKeyPress("E");
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Hotkey existed!"});
    EXPECT_EQ(state().hotkey.keys[2], "C");
    setup.StringGrid_hotkeyKeyPress("C"); // its own key again
    EXPECT_EQ(dialogs.messages.size(), 1u);
    setup.StringGrid_hotkeyKeyPress("7");
    EXPECT_EQ(grid->item(3, 1)->text(), "7");
    EXPECT_EQ(find("SpeedButton_msr")->toolTip(), "Capture (7)");

    // The Identify key shares the keyboard with the eight.
    EXPECT_EQ(grid->item(9, 0)->text(), "Identify");
    EXPECT_EQ(grid->item(9, 1)->text(), "I");
    setup.StringGrid_hotkeyKeyPress("I");
    EXPECT_EQ(state().hotkey.keys[2], "7");
    grid->setCurrentCell(9, 0);
    setup.StringGrid_hotkeyKeyPress("7");
    EXPECT_EQ(dialogs.texts().size(), 3u);
    setup.StringGrid_hotkeyKeyPress("K");
    EXPECT_EQ(grid->item(9, 1)->text(), "K");
    EXPECT_EQ(main().identify().hotkey(), "K");

    grid->setCurrentCell(8, 0);
    setup.StringGrid_hotkeyKeyPress(" ");
    EXPECT_EQ(find("SpeedButton_marker")->toolTip(), "Marker");
    QSignalSpy marker(find<QToolButton>("SpeedButton_marker"), &QToolButton::clicked);
    main().FormKeyPress("A");
    EXPECT_EQ(marker.count(), 0);
}

TEST_F(MainWindow, SecondaryWindowsAreCentredAndDisableTheMainWindow) {
    start();
    main().show();
    main().move(100, 50);
    QApplication::processEvents();
    main().SpeedButton_setupClick();
    TForm_setup& setup = app->setupWindow();
    EXPECT_TRUE(setup.isVisible());
    EXPECT_FALSE(main().isEnabled());
    QRect m = main().frameGeometry();
    EXPECT_EQ(setup.frameGeometry().left(), m.left() + (m.width() - setup.frameGeometry().width()) / 2);
    EXPECT_EQ(setup.frameGeometry().top(), m.top() + (m.height() - setup.frameGeometry().height()) / 2);
    setup.Button_screen_cancelClick();
    EXPECT_TRUE(main().isEnabled());
    EXPECT_FALSE(setup.isVisible());

    main().SpeedButton_helpClick();
    TForm_about& about = app->aboutWindow();
    EXPECT_TRUE(about.isVisible());
    EXPECT_FALSE(main().isEnabled());
    EXPECT_EQ(about.windowTitle(), "About Veltrane");
    EXPECT_EQ(about.findChild<QLabel*>("Label_ver")->text(), "Veltrane Version: V 1.3 beta");
    EXPECT_TRUE(about.findChild<QLabel*>("Image_brenmor_logo")->isVisibleTo(&about));
    EXPECT_FALSE(about.findChild<QLabel*>("Image_korvel")->isVisibleTo(&about));
    about.close();
    EXPECT_TRUE(main().isEnabled());

    TForm_about korvel(&main(), BrandVariant::Korvel);
    EXPECT_TRUE(korvel.findChild<QLabel*>("Image_korvel")->isVisibleTo(&korvel));
    EXPECT_TRUE(korvel.findChild<QLabel*>("Label_copyright_korvel")->isVisibleTo(&korvel));
    EXPECT_FALSE(korvel.findChild<QLabel*>("Image_brenmor_logo")->isVisibleTo(&korvel));
    EXPECT_NE(korvel.findChild<QLabel*>("Label_web")->text(), about.findChild<QLabel*>("Label_web")->text());
}

TEST_F(MainWindow, SettingsSurviveARestartAndDeviceFolderIsEmptied) {
    std::filesystem::create_directories(dir.path() + "device");
    std::ofstream(dir.path() + "device/left-over.rlb") << "x";
    std::ofstream(dir.path() + "device/keep.txt") << "x";
    start();
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "device/left-over.rlb"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "device/keep.txt"));

    find<QLineEdit>("Edit_exp")->setText("1500");
    find<QLineEdit>("Edit_avg_cnt")->setText("70000");
    find<QLineEdit>("Edit_laser_preheat")->setText("25000.5"); // not a whole number: not written
    state().hotkey.keys[7] = "Q";
    std::ofstream(dir.path() + "device/imported.rlb") << "x";
    main().close();
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "device/imported.rlb"));
    std::string text = settingsText();
    EXPECT_NE(text.find("[Form]\r\nfile=1\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Exptime=1500"), std::string::npos);
    EXPECT_NE(text.find("Average=4464"), std::string::npos);
    EXPECT_EQ(text.find("Laser preheat"), std::string::npos);
    EXPECT_NE(text.find("Marker=Q"), std::string::npos);
    app.reset();

    start();
    EXPECT_EQ(find<QLineEdit>("Edit_exp")->text(), "1500");
    EXPECT_EQ(find<QLineEdit>("Edit_avg_cnt")->text(), "4464");
    EXPECT_EQ(find<QLineEdit>("Edit_laser_preheat")->text(), "20000"); // the file's default
    EXPECT_EQ(state().measurement.measureParams.exposureMs, 1500u);
    EXPECT_EQ(state().hotkey.keys[7], "Q");
    EXPECT_EQ(find("SpeedButton_marker")->toolTip(), "Marker (Q)");
}

TEST_F(MainWindow, ReadsASettingsFileAnotherProgramWrote) {
    std::ofstream(dir.path() + "veltrane.ini", std::ios::binary)
        << "[FORM]\r\nFILE=1\r\n[measure set]\r\nEXPTIME=800\r\nlaser preheat=70000\r\nLaser Power=300\r\n"
           "[hotkey]\r\ncapture=x\r\n";
    start();
    EXPECT_EQ(find<QLineEdit>("Edit_exp")->text(), "800");
    EXPECT_EQ(find<QLineEdit>("Edit_avg_cnt")->text(), "3");
    EXPECT_EQ(find<QLineEdit>("Edit_laser_preheat")->text(), "4464");
    EXPECT_EQ(find<QLineEdit>("Edit_laser_power")->text(), "44");
    // A lower-case key from the file never matches a typed key, which is
    // always upper-cased.
    QSignalSpy capture(find<QToolButton>("SpeedButton_msr"), &QToolButton::clicked);
    main().FormKeyPress("X");
    EXPECT_EQ(capture.count(), 0);
    EXPECT_EQ(find("SpeedButton_msr")->toolTip(), "Capture (x)");
}

TEST_F(MainWindow, RendersToAPictureForPeopleToLookAt) {
    attach();
    start();
    tick();
    main().resize(1264, 730);
    main().show();
    QApplication::processEvents();
    QPixmap shot = main().grab();
    EXPECT_EQ(shot.width(), main().width());
    EXPECT_TRUE(shot.save("main_window.png"));
    main().SpeedButton_linker_modeClick();
    QApplication::processEvents();
    EXPECT_TRUE(main().grab().save("main_window_linker.png"));
}

} // namespace
} // namespace veltrane
