#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>

#include "app/ui/about_window.h"
#include "app/ui/setup_window.h"
#include "library/library_file_bytes.h"
#include "library/ui/library_controller.h"
#include "library/ui/make_library_window.h"
#include "library/ui/rename_window.h"
#include "measure/ui/measure_controller.h"
#include "shared/ui/status_panels.h"
#include "transfer/ui/transfer_controller.h"
#include "ui/app_fixture.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;

// The traps a new user falls into, and the small windows' keys.
class Usability : public test::AppFixture {
protected:
    std::string local() { return dir.path() + "local/"; }
    void writePc(const std::string& name, float offset = 0.0f) {
        fs::create_directories(local());
        test::WriteBytes(local() + name + ".rlb", test::PcLibraryBytes(test::HeaderBytes(name, 179), offset));
    }
    void listPc() {
        main().SpeedButton_linker_modeClick();
        find<QToolButton>("SpeedButton_import_pc")->click();
    }
    void tickLibrary(const std::string& name) {
        for (int r = 1; r <= main().libraryGrid()->rowCount(); ++r)
            if (main().library().rowName(r) == name) state().library.rowTicks[r] = 1;
    }
    QAction* menu(const char* name) { return main().libraryGrid()->findChild<QAction*>(name); }
    bool transferDone() { return state().library.transferState == 0 && !main().transfer().workerBusy(); }
    std::vector<std::string> curveTitles() {
        std::vector<std::string> titles;
        ChartModel& chart = main().libraryChart();
        for (std::size_t i = 0; i < chart.seriesCount(); ++i)
            titles.push_back(chart.seriesTitle(chart.seriesByIndex(i)));
        return titles;
    }
    void focusOn(QWidget* widget) {
        widget->window()->show();
        QApplication::setActiveWindow(widget->window());
        widget->setFocus();
        QApplication::processEvents();
        ASSERT_EQ(QApplication::focusWidget(), widget);
    }
    void key(QWidget* window, Qt::Key k) {
        QWidget* target = QApplication::focusWidget();
        if (!target || target->window() != window) target = window;
        QTest::keyClick(target, k);
    }
};

TEST_F(Usability, ExportSaysWhatItReplacesAndThatItIsDone) {
    realTime = true;
    speed = 50;
    attach();
    instrument->loadDefaultLibraryStore();
    const auto store = *instrument->file(kDeviceLibraryPath);
    writePc("fresh");
    start();
    tick();
    main().SpeedButton_linker_modeClick();
    find<QToolButton>("SpeedButton_import_dev")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return transferDone(); }, 20000));
    const int held = state().library.lib.libraryCount;
    ASSERT_GE(held, 2);
    const std::string kept = main().library().rowName(1);
    std::vector<std::string> lost;
    for (int r = 2; r <= held; ++r)
        lost.push_back(main().library().rowName(r));

    // From the PC folder: one new library and none of the instrument's.
    find<QToolButton>("SpeedButton_import_pc")->click();
    tickLibrary("fresh");
    dialogs.answers.push_back(DialogAnswer::Cancel);
    dialogs.messages.clear();
    find<QToolButton>("SpeedButton_export")->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    const auto& question = dialogs.messages.back();
    EXPECT_EQ(question.buttons, MessageButtons::OkCancel);
    EXPECT_EQ(question.text.rfind("Export replaces all libraries on the instrument with the 1 ticked one. Continue?"
                                  "\n\nThese libraries will be gone from the instrument:\n",
                                  0),
              0u);
    for (const std::string& name : lost)
        EXPECT_NE(question.text.find("\n" + name), std::string::npos) << name;
    EXPECT_EQ(state().library.transferState, 0); // cancelled: nothing sent
    EXPECT_EQ(*instrument->file(kDeviceLibraryPath), store);

    // From the mirror: keeping the first library names the others as lost,
    // and the end of the export is told.
    main().SpeedButton_linker_modeClick();
    find<QToolButton>("SpeedButton_import_dev")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return transferDone(); }, 20000));
    tickLibrary(kept);
    dialogs.messages.clear();
    find<QToolButton>("SpeedButton_export")->click();
    EXPECT_EQ(dialogs.messages.front().text.find("\n" + kept), std::string::npos);
    ASSERT_TRUE(QTest::qWaitFor([&] { return transferDone(); }, 20000));
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages.back().text, "Process Completed");
    EXPECT_EQ(main().statusPanels()->notice(), "Exported 1 library to the instrument");
    EXPECT_EQ(instrument->file(kDeviceLibraryPath)->size(), 5120u);
}

TEST_F(Usability, TypingIntoABoxNeverRunsAHotkey) {
    attach();
    start();
    tick();
    QSignalSpy capture(find<QToolButton>("SpeedButton_msr"), &QToolButton::clicked);
    for (const char* box : {"Edit_smooth", "Edit_exp", "Edit_laser_preheat"}) {
        focusOn(find<QLineEdit>(box));
        type(&main(), "c");
        type(&main(), "l");
    }
    EXPECT_EQ(capture.count(), 0);
    EXPECT_EQ(state().measurement.measureState, 0);
    EXPECT_FALSE(instrument->laserOn());
    EXPECT_EQ(state().shell.activeMode, ActiveMode::Spectrum);
    // Away from the boxes the keys still work.
    focusOn(&main());
    type(&main(), "l");
    EXPECT_EQ(state().shell.activeMode, ActiveMode::Linker);
}

TEST_F(Usability, ClosingDuringACaptureAsksUnlessASignalCloses) {
    realTime = true;
    speed = 50; // the 20 s preheat lasts 0.4 s
    attach();
    start();
    tick();
    main().show();
    find<QLineEdit>("Edit_exp")->setText("1000");
    find<QToolButton>("SpeedButton_msr")->click();
    ASSERT_EQ(state().measurement.measureState, 1);
    EXPECT_TRUE(find<QToolButton>("SpeedButton_msr")->property("busyLook").toBool());
    EXPECT_EQ(main().statusPanels()->valueText(), ""); // the last capture's time is gone
    main().measure().MSR_TimerTimer();
    EXPECT_TRUE(main().statusPanels()->valueText().startsWith("Dark 1/1, "))
        << main().statusPanels()->valueText().toStdString();

    dialogs.answers.push_back(DialogAnswer::Cancel);
    main().close();
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"A measurement is running. Stop it and close?"});
    EXPECT_TRUE(main().isVisible());
    EXPECT_TRUE(main().measure().workerBusy()); // goes on

    main().closeAtOnce();
    EXPECT_EQ(dialogs.messages.size(), 1u); // nothing asked
    EXPECT_FALSE(main().isVisible());
    EXPECT_FALSE(main().measure().workerBusy());
    EXPECT_FALSE(instrument->laserOn());
}

TEST_F(Usability, DeletedAndRenamedLibrariesLeaveTheChart) {
    for (const char* n : {"alpha", "beta", "gamma"})
        writePc(n);
    start();
    listPc();
    for (const char* n : {"alpha", "beta", "gamma"})
        tickLibrary(n);
    find<QToolButton>("SpeedButton_draw")->click();
    ASSERT_EQ(curveTitles().size(), 3u);

    listPc();
    tickLibrary("beta");
    menu("Delete")->trigger();
    std::vector<std::string> left = curveTitles();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"alpha", "gamma"}));
    EXPECT_TRUE(main().libraryChart().legendVisible());

    tickLibrary("gamma");
    menu("Rename")->trigger();
    app->renameWindow().findChild<QLineEdit*>("Edit_new_name")->setText("delta");
    app->renameWindow().Button_renameClick();
    EXPECT_EQ(curveTitles(), std::vector<std::string>{"alpha"});
    tickLibrary("alpha");
    menu("Delete")->trigger();
    EXPECT_TRUE(curveTitles().empty());
    EXPECT_FALSE(main().libraryChart().legendVisible());
}

TEST_F(Usability, LibraryGridBoxesReadClearly) {
    for (const char* n : {"alpha", "beta", "gamma"})
        writePc(n);
    start();
    main().show();
    listPc();
    QApplication::processEvents();
    auto* all = find<QCheckBox>("CheckBox0");
    // The "All" title's word starts to the right of its box.
    QHeaderView* header = main().libraryGrid()->horizontalHeader();
    const int wordLeft = header->viewport()
                             ->mapTo(&main(), QPoint(header->sectionViewportPosition(0) + header->sectionSize(0) -
                                                         header->fontMetrics().horizontalAdvance("All") - 2,
                                                     0))
                             .x();
    const int boxRight = all->mapTo(&main(), QPoint(all->width(), 0)).x();
    EXPECT_LT(boxRight, wordLeft);
    // Row boxes look like boxes, not greyed out; clicks still go to the grid.
    auto* row1 = find<QCheckBox>("CheckBox1");
    EXPECT_TRUE(row1->isEnabled());
    EXPECT_TRUE(row1->testAttribute(Qt::WA_TransparentForMouseEvents));

    all->click();
    EXPECT_EQ(main().library().tickedRows(), (std::vector<int>{1, 2, 3}));
    main().libraryGrid()->setCurrentCell(1, 1); // row 2
    main().library().StringGrid_libClick();
    EXPECT_FALSE(all->isChecked());
    EXPECT_FALSE(find<QCheckBox>("CheckBox2")->isChecked());
    main().library().StringGrid_libClick(); // ticked again: all rows are
    EXPECT_TRUE(all->isChecked());
}

TEST_F(Usability, SetupWindowShowsTheSizeInForceAndCloses) {
    start();
    main().show();
    TForm_setup& setup = app->setupWindow();
    main().resize(1280 - (main().frameGeometry().width() - main().width()),
                  1024 - (main().frameGeometry().height() - main().height()));
    main().SpeedButton_setupClick();
    const QSize now = main().frameGeometry().size();
    EXPECT_EQ(setup.findChild<QLabel*>("Label_size_in_force")->text(),
              QString("Size now: %1x%2").arg(now.width()).arg(now.height()));
    if (now == QSize(1280, 1024)) {
        EXPECT_EQ(setup.findChild<QComboBox*>("ComboBox_form_size")->currentText(), "1280x1024");
    }
    EXPECT_EQ(setup.findChild<QLabel*>("Label_hotkey_hint")->text(), "Select a function, then press the key for it.");
    setup.findChild<QPushButton*>("Button_setup_close")->click();
    EXPECT_FALSE(setup.isVisible());
    EXPECT_TRUE(main().isEnabled());
}

TEST_F(Usability, EnterConfirmsAndEscapeClosesTheSmallWindows) {
    attach();
    start();
    tick();
    main().show();
    fillMeasured([](int i) { return 100.0f + i; }, 10.0f);
    state().device.waveCalValid = true;

    // Save to Library: Enter in the name box saves.
    find<QToolButton>("SpeedButton_save_lib")->click();
    TForm_make_lib& makeLib = app->makeLibraryWindow();
    ASSERT_TRUE(makeLib.isVisible());
    auto* name = makeLib.findChild<QLineEdit*>("Edit_file_name");
    name->setText("entered");
    focusOn(name);
    key(&makeLib, Qt::Key_Return);
    EXPECT_TRUE(fs::exists(local() + "entered.rlb"));
    EXPECT_FALSE(makeLib.isVisible());
    EXPECT_EQ(main().statusPanels()->notice(), "Library entered made");

    // Rename: Escape leaves it, the name unchanged.
    listPc();
    tickLibrary("entered");
    menu("Rename")->trigger();
    TForm_rename& rename = app->renameWindow();
    ASSERT_TRUE(rename.isVisible());
    focusOn(rename.findChild<QLineEdit*>("Edit_new_name"));
    key(&rename, Qt::Key_Escape);
    EXPECT_FALSE(rename.isVisible());
    EXPECT_TRUE(main().isEnabled());
    EXPECT_TRUE(fs::exists(local() + "entered.rlb"));

    // About: a button, and Escape, close it.
    main().SpeedButton_helpClick();
    TForm_about& about = app->aboutWindow();
    ASSERT_TRUE(about.isVisible());
    focusOn(&about);
    key(&about, Qt::Key_Escape);
    EXPECT_FALSE(about.isVisible());
    main().SpeedButton_helpClick();
    about.findChild<QPushButton*>("Button_about_ok")->click();
    EXPECT_FALSE(about.isVisible());
    EXPECT_TRUE(main().isEnabled());
}

TEST_F(Usability, TheWindowSaysWhatItShows) {
    attach();
    const auto calibration = *instrument->file(wire::kCalibrationPath);
    instrument->removeFile(wire::kCalibrationPath);
    start();
    tick();
    EXPECT_EQ(main().spectrumChart().axisTitleCaption(ChartAxis::Bottom), "Pixel");
    // The tree's lines are whole in their tooltips, the serial numbers too.
    QTreeWidgetItem* root = main().deviceTree()->topLevelItem(0);
    ASSERT_NE(root, nullptr);
    for (int i = 0; i < root->childCount(); ++i)
        EXPECT_EQ(root->child(i)->toolTip(0), root->child(i)->text(0));
    EXPECT_EQ(main().deviceTree()->header()->sectionResizeMode(0), QHeaderView::ResizeToContents);

    // Calibrated: Raman shift, and a saved file is confirmed and named.
    instrument->setFile(wire::kCalibrationPath, calibration);
    bridge.unplug();
    tick();
    bridge.replug();
    tick();
    ASSERT_TRUE(state().device.waveCalValid);
    EXPECT_EQ(main().spectrumChart().axisTitleCaption(ChartAxis::Bottom), "Ramanshift(cm-1)");
    fillMeasured([](int i) { return 100.0f + i; }, 10.0f);
    const std::string path = dir.path() + "poly.rsd";
    dialogs.saveAnswers.push_back(path);
    find<QToolButton>("SpeedButton_save_raw")->click();
    ASSERT_TRUE(fs::exists(path));
    EXPECT_EQ(main().statusPanels()->notice(), QString::fromStdString("Saved " + path));
    EXPECT_EQ(main().windowTitle(), "Veltrane_V 1.3 beta - poly.rsd");
}

// Help and version answer without any display to open.
TEST(CommandLine, HelpAndVersionNeedNoWindowSystem) {
    for (const char* option : {"--help", "--version"}) {
        QProcess veltrane;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        veltrane.setProcessEnvironment(env);
        veltrane.start(VELTRANE_APP_PATH, {option});
        ASSERT_TRUE(veltrane.waitForFinished(20000)) << option;
        const QString out = QString::fromLocal8Bit(veltrane.readAllStandardOutput());
        EXPECT_EQ(veltrane.exitStatus(), QProcess::NormalExit) << option;
        EXPECT_EQ(veltrane.exitCode(), 0)
            << option << QString::fromLocal8Bit(veltrane.readAllStandardError()).toStdString();
        EXPECT_TRUE(out.contains(std::string(option) == "--help" ? "--simulator" : kVersionText)) << out.toStdString();
    }
    // A mistyped option is told there too, as a usage error.
    QProcess veltrane;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    veltrane.setProcessEnvironment(env);
    veltrane.start(VELTRANE_APP_PATH, {"--simulatr"});
    ASSERT_TRUE(veltrane.waitForFinished(20000));
    EXPECT_EQ(veltrane.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(veltrane.exitCode(), 64);
    EXPECT_TRUE(QString::fromLocal8Bit(veltrane.readAllStandardError()).contains("Unknown option 'simulatr'"));
}

} // namespace
} // namespace veltrane
