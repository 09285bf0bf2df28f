#include <QAction>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/ui/import_spectra_controller.h"
#include "interchange/spc_file.h"
#include "interchange/ui/interchange_controller.h"
#include "library/library_file.h"
#include "library/make_library.h"
#include "library/ui/make_library_window.h"
#include "measure/ui/measure_controller.h"
#include "shared/ui/chart_view.h"
#include "ui/app_fixture.h"

namespace veltrane {
namespace {

class InterchangeWindow : public test::AppFixture {
protected:
    void SetUp() override {
        attach();
        start();
        tick();
    }
    const std::vector<ChartPoint>& drawn() { return main().spectrumChart().seriesPoints(main().measuredSeries()); }
    std::string write(const std::string& name, const std::string& content) {
        std::ofstream(dir.path() + name, std::ios::binary) << content;
        return dir.path() + name;
    }
    void open(const std::string& path) {
        dialogs.openAnswers.push_back(path);
        find<QToolButton>("SpeedButton_open_raw")->click();
    }
    void trigger(const char* action) { find<QAction>(action)->trigger(); }
    std::string bytesOf(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

// 41 points on a peak over a slope: smoothing visibly changes them.
std::string PeakCsv() {
    std::string text = "shift,counts\n";
    for (int i = 0; i < 41; ++i)
        text += std::to_string(500 + 10 * i) + "," + std::to_string(i == 20 ? 900 : 100 + i) + "\n";
    return text;
}

TEST_F(InterchangeWindow, ForeignSpectrumOpensSmoothsExportsAndCanBecomeALibrary) {
    find<QLineEdit>("Edit_smooth")->setText("4");
    open(write("peak.csv", PeakCsv()));
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.texts().front();
    EXPECT_EQ(dialogs.filters.back(), kOpenSpectrumFilter);
    ASSERT_EQ(drawn().size(), 41u);
    EXPECT_EQ(drawn()[20].x, 700.0);
    EXPECT_EQ(drawn()[20].y, 900.0);
    EXPECT_EQ(find<QLineEdit>("Edit_smooth")->text(), "0");
    EXPECT_EQ(state().measurement.rawFile.header.name(), "peak.csv");
    EXPECT_EQ(MakeLibraryRefusal(state().measurement, state().device), nullptr);

    find<QLineEdit>("Edit_smooth")->setText("5");
    main().measure().Edit_smoothKeyPress(13);
    ASSERT_EQ(drawn().size(), 41u);
    EXPECT_LT(drawn()[20].y, 800.0);

    // As drawn, then raw: SPC keeps every float.
    dialogs.saveAnswers.push_back(dir.path() + "drawn.spc");
    trigger("Action_export_spectrum");
    dialogs.saveAnswers.push_back(dir.path() + "raw.spc");
    trigger("Action_export_raw_spectrum");
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.texts().front();
    InterchangeSpectrum smoothed, raw;
    ASSERT_TRUE(ReadSpcSpectrum(bytesOf(dir.path() + "drawn.spc"), 0, smoothed).ok);
    ASSERT_TRUE(ReadSpcSpectrum(bytesOf(dir.path() + "raw.spc"), 0, raw).ok);
    ASSERT_EQ(smoothed.y.size(), 41u);
    ASSERT_EQ(raw.y.size(), 41u);
    EXPECT_EQ(smoothed.y[20], static_cast<float>(drawn()[20].y));
    EXPECT_EQ(raw.y[20], 900.0f);
    EXPECT_EQ(raw.x[0], 500.0f);

    ASSERT_EQ(MakeLibrary("Peak", state().measurement, state().device, state().library, dir.path() + "pc/",
                          CurrentLocalDateTime()),
              MakeLibraryResult::Made);
    EXPECT_EQ(std::filesystem::file_size(dir.path() + "pc/Peak.rlb"), 20120u);
}

TEST_F(InterchangeWindow, WavelengthsAskForTheLaserAndBadFilesChangeNothing) {
    open(write("peak.csv", PeakCsv()));
    const std::string nm =
        write("nm.jdx", "##TITLE=nm\n##XUNITS=NANOMETERS\n##XYPOINTS=(XY..XY)\n510,1\n520,2\n##END=\n");
    main().interchange().askLaser = [](double) { return std::nullopt; }; // cancelled
    open(nm);
    EXPECT_EQ(drawn().size(), 41u);
    main().interchange().askLaser = [](double) { return std::optional<double>(500.0); };
    open(nm);
    ASSERT_EQ(drawn().size(), 2u);
    EXPECT_NEAR(drawn()[1].x, 1e7 / 500 - 1e7 / 520, 1e-3);
    EXPECT_EQ(state().measurement.rawFile.header.name(), "nm");

    open(write("bad.jdx", "##TITLE=t\n##XUNITS=1/CM\n##XYPOINTS=(XY..XY)\n1,2,3\n##END=\n"));
    open(write("bad.spc", std::string(600, '\x4D')));
    EXPECT_EQ(dialogs.texts(),
              (std::vector<std::string>{"##XYPOINTS ends inside a point.", "Old-format SPC files are not read."}));
    EXPECT_EQ(drawn().size(), 2u);
}

TEST_F(InterchangeWindow, ChartImagesHaveTheAskedSize) {
    open(write("peak.csv", PeakCsv()));
    auto* view = find<ChartView>("Chart_measure");
    view->resize(500, 300);
    const std::string png = dir.path() + "chart.png", svg = dir.path() + "chart.svg", pdf = dir.path() + "chart.pdf";
    ASSERT_TRUE(InterchangeController::WriteChartImage(*view, png, QSize(640, 480)));
    ASSERT_TRUE(InterchangeController::WriteChartImage(*view, svg, QSize(640, 480)));
    ASSERT_TRUE(InterchangeController::WriteChartImage(*view, pdf, QSize()));
    QImage image(QString::fromStdString(png));
    EXPECT_EQ(image.size(), QSize(640, 480));
    // Not a blank page: the curve and the axes are drawn.
    int dark = 0;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            dark += qGray(image.pixel(x, y)) < 128;
    EXPECT_GT(dark, 200);
    std::string svgText = bytesOf(svg);
    EXPECT_NE(svgText.find("viewBox=\"0 0 640 480\""), std::string::npos) << svgText.substr(0, 400);
    EXPECT_NE(svgText.find("<polyline"), std::string::npos);        // the curve
    EXPECT_NE(svgText.find("Ramanshift(cm-1)"), std::string::npos); // the axis title
    EXPECT_EQ(bytesOf(pdf).substr(0, 5), "%PDF-");
    EXPECT_EQ(view->size(), QSize(500, 300)); // the window's chart keeps its size

    // Through the context menu: the chosen size, or the chart's own.
    main().interchange().askImageSize = [](QSize) { return std::optional<QSize>(QSize(320, 200)); };
    dialogs.saveAnswers.push_back(dir.path() + "menu.png");
    trigger("Action_save_spectrum_image");
    EXPECT_EQ(QImage(QString::fromStdString(dir.path() + "menu.png")).size(), QSize(320, 200));
    main().interchange().askImageSize = [](QSize) { return std::optional<QSize>(QSize()); };
    dialogs.saveAnswers.push_back(dir.path() + "own.png");
    trigger("Action_save_library_image");
    EXPECT_EQ(QImage(QString::fromStdString(dir.path() + "own.png")).size(), find<ChartView>("Chart_library")->size());
    EXPECT_TRUE(dialogs.messages.empty());
}

// Three columns of one kind after the shift: which acquisition is the
// spectrum only a person can say. Column 3 is 1000 above column 2.
std::string ThreeColumns(const std::string& header) {
    std::string text = header + "\n";
    for (int i = 0; i < 30; ++i)
        text += std::to_string(300 + 10 * i) + ";" + std::to_string(i) + ";" + std::to_string(1000 + i) + "\n";
    return text;
}

TEST_F(InterchangeWindow, ColumnsAreAskedOnceForFilesOfTheSameHeader) {
    std::vector<ColumnQuestion> asked;
    std::optional<std::pair<std::size_t, std::size_t>> answer{{0, 2}};
    auto answering = [&](const ColumnQuestion& q) {
        asked.push_back(q);
        return answer;
    };
    main().interchange().askColumns = answering;
    open(write("a.csv", ThreeColumns("Raman Shift;Raw data #1;Raw data #2")));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].names, (std::vector<std::string>{"Raman Shift", "Raw data #1", "Raw data #2"}));
    EXPECT_EQ(asked[0].y, 1u); // the reader's guess comes preselected
    ASSERT_EQ(drawn().size(), 30u);
    EXPECT_EQ(drawn()[5].y, 1005.0);
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.texts().front(); // chosen, so no "first of several" notice

    // The same header in other letter case and spacing: no question, the
    // same columns, also after a restart.
    const std::string same = write("b.csv", ThreeColumns("raman shift ; RAW DATA #1 ; raw data #2"));
    open(same);
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(drawn()[5].y, 1005.0);
    main().close();
    app.reset();
    start();
    main().interchange().askColumns = answering;
    open(same);
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(drawn()[5].y, 1005.0);

    // Another header asks again; cancelling keeps what is shown.
    answer.reset();
    open(write("c.csv", ThreeColumns("Raman Shift;Raw data #1;Raw data #3")));
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(drawn()[5].y, 1005.0);
    EXPECT_EQ(state().measurement.rawFile.header.name(), "b.csv");

    // A kept choice that a file refuses is forgotten: the next one asks.
    answer = std::pair<std::size_t, std::size_t>(0, 2);
    open(write("d.csv", ThreeColumns("Raman Shift;Raw data #1;Raw data #2") + "600;1;none\n"));
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Line 32 is not a row of numbers."});
    open(same);
    EXPECT_EQ(asked.size(), 3u);
}

TEST_F(InterchangeWindow, LongSpectrumIsShownWholeAndOnlyItsLibraryEntryIsResampled) {
    // 5001 points from -100 to 4900 cm-1: more than the store holds, and
    // past both ends of the coordinate settings' 400 to 4000.
    std::string text = "shift,counts\n";
    for (int i = 0; i <= 5000; ++i)
        text += std::to_string(i - 100) + "," + std::to_string(i == 2500 ? 5000 : 100 + i % 7) + "\n";
    open(write("long.csv", text));
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.texts().front();
    ASSERT_EQ(drawn().size(), 5001u);
    EXPECT_EQ(drawn().front().x, -100.0);
    EXPECT_EQ(drawn().back().x, 4900.0);
    ChartModel& chart = main().spectrumChart();
    chart.redrawNow();
    EXPECT_LE(chart.currentAxisMinimum(ChartAxis::Bottom), -100.0);
    EXPECT_GE(chart.currentAxisMaximum(ChartAxis::Bottom), 4900.0);
    EXPECT_GE(chart.currentAxisMaximum(ChartAxis::Left), 5000.0);

    // What works on the shown spectrum takes all of it.
    find<QLineEdit>("Edit_smooth")->setText("3");
    main().measure().Edit_smoothKeyPress(13);
    ASSERT_EQ(drawn().size(), 5001u);
    EXPECT_LT(drawn()[2500].y, 4000.0);
    const std::size_t series = chart.seriesCount();
    find<QToolButton>("SpeedButton_marker")->click();
    ASSERT_EQ(chart.seriesCount(), series + 1);
    EXPECT_EQ(chart.seriesPoints(chart.seriesByIndex(series)).size(), 5001u);
    dialogs.saveAnswers.push_back(dir.path() + "raw.spc");
    trigger("Action_export_raw_spectrum");
    InterchangeSpectrum raw;
    ASSERT_TRUE(ReadSpcSpectrum(bytesOf(dir.path() + "raw.spc"), 0, raw).ok);
    EXPECT_EQ(raw.y.size(), 5001u);
    EXPECT_EQ(raw.y[2500], 5000.0f);
    // The raw file layout holds an instrument's pixels, not this.
    find<QToolButton>("SpeedButton_save_raw")->click();
    ASSERT_EQ(dialogs.texts(), std::vector<std::string>{kNoDataToSave});

    // The library entry is where the points are given up, and it says so.
    find<QToolButton>("SpeedButton_save_lib")->click();
    app->makeLibraryWindow().findChild<QLineEdit*>("Edit_file_name")->setText("Long");
    app->makeLibraryWindow().findChild<QPushButton*>("Button_save")->click();
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1].text, "Process Completed\n5001 points resampled to 2500.");
    SpectrumHeader header;
    std::vector<float> intensity(kPcLibraryPoints), axis(kPcLibraryPoints);
    ASSERT_EQ(ReadLibraryCurve(dir.path() + "local/Long.rlb", LibraryView::Pc, header, intensity.data(), axis.data()),
              CurveRead::Ok);
    EXPECT_EQ(axis.front(), -100.0f);
    EXPECT_EQ(axis.back(), 4900.0f);
    EXPECT_NEAR(axis[1] - axis[0], 5000.0 / 2499, 1e-3);

    // The next spectrum of the instrument's own gets the coordinate
    // settings' range again.
    main().applyAxisRange();
    EXPECT_FALSE(chart.axisAutomaticMinimum(ChartAxis::Bottom));
    EXPECT_EQ(chart.currentAxisMinimum(ChartAxis::Bottom), 400.0);
}

class ImportSpectra : public InterchangeWindow {
protected:
    std::string headline, details;
    ImportSpectraController& importer() { return main().importSpectra(); }
    void SetUp() override {
        InterchangeWindow::SetUp();
        importer().showSummary = [this](const std::string& h, const std::string& d) { headline = h, details = d; };
        std::filesystem::create_directories(dir.path() + "in");
    }
    void waitForSummary() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !headline.empty(); }, 20000));
    }
    std::vector<std::filesystem::path> entries() {
        std::vector<std::filesystem::path> found;
        for (const auto& e : std::filesystem::directory_iterator(dir.path() + "local"))
            found.push_back(e.path());
        std::sort(found.begin(), found.end());
        return found;
    }
};

TEST_F(ImportSpectra, FolderBecomesEntriesAndTheSkippedAreListedWithReasons) {
    const std::string quartz = "##TITLE=Quartz\n##XUNITS=1/CM\n##XYPOINTS=(XY..XY)\n200,5\n300,9\n464,80\n##END=\n";
    write("in/a.jdx", quartz);
    write("in/b.jdx", quartz);
    write("in/peak.csv", PeakCsv());
    write("in/notes.txt", "nothing to see\n");
    importer().importSpectra({{}, dir.path() + "in", false});
    waitForSummary();
    EXPECT_EQ(headline, "Imported 3 of 4 files; 1 skipped.");
    EXPECT_EQ(details, "skipped " + dir.path() + "in/notes.txt: No two columns of numbers found.\n");
    const std::string local = dir.path() + "local/";
    EXPECT_EQ(entries(),
              (std::vector<std::filesystem::path>{local + "Quartz (2).rlb", local + "Quartz.rlb", local + "peak.rlb"}));
    EXPECT_FALSE(importer().workerBusy());
    // Back in the Linker mode the grid lists them.
    main().SpeedButton_linker_modeClick();
    EXPECT_EQ(state().library.lib.libraryCount, 3);
}

TEST_F(ImportSpectra, AxisOffsetMovesEveryShiftOfTheEntries) {
    // A library measured on an axis 6 cm-1 low, corrected on the way in.
    const std::string file = write("in/peak.csv", PeakCsv());
    ImportSources sources;
    sources.files = {file};
    sources.axisOffset = 6.0;
    importer().importSpectra(sources);
    waitForSummary();
    EXPECT_EQ(headline, "Imported 1 of 1 file; 0 skipped.");
    SpectrumHeader header;
    std::vector<float> intensity(kPcLibraryPoints), axis(kPcLibraryPoints);
    ASSERT_EQ(ReadLibraryCurve(dir.path() + "local/peak.rlb", LibraryView::Pc, header, intensity.data(), axis.data()),
              CurveRead::Ok);
    EXPECT_FLOAT_EQ(axis[0], 506.0f);
    EXPECT_FLOAT_EQ(axis[20], 706.0f);
    EXPECT_FLOAT_EQ(axis[40], 906.0f);
}

TEST_F(ImportSpectra, CancelKeepsTheEntriesMadeAndEachIsWhole) {
    const int total = 300;
    for (int i = 0; i < total; ++i)
        write("in/s" + std::to_string(1000 + i) + ".csv", PeakCsv());
    main().SpeedButton_linker_modeClick();
    importer().askSources = [&] { return std::optional<ImportSources>({{}, dir.path() + "in", false}); };
    auto* button = find<QToolButton>("SpeedButton_import_spectra");
    button->click();
    // Cancelled once the first entry is there, through the same button.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!std::filesystem::exists(dir.path() + "local/s1000.rlb") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_EQ(button->text(), "Cancel");
    button->click();
    waitForSummary();
    const std::vector<std::filesystem::path> made = entries();
    ASSERT_GE(made.size(), 1u);
    ASSERT_LT(made.size(), static_cast<std::size_t>(total));
    const std::string n = std::to_string(made.size());
    EXPECT_EQ(headline, "Import cancelled after " + n + (made.size() == 1 ? " file" : " files") + " of " +
                            std::to_string(total) + ": " + n + " imported, 0 skipped.");
    for (const std::filesystem::path& entry : made) {
        EXPECT_EQ(entry.extension(), ".rlb");
        SpectrumHeader header;
        std::vector<float> intensity(kPcLibraryPoints), axis(kPcLibraryPoints);
        EXPECT_EQ(ReadLibraryCurve(entry.string(), LibraryView::Pc, header, intensity.data(), axis.data()),
                  CurveRead::Ok);
        EXPECT_EQ(std::filesystem::file_size(entry), 20120u);
    }
    EXPECT_EQ(button->text(), "Spectra");
    EXPECT_EQ(static_cast<std::size_t>(state().library.lib.libraryCount), made.size());
}

} // namespace
} // namespace veltrane
