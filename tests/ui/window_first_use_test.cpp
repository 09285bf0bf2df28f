#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSplitter>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QValueAxis>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "identify/ui/identify_controller.h"
#include "interchange/spc_file.h"
#include "interchange/ui/interchange_controller.h"
#include "library/library_file_bytes.h"
#include "library/make_library.h"
#include "library/ui/library_controller.h"
#include "measure/ui/coordinate_window.h"
#include "measure/ui/measure_controller.h"
#include "shared/ui/chart_view.h"
#include "shared/ui/status_panels.h"
#include "ui/app_fixture.h"

namespace veltrane {
namespace {

// What a new user ran into with the window: menus, boxes, the panel, the
// chart's view of a new spectrum.
class FirstUse : public test::AppFixture {
protected:
    void startIdentified() {
        attach();
        start();
        tick();
    }
    ChartView* chart() { return find<ChartView>("Chart_measure"); }
    const std::vector<ChartPoint>& drawn() { return main().spectrumChart().seriesPoints(main().measuredSeries()); }
    std::string write(const std::string& name, const std::string& content) {
        std::ofstream(dir.path() + name, std::ios::binary) << content;
        return dir.path() + name;
    }
    std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void open(const std::string& path) {
        dialogs.openAnswers.push_back(path);
        find<QToolButton>("SpeedButton_open_raw")->click();
    }
    void showWindow(QSize size = QSize(1280, 768)) {
        main().resize(size);
        main().show();
        QApplication::setActiveWindow(&main());
        QApplication::processEvents();
    }
    void focusOn(QWidget* widget) {
        QApplication::setActiveWindow(widget->window());
        widget->setFocus();
        QApplication::processEvents();
        ASSERT_EQ(QApplication::focusWidget(), widget);
    }
    // The pop-up menu open while `act` runs or right after it (a menu that
    // runs its own loop is read there), closed again: each entry's caption
    // and whether it can be chosen. Empty when no menu opened.
    using Entries = std::vector<std::pair<std::string, bool>>;
    Entries menuDuring(const std::function<void()>& act) {
        auto seen = std::make_shared<Entries>();
        QTimer::singleShot(0, [seen] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            for (QAction* a : menu->actions())
                seen->push_back({a->text().toStdString(), a->isEnabled()});
            menu->close();
        });
        act();
        QApplication::processEvents();
        return *seen;
    }
};

// Points from `from` to `to` cm-1, 2 apart, with bands of the given
// (position, height) over a floor of 100.
std::string BandsCsv(double from, double to, std::vector<std::pair<double, double>> bands) {
    std::string text = "shift,counts\n";
    for (double x = from; x <= to; x += 2.0) {
        double y = 100.0;
        for (auto [at, height] : bands)
            y += height * std::exp(-std::pow((x - at) / 12.0, 2));
        text += std::to_string(x) + "," + std::to_string(y) + "\n";
    }
    return text;
}

TEST_F(FirstUse, ANewSpectrumGetsItsOwnRangesWhateverTheLastOneWasPannedOrZoomedTo) {
    startIdentified();
    showWindow();
    open(write("tall.csv", BandsCsv(400, 3000, {{1000, 5000}})));
    ChartView* view = chart();
    QWidget* port = view->viewport();
    const QPoint centre = port->rect().center();
    // A right press whose release went to a menu, as on X11: the pointer
    // moving afterwards, no button held, must not pan.
    QMouseEvent press(QEvent::MouseButtonPress, centre, port->mapToGlobal(centre), Qt::RightButton, Qt::RightButton,
                      Qt::NoModifier);
    QApplication::sendEvent(port, &press);
    const QPoint away = centre + QPoint(80, 60);
    QMouseEvent move(QEvent::MouseMove, away, port->mapToGlobal(away), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(port, &move);
    EXPECT_FALSE(view->zoomed());

    // Export cancelled, then the wheel zooms in; the next file is drawn in
    // the ranges its settings give.
    dialogs.saveAnswers.push_back(std::nullopt);
    find<QAction>("Action_export_spectrum")->trigger();
    view->zoomTo(900, 1100, 3000, 5500);
    open(write("weak.csv", BandsCsv(400, 3000, {{1500, 37}})));
    view->syncNow();
    EXPECT_FALSE(view->zoomed());
    EXPECT_EQ(view->bottomAxis()->min(), 400.0);
    EXPECT_EQ(view->leftAxis()->min(), main().spectrumChart().currentAxisMinimum(ChartAxis::Left));
    EXPECT_EQ(view->leftAxis()->max(), main().spectrumChart().currentAxisMaximum(ChartAxis::Left));
    EXPECT_LT(view->leftAxis()->max(), 200.0);
}

TEST_F(FirstUse, SmoothingFollowsTheBoxWhenItLosesTheFocus) {
    startIdentified();
    showWindow();
    open(write("peak.csv", BandsCsv(500, 900, {{700, 800}})));
    const double top = drawn()[100].y; // x = 700
    QLineEdit* smooth = find<QLineEdit>("Edit_smooth");
    smooth->setText("10");
    main().measure().Edit_smoothKeyPress(13);
    ASSERT_LT(drawn()[100].y, top);

    focusOn(smooth);
    smooth->selectAll();
    QTest::keyClicks(smooth, "0");
    ASSERT_EQ(smooth->text(), "0");
    focusOn(find<QLineEdit>("Edit_exp")); // Tab, or a click elsewhere
    EXPECT_EQ(drawn()[100].y, top);

    const std::string csv = dir.path() + "out.csv";
    dialogs.saveAnswers.push_back(csv);
    find<QAction>("Action_export_spectrum")->trigger();
    EXPECT_NE(read(csv).find("\n700," + std::to_string(static_cast<int>(top))), std::string::npos) << read(csv);
}

TEST_F(FirstUse, EveryOpenedFileNamesItselfInTheCaptionAndTheLegend) {
    startIdentified();
    fillMeasured([](int i) { return 1000.0f + 300.0f * std::sin(i * 0.05f); }, 500.0f);
    dialogs.saveAnswers.push_back(dir.path() + "capture.rsd");
    find<QToolButton>("SpeedButton_save_raw")->click();
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.texts().front();
    InterchangeSpectrum spc;
    for (int i = 0; i < 50; ++i) {
        spc.x.push_back(500.0f + 10.0f * i);
        spc.y.push_back(100.0f + static_cast<float>(i));
    }
    spc.title = "title inside";
    const std::string files[][2] = {
        {"peak.csv", BandsCsv(500, 900, {{700, 800}})},
        {"capture.rsd", ""},
        {"bands.jdx", "##TITLE=title inside\n##XUNITS=1/CM\n##XYPOINTS=(XY..XY)\n500,1\n510,2\n520,1\n##END=\n"},
        {"bands.spc", WriteSpcSpectrum(spc)},
    };
    for (const auto& [name, content] : files) {
        open(content.empty() ? dir.path() + name : write(name, content));
        ASSERT_TRUE(dialogs.messages.empty()) << name << ": " << dialogs.texts().front();
        EXPECT_TRUE(main().windowTitle().endsWith(" - " + QString::fromStdString(name)))
            << main().windowTitle().toStdString();
        EXPECT_EQ(main().spectrumChart().seriesTitle(main().measuredSeries()), name);
    }
}

TEST_F(FirstUse, RightDragPansAndARightClickOpensTheMenuOnRelease) {
    startIdentified();
    showWindow();
    open(write("peak.csv", BandsCsv(400, 4000, {{1000, 900}})));
    ChartView* view = chart();
    view->syncNow();
    // Through the window system, where X11 and this platform open a context
    // menu on the press.
    QWindow* window = main().windowHandle();
    ASSERT_NE(window, nullptr);
    const QPoint from = view->viewport()->mapTo(&main(), view->viewport()->rect().center());
    const QPoint to = from + QPoint(100, 0);
    const double left = view->bottomAxis()->min();
    // A button another test left down would make these presses a chord.
    if (QGuiApplication::mouseButtons() & Qt::LeftButton) QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(1, 1));
    EXPECT_TRUE(menuDuring([&] { QTest::mousePress(window, Qt::RightButton, {}, from); }).empty());
    QTest::mouseMove(window, from + QPoint(50, 0));
    QTest::mouseMove(window, to);
    EXPECT_TRUE(menuDuring([&] { QTest::mouseRelease(window, Qt::RightButton, {}, to); }).empty());
    EXPECT_TRUE(view->zoomed());
    EXPECT_LT(view->bottomAxis()->min(), left - 100.0); // the curve went right with the pointer

    EXPECT_TRUE(menuDuring([&] { QTest::mousePress(window, Qt::RightButton, {}, to); }).empty());
    Entries menu = menuDuring([&] { QTest::mouseRelease(window, Qt::RightButton, {}, to); });
    ASSERT_FALSE(menu.empty());
    EXPECT_EQ(menu.front().first, "Export Spectrum…");
}

TEST_F(FirstUse, ReadoutAndPeakLabelsFollowWhatIsDrawn) {
    startIdentified();
    showWindow();
    // Beyond the fixed 400-4000 but for its first bands; the one at 3900 is
    // cut off by a fixed intensity range of 0-1000.
    open(write("far.csv", BandsCsv(3648, 8736, {{3750, 600}, {3900, 5000}, {6000, 3000}})));
    TForm_coordinate& coordinate = *main().coordinateWindow();
    coordinate.findChild<QCheckBox*>("CheckBox_y_auto")->setChecked(false);
    coordinate.findChild<QLineEdit*>("Edit_Y_start")->setText("0");
    coordinate.findChild<QLineEdit*>("Edit_Y_end")->setText("1000");
    coordinate.Button_coordinate_setClick();
    ChartView* view = chart();
    find<QToolButton>("SpeedButton_peaks")->click();
    view->syncNow();
    view->grab();
    ASSERT_EQ(view->labelledPeaks().size(), 1u);
    EXPECT_NEAR(view->labelledPeaks()[0], 3750.0, 2.0);

    QWidget* port = view->viewport();
    QTest::mouseMove(port, port->rect().center());
    auto readoutX = [&] {
        QString text = main().statusPanels()->readout(); // "X: 2088.3  Y: 512"
        return text.section(' ', 1, 1).toDouble();
    };
    EXPECT_GT(readoutX(), 400.0);
    EXPECT_LT(readoutX(), 4000.0);
    // The range changes under a pointer that stays where it is.
    find<QToolButton>("SpeedButton_horizontal")->click();
    EXPECT_GT(readoutX(), 4000.0);
    EXPECT_LT(readoutX(), 8736.0);
}

TEST_F(FirstUse, TheLaserAskedForAFileInNanometresIsTheInstrumentsOrTheLastOneGiven) {
    startIdentified(); // the virtual instrument's laser is 532 nm
    const std::string nm =
        write("nm.jdx", "##TITLE=nm\n##XUNITS=NANOMETERS\n##XYPOINTS=(XY..XY)\n560,1\n570,2\n580,1\n##END=\n");
    std::vector<double> offered;
    auto answerWith = [&](double given) {
        QTimer::singleShot(0, [&offered, given] {
            auto* ask = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            if (!ask) return;
            offered.push_back(ask->doubleValue());
            ask->setDoubleValue(given);
            ask->accept();
        });
        open(nm);
    };
    answerWith(633.0);
    bridge.unplug();
    tick();
    ASSERT_NE(state().device.deviceState, DeviceConnection::Connected);
    answerWith(633.0);
    EXPECT_EQ(offered, (std::vector<double>{532.0, 633.0}));
}

class IdentifyPanelLayout : public FirstUse {
protected:
    IdentifyController& identify() { return main().identify(); }
    void identifyShown() {
        identify().Timer_identifyTimer();
        find<QToolButton>("SpeedButton_identify")->click();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                identify().Timer_identifyTimer();
                return !identify().workerBusy();
            },
            10000));
    }
    // Two library entries made from opened files, then the first shown.
    void prepare() {
        const std::string folder = AppPathsAt(dir.path()).pcLibraryFolder();
        const std::vector<std::pair<double, double>> bands[] = {{{620, 800}, {1000, 3000}, {1600, 900}},
                                                                {{450, 2000}, {1200, 500}, {2900, 1500}}};
        const char* names[] = {"Benzoate, crystal", "Other"};
        for (int i = 0; i < 2; ++i) {
            open(write(std::string("s") + char('a' + i) + ".csv", BandsCsv(300, 3200, bands[i])));
            ASSERT_EQ(MakeLibrary(names[i], state().measurement, state().device, state().library, folder,
                                  {2026, 3, 4, 5, 6, 7}),
                      MakeLibraryResult::Made);
        }
        open(dir.path() + "sa.csv");
    }
};

TEST_F(IdentifyPanelLayout, ClosesLeavesTheChartRoomKeepsItsWidthAndGivesItsHits) {
    startIdentified();
    showWindow(QSize(1024, 768));
    prepare();
    identifyShown();
    QWidget* panel = identify().panel();
    QWidget* chartPanel = find<QWidget>("Panel_chart");
    ASSERT_TRUE(panel->isVisible());
    QApplication::processEvents();
    EXPECT_GE(chartPanel->width(), 440);
    ASSERT_EQ(identify().hitTable()->rowCount(), 2);

    // Copied and exported with a header, "Rank" first.
    QTableWidget* table = identify().hitTable();
    focusOn(table);
    QApplication::clipboard()->clear();
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    const QStringList lines = QApplication::clipboard()->text().split('\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0], "Rank\tHQI\tName\tModel\tDate\tFolder");
    EXPECT_TRUE(lines[1].startsWith("1\t100.00\tBenzoate, crystal\t")) << lines[1].toStdString();
    const std::string csv = dir.path() + "hits.csv";
    dialogs.saveAnswers.push_back(csv);
    find<QAction>("Action_export_hits")->trigger();
    EXPECT_EQ(read(csv).rfind("Rank,HQI,Name,Model,Date,Folder\n1,100.00,\"Benzoate, crystal\",", 0), 0u) << read(csv);
    EXPECT_EQ(main().statusPanels()->notice().toStdString(), "Saved " + csv);

    // Dragged narrower, closed, and the width kept for the next run.
    auto* splitter = find<QSplitter>("Splitter2");
    QSplitterHandle* handle = splitter->handle(splitter->indexOf(panel));
    const int before = panel->width();
    const QPoint grip(2, handle->height() / 2);
    for (auto [type, at, buttons] : {std::tuple{QEvent::MouseButtonPress, grip, Qt::LeftButton},
                                     std::tuple{QEvent::MouseMove, grip + QPoint(40, 0), Qt::LeftButton},
                                     std::tuple{QEvent::MouseButtonRelease, grip + QPoint(40, 0), Qt::NoButton}}) {
        QMouseEvent e(type, at, handle->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(handle, &e);
    }
    QApplication::processEvents();
    const int dragged = panel->width();
    EXPECT_EQ(dragged, before - 40);
    QToolButton* close = find<QToolButton>("Button_identify_close");
    ASSERT_NE(close, nullptr);
    close->click();
    EXPECT_FALSE(panel->isVisible());
    main().close();
    EXPECT_NE(settingsText().find("[IDENTIFY]"), std::string::npos) << settingsText();
    EXPECT_NE(settingsText().find("Panel width=" + std::to_string(dragged)), std::string::npos) << settingsText();

    app.reset();
    start();
    tick();
    showWindow(QSize(1024, 768));
    open(dir.path() + "sa.csv");
    identifyShown();
    QApplication::processEvents();
    EXPECT_EQ(identify().panel()->width(), dragged);
}

TEST_F(FirstUse, NumberBoxesTakeOnlyWhatCanBeANumber) {
    startIdentified();
    showWindow();
    const struct {
        bool coordinate;
        const char* box;
        const char* typed;
        const char* kept;
    } cases[] = {
        {false, "Edit_exp", "12a.5", "125"},      {false, "Edit_avg_cnt", "-3x", "3"},
        {false, "Edit_smooth", "c2", "2"},        {false, "Edit_laser_preheat", "2e4", "24"},
        {true, "Edit_X_start", "-4a0.5", "-40.5"}, {true, "Edit_X_end", "1e3,5", "135"},
    };
    for (const auto& c : cases) {
        QLineEdit* box = c.coordinate ? main().coordinateWindow()->findChild<QLineEdit*>(c.box) : find<QLineEdit>(c.box);
        ASSERT_NE(box, nullptr) << c.box;
        box->clear();
        QTest::keyClicks(box, c.typed);
        EXPECT_EQ(box->text().toStdString(), c.kept) << c.box;
    }
    // What is a number but out of range still hears the usual message.
    QLineEdit* average = find<QLineEdit>("Edit_avg_cnt");
    average->clear();
    QTest::keyClicks(average, "0");
    find<QLineEdit>("Edit_laser_preheat")->setText("20000");
    find<QToolButton>("SpeedButton_msr")->click();
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Average can not be zero or negative number!"});
}

TEST_F(FirstUse, CaptureWaitsForTheFirstCheckAndSavingSaysWhere) {
    // With and without an instrument: before the first check there is no
    // telling which.
    for (bool attached : {false, true}) {
        SCOPED_TRACE(attached);
        if (attached) attach();
        start();
        find<QLineEdit>("Edit_avg_cnt")->setText("0");
        find<QToolButton>("SpeedButton_msr")->click();
        tick();
        find<QToolButton>("SpeedButton_msr")->click();
        EXPECT_EQ(dialogs.texts(),
                  (std::vector<std::string>{"Device is being identified…",
                                            attached ? "Average can not be zero or negative number!" : "No Device!"}));
        dialogs.messages.clear();
        if (attached) break;
        main().close();
        app.reset();
    }

    open(write("peak.csv", BandsCsv(500, 900, {{700, 800}})));
    const std::string csv = dir.path() + "spectrum.csv", png = dir.path() + "chart.png";
    dialogs.saveAnswers.push_back(csv);
    find<QAction>("Action_export_spectrum")->trigger();
    EXPECT_EQ(main().statusPanels()->notice().toStdString(), "Saved " + csv);
    main().interchange().askImageSize = [](QSize) { return std::optional<QSize>(QSize(200, 100)); };
    dialogs.saveAnswers.push_back(png);
    find<QAction>("Action_save_spectrum_image")->trigger();
    EXPECT_EQ(main().statusPanels()->notice().toStdString(), "Saved " + png);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(FirstUse, GridMenuNamesTheTickedRowsItActsOn) {
    startIdentified();
    const std::string local = dir.path() + "local/";
    std::filesystem::create_directories(local);
    for (const char* name : {"alpha", "beta", "gamma"})
        test::WriteBytes(local + name + ".rlb", test::PcLibraryBytes(test::HeaderBytes(name, 179)));
    main().SpeedButton_linker_modeClick();
    find<QToolButton>("SpeedButton_import_pc")->click();
    QTableWidget* grid = main().libraryGrid();
    auto rowOf = [&](const std::string& name) {
        for (int r = 1; r <= grid->rowCount(); ++r)
            if (main().library().rowName(r) == name) return r;
        return 0;
    };
    const struct {
        std::vector<std::string> ticked;
        Entries entries;
    } cases[] = {
        {{}, {{"Delete", false}, {"Rename", false}}},
        {{"beta"}, {{"Delete ticked library \"beta\"…", true}, {"Rename ticked library \"beta\"…", true}}},
        {{"alpha", "beta"}, {{"Delete 2 ticked libraries…", true}, {"Rename (tick only one library)", true}}},
    };
    for (const auto& c : cases) {
        std::fill(state().library.rowTicks.begin(), state().library.rowTicks.end(), 0);
        for (const std::string& name : c.ticked)
            state().library.rowTicks[rowOf(name)] = 1;
        // Right-clicked on another row than the ticked ones.
        const QPoint at = grid->visualItemRect(grid->item(rowOf("gamma") - 1, 1)).center();
        Entries seen = menuDuring([&] {
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, grid->viewport()->mapToGlobal(at));
            QApplication::sendEvent(grid->viewport(), &event);
        });
        EXPECT_EQ(seen, c.entries);
    }
    EXPECT_TRUE(dialogs.messages.empty());
}

} // namespace
} // namespace veltrane
