#include <QAction>
#include <QImage>
#include <QLineEdit>
#include <QToolButton>
#include <filesystem>
#include <fstream>

#include "interchange/spc_file.h"
#include "interchange/ui/interchange_controller.h"
#include "library/make_library.h"
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

} // namespace
} // namespace veltrane
