#include <QCheckBox>
#include <QDir>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QLegend>
#include <QLegendMarker>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <QValueAxis>
#include <QWheelEvent>
#include <cstring>
#include <filesystem>

#include "library/library_file_bytes.h"
#include "axis_check/ui/axis_check_window.h"
#include "identify/ui/identify_controller.h"
#include "library/ui/library_controller.h"
#include "markers/ui/marker_windows.h"
#include "measure/saturation.h"
#include "measure/ui/measure_controller.h"
#include "shared/ui/chart_view.h"
#include "shared/ui/status_panels.h"
#include "sim/sample_spectrum.h"
#include "ui/app_fixture.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;

// The pictures of the README, rendered from the running windows into the
// build folder; each also checks what a person would look for in it.
class Screenshots : public test::AppFixture {
protected:
    static QString shotPath(const char* name) {
        QDir().mkpath(VELTRANE_SCREENSHOT_DIR);
        return QString(VELTRANE_SCREENSHOT_DIR) + "/" + name;
    }
    void capture() {
        find<QToolButton>("SpeedButton_msr")->click();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return state().measurement.measureState == 0 && !main().measure().workerBusy(); }, 20000));
    }
    ChartView* view(const char* name) { return find<ChartView>(name); }
    // The views sync on their next turn and Qt Charts lays out on the turn
    // after that.
    static void settle() {
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
    }
    // A PC library of a sample's Raman bands over a sloping background.
    void writeSampleLibrary(const std::string& name, SimSample sample, double scale, double background) {
        fs::create_directories(dir.path() + "local/");
        std::string b = test::HeaderBytes(name, 179);
        b.resize(20120, '\0');
        for (std::size_t i = 0; i < 2500; ++i) {
            const float x = 300.0f + 1.5f * static_cast<float>(i);
            const float y =
                static_cast<float>(scale * 10000.0 * SampleRamanIntensity(sample, x) + background * (1.0 - x / 6000.0));
            std::uint32_t raw;
            std::memcpy(&raw, &y, 4);
            test::PutLittle(b, 120 + 4 * i, raw, 4);
            std::memcpy(&raw, &x, 4);
            test::PutLittle(b, 10120 + 4 * i, raw, 4);
        }
        test::WriteBytes(dir.path() + "local/" + name + ".rlb", b);
    }
    // The main window at the screenshots' size, with a capture at `exposure` ms.
    void showAndCapture(const char* exposure) {
        realTime = true;
        attach();
        start();
        tick();
        main().resize(1264, 730);
        main().show();
        find<QLineEdit>("Edit_exp")->setText(exposure);
        capture();
    }
};

TEST_F(Screenshots, SpectrumModeAfterACapture) {
    showAndCapture("1000");
    find<QToolButton>("SpeedButton_peaks")->setChecked(true);
    settle();
    const QImage shot = main().grab().toImage();
    EXPECT_TRUE(shot.save(shotPath("spectrum.png")));

    ChartView* chart = view("Chart_measure");
    // Round ticks over the fixed 400..4000, whole-number labels.
    EXPECT_EQ(chart->bottomAxis()->min(), 400.0);
    EXPECT_EQ(chart->bottomAxis()->max(), 4000.0);
    EXPECT_EQ(chart->bottomAxis()->tickType(), QValueAxis::TicksDynamic);
    EXPECT_EQ(chart->bottomAxis()->tickInterval(), 500.0);
    EXPECT_EQ(chart->bottomAxis()->labelFormat(), "%.0f");
    EXPECT_EQ(main().spectrumChart().axisTitleCaption(ChartAxis::Bottom), "Ramanshift(cm-1)");
    // Polystyrene's ring band at 1001 cm-1 is among the labelled peaks.
    const auto& peaks = chart->labelledPeaks();
    EXPECT_TRUE(std::any_of(peaks.begin(), peaks.end(), [](double x) { return std::abs(x - 1001.0) < 4.0; }));
    EXPECT_TRUE(main().statusPanels()->valueText().startsWith("MSR_time: "));
    EXPECT_FALSE(find<QToolButton>("SpeedButton_msr")->property("busyLook").toBool());

    // Zooming is the view's own: the model's ranges stay, a double-click returns.
    chart->zoomTo(900.0, 1100.0, 0.0, 5000.0);
    EXPECT_EQ(chart->bottomAxis()->tickInterval(), 20.0);
    EXPECT_EQ(main().spectrumChart().currentAxisMinimum(ChartAxis::Bottom), 400.0);
    QTest::mouseDClick(chart->viewport(), Qt::LeftButton, {}, chart->viewport()->rect().center());
    EXPECT_FALSE(chart->zoomed());
    // A rectangle dragged over the plot becomes the view; the wheel zooms about the pointer.
    const QPoint centre = chart->viewport()->rect().center();
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    ASSERT_TRUE(chart->valuesAt(centre - QPoint(100, 50), x0, y1));
    ASSERT_TRUE(chart->valuesAt(centre + QPoint(100, 50), x1, y0));
    QTest::mousePress(chart->viewport(), Qt::LeftButton, {}, centre - QPoint(100, 50));
    QTest::mouseMove(chart->viewport(), centre);
    QTest::mouseRelease(chart->viewport(), Qt::LeftButton, {}, centre + QPoint(100, 50));
    ASSERT_TRUE(chart->zoomed());
    EXPECT_NEAR(chart->bottomAxis()->min(), x0, 1e-6);
    EXPECT_NEAR(chart->bottomAxis()->max(), x1, 1e-6);
    EXPECT_NEAR(chart->leftAxis()->max(), y1, 1e-6);
    double xc = 0, yc = 0;
    ASSERT_TRUE(chart->valuesAt(centre, xc, yc));
    QWheelEvent wheel(centre, chart->viewport()->mapToGlobal(centre), {}, {0, 120}, Qt::NoButton, {}, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(chart->viewport(), &wheel);
    EXPECT_NEAR(chart->bottomAxis()->max() - chart->bottomAxis()->min(), 0.8 * (x1 - x0), 1e-6);
    double xAfter = 0, yAfter = 0;
    ASSERT_TRUE(chart->valuesAt(centre, xAfter, yAfter));
    EXPECT_NEAR(xAfter, xc, (x1 - x0) * 0.01);
    QTest::mouseDClick(chart->viewport(), Qt::LeftButton, {}, chart->viewport()->rect().center());
    EXPECT_FALSE(chart->zoomed());
    EXPECT_EQ(chart->bottomAxis()->min(), 400.0);
    // The readout names the values under the pointer.
    double x = 0, y = 0;
    ASSERT_TRUE(chart->valuesAt(chart->viewport()->rect().center(), x, y));
    QTest::mouseMove(chart->viewport(), chart->viewport()->rect().center());
    EXPECT_TRUE(main().statusPanels()->readout().startsWith(QString("X: %1  Y: ").arg(x, 0, 'f', 1)));
}

// Polystyrene at 15 s clips its strongest band: the status bar and the
// parameter panel say so in red, the chart rings the clipped points, and
// Identify warns above its verdict. Auto then picks a time that does not clip.
TEST_F(Screenshots, ClippedCaptureIsToldAndAutoChoosesAnotherTime) {
    showAndCapture("15000");
    ASSERT_EQ(state().measurement.measureStatus, 1);
    const std::size_t clipped = SaturatedPixelCount(state().measurement.spectrum, state().device.pixelCount);
    ASSERT_GT(clipped, 0u);
    const QString warning = QString::fromStdString(SaturationWarning(clipped));
    EXPECT_EQ(main().statusPanels()->notice(), warning);
    EXPECT_TRUE(main().statusPanels()->noticeIsAlarm());
    QLabel* label = find<QLabel>("Label_saturation");
    EXPECT_EQ(label->text(), warning);
    EXPECT_TRUE(label->isVisible());
    const auto& marks = main().spectrumChart().seriesMarks(main().measuredSeries());
    ASSERT_EQ(marks.size(), clipped);
    for (double x : marks)
        EXPECT_NEAR(x, 1001.0, 10.0); // the ring-breathing band
    main().identify().Timer_identifyTimer(); // it notices the new spectrum
    main().identify().button()->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            main().identify().Timer_identifyTimer();
            return !main().identify().workerBusy();
        },
        10000));
    QLabel* identifyWarning = main().identify().saturationLabel();
    EXPECT_EQ(identifyWarning->text(), "Saturated spectrum: the result may be wrong");
    settle();
    // Above the verdict, as laid out on the panel.
    EXPECT_TRUE(identifyWarning->isVisible());
    EXPECT_LE(identifyWarning->geometry().bottom(), main().identify().verdictLabel()->geometry().top());
    EXPECT_TRUE(main().grab().save(shotPath("saturated.png")));

    find<QCheckBox>("CheckBox_auto_exp")->setChecked(true);
    capture();
    ASSERT_EQ(state().measurement.measureStatus, 1);
    const std::uint32_t chosen = find<QLineEdit>("Edit_exp")->text().toUInt();
    EXPECT_EQ(chosen, state().measurement.progress.chosenExposureMs.load());
    EXPECT_LT(chosen, 15000u);
    EXPECT_EQ(state().measurement.measureParams.exposureMs, chosen);
    EXPECT_EQ(SaturatedPixelCount(state().measurement.spectrum, state().device.pixelCount), 0u);
    EXPECT_FALSE(label->isVisible());
    EXPECT_FALSE(main().statusPanels()->noticeIsAlarm());
    EXPECT_TRUE(main().spectrumChart().seriesMarks(main().measuredSeries()).empty());
}

TEST_F(Screenshots, LinkerChartWithSixLibraries) {
    writeSampleLibrary("Polystyrene reference", SimSample::Polystyrene, 1.0, 1500.0);
    writeSampleLibrary("Cyclohexane", SimSample::Cyclohexane, 0.8, 600.0);
    writeSampleLibrary("Paracetamol 500mg tablet", SimSample::Paracetamol, 0.7, 2500.0);
    writeSampleLibrary("Ethanol 96%", SimSample::Ethanol, 0.6, 300.0);
    writeSampleLibrary("Polystyrene film", SimSample::Polystyrene, 0.5, 4000.0);
    writeSampleLibrary("Ethanol 70%", SimSample::Ethanol, 0.4, 900.0);
    start();
    main().resize(1264, 730);
    main().show();
    main().SpeedButton_linker_modeClick();
    find<QToolButton>("SpeedButton_import_pc")->click();
    find<QCheckBox>("CheckBox0")->click();
    find<QToolButton>("SpeedButton_draw")->click();
    ASSERT_EQ(main().libraryChart().seriesCount(), 6u);
    ChartView* chart = view("Chart_library");
    QApplication::processEvents(); // the view takes the new curves on its next turn
    // Picking a legend entry draws that curve thicker.
    QList<QLegendMarker*> markers = chart->chart()->legend()->markers();
    ASSERT_EQ(markers.size(), 6);
    emit markers[2]->clicked();
    EXPECT_EQ(chart->selectedSeries(), main().libraryChart().seriesByIndex(2));
    EXPECT_EQ(static_cast<QLineSeries*>(markers[2]->series())->pen().widthF(), 2.5);
    settle();
    EXPECT_TRUE(main().grab().save(shotPath("linker.png")));
    // Automatic axes: round steps, and the tallest point below the top.
    EXPECT_EQ(chart->leftAxis()->tickType(), QValueAxis::TicksDynamic);
    const double step = chart->leftAxis()->tickInterval();
    const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
    EXPECT_TRUE(mantissa == 1.0 || mantissa == 2.0 || mantissa == 5.0) << step;
    EXPECT_LT(10000.0 + 1500.0, chart->leftAxis()->max());
    emit markers[2]->clicked();
    EXPECT_EQ(chart->selectedSeries(), kNoSeries);
}

TEST_F(Screenshots, MarkerTableShowsEachMarkersColour) {
    realTime = true;
    attach();
    start();
    tick();
    main().show();
    find<QLineEdit>("Edit_exp")->setText("1000");
    for (SimSample sample : {SimSample::Polystyrene, SimSample::Cyclohexane, SimSample::Paracetamol}) {
        instrument->setSample(sample);
        capture();
        find<QToolButton>("SpeedButton_marker")->click();
    }
    find<QToolButton>("SpeedButton_mark_info")->click();
    TForm_mark_info& table = app->markInfoWindow();
    ASSERT_TRUE(table.isVisible());
    settle();
    const QImage shot = table.grab().toImage();
    EXPECT_TRUE(shot.save(shotPath("markers.png")));
    // Each swatch is painted in its marker's colour, not the table's white.
    for (int i = 1; i <= 3; ++i) {
        auto* panel = table.findChild<QFrame*>(QString("Panel%1").arg(i));
        const QPoint centre = panel->mapTo(&table, panel->rect().center());
        const std::uint32_t shown = shot.pixel(centre) & 0xFFFFFFu;
        EXPECT_EQ(shown, main().spectrumChart().seriesColour(main().spectrumChart().seriesByIndex(i))) << i;
    }
}

// The axis check of an instrument whose axis reads 4 cm-1 high: the bands'
// deviations, the failed result in red and the correction it offers.
TEST_F(Screenshots, AxisCheckOfADriftedInstrument) {
    attach();
    instrument->setAxisError(4.0);
    start();
    tick();
    TForm_axis_check& check = app->axisCheckWindow();
    check.open();
    check.findChild<QPushButton*>("Button_axis_capture")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return check.lastCheck().has_value(); }, 20000));
    settle();
    EXPECT_TRUE(check.grab().save(shotPath("axis_check.png")));
    EXPECT_TRUE(check.resultLabel()->text().startsWith("Fail: ")) << check.resultLabel()->text().toStdString();
    EXPECT_TRUE(check.detailLabel()->text().contains("Correction: offset \u2212"))
        << check.detailLabel()->text().toStdString();
    EXPECT_TRUE(check.applyButton()->isEnabled());
}

} // namespace
} // namespace veltrane
