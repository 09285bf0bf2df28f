#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/stat.h>

#include "interchange/jcamp.h"
#include "measure/sample_sidecar.h"
#include "measure/ui/coordinate_window.h"
#include "measure/ui/measure_controller.h"
#include "shared/ui/status_panels.h"
#include "ui/app_fixture.h"

namespace veltrane {
namespace {

class Capture : public test::AppFixture {
protected:
    void startWithDevice() {
        realTime = true;
        attach();
        start();
        tick();
        ASSERT_EQ(state().device.deviceState, DeviceConnection::Connected);
        find<QLineEdit>("Edit_exp")->setText("1000");
        find<QLineEdit>("Edit_avg_cnt")->setText("1");
    }
    bool finished() { return state().measurement.measureState == 0 && !main().measure().workerBusy(); }
};

TEST_F(Capture, DrawsTheDarkCorrectedSpectrumAgainstRamanShift) {
    startWithDevice();
    find<QLineEdit>("Edit_smooth")->setText("4");
    find<QToolButton>("SpeedButton_msr")->click();
    EXPECT_EQ(state().measurement.measureState, 1);
    EXPECT_EQ(main().statusPanels()->statusIcon(), StatusIcon::Grey);
    // A second capture while the first runs is refused and changes nothing.
    find<QToolButton>("SpeedButton_msr")->click();
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Measure Processing!"});

    ASSERT_TRUE(QTest::qWaitFor([&] { return finished(); }, 10000));
    EXPECT_EQ(state().measurement.measureStatus, 1);
    EXPECT_FALSE(instrument->laserOn());
    EXPECT_EQ(main().statusPanels()->statusIcon(), StatusIcon::Green);
    EXPECT_TRUE(main().statusPanels()->valueText().startsWith("MSR_time: "));
    EXPECT_TRUE(main().statusPanels()->valueText().endsWith(" ms"));
    EXPECT_EQ(find<QLineEdit>("Edit_smooth")->text(), "0");
    EXPECT_EQ(main().progressBar()->value(), 0);

    const auto& points = main().spectrumChart().seriesPoints(main().measuredSeries());
    const SpectrumStore& s = state().measurement.spectrum;
    ASSERT_EQ(points.size(), static_cast<std::size_t>(s.windowEnd - s.windowFirst));
    EXPECT_LT(points.front().x, 400.0);
    EXPECT_GT(points.back().x, 4000.0);
    // Polystyrene's strongest band stands at 1001 cm-1.
    auto peak = std::max_element(points.begin(), points.end(),
                                 [](const ChartPoint& a, const ChartPoint& b) { return a.y < b.y; });
    EXPECT_NEAR(peak->x, 1001.0, 4.0);
    for (const ChartPoint& p : points)
        EXPECT_GE(p.y, 0.0);

    // Apply ran on the new curve: X fixed to the display range the
    // identification wrote into the range boxes, Y fitted to the curve.
    ChartModel& chart = main().spectrumChart();
    EXPECT_EQ(app->coordinateWindow().findChild<QLineEdit*>("Edit_X_start")->text(), "400");
    EXPECT_EQ(app->coordinateWindow().findChild<QLineEdit*>("Edit_X_end")->text(), "4000");
    EXPECT_EQ(chart.currentAxisMinimum(ChartAxis::Bottom), 400.0);
    EXPECT_EQ(chart.currentAxisMaximum(ChartAxis::Bottom), 4000.0);
    chart.redrawNow();
    // Fitted with 5 % of the curve's span as headroom above the peak.
    const double lowest = std::min_element(points.begin(), points.end(), [](const ChartPoint& a, const ChartPoint& b) {
                              return a.y < b.y;
                          })->y;
    EXPECT_DOUBLE_EQ(chart.currentAxisMaximum(ChartAxis::Left), peak->y + 0.05 * (peak->y - lowest));

    main().show();
    QApplication::processEvents();
    EXPECT_TRUE(main().grab().save("capture.png"));
}

TEST_F(Capture, ClosingDuringAMeasurementSwitchesTheLaserOff) {
    speed = 20; // the 20 s preheat lasts a second: long enough to close within it
    startWithDevice();
    find<QToolButton>("SpeedButton_msr")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return instrument->laserOn(); }, 10000));
    main().close();
    EXPECT_FALSE(main().measure().workerBusy());
    EXPECT_FALSE(instrument->laserOn());
}

// A signal (kill, Ctrl-C, a logout) asks for the close when nobody may be at
// the screen: with a settings file that cannot be written, the failure goes
// to the report (standard error) and the exit status, never into a message
// box that would keep the program from ending, and the laser is off.
TEST_F(Capture, ClosingOnASignalEndsEvenWhenTheSettingsCannotBeSaved) {
    speed = 20;
    const std::string settings = dir.path() + "veltrane.ini";
    const std::vector<std::function<void()>> brokenSettings = {
        [&] { std::filesystem::create_directory(settings); },
        [&] { ASSERT_EQ(::mkfifo(settings.c_str(), 0644), 0); }, // the window must start with it too
        [&] {
            std::ofstream(settings) << "[Form]\r\nfile=1\r\n";
            std::filesystem::resize_file(settings, (64u << 20) + 1); // past the reader's limit
        },
    };
    realTime = true;
    attach();
    for (const auto& breakSettings : brokenSettings) {
        std::filesystem::remove_all(settings);
        breakSettings();
        const auto kind = std::filesystem::status(settings).type();
        start();
        tick();
        ASSERT_EQ(state().device.deviceState, DeviceConnection::Connected);
        find<QLineEdit>("Edit_exp")->setText("1000");
        find<QToolButton>("SpeedButton_msr")->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return instrument->laserOn(); }, 10000));
        std::ostringstream report;
        app->closeOnSignal(report);
        EXPECT_TRUE(dialogs.messages.empty()) << dialogs.texts().front();
        EXPECT_EQ(report.str(), "Can not save settings!\n");
        EXPECT_EQ(app->exitStatus(), 1);
        EXPECT_FALSE(main().measure().workerBusy());
        EXPECT_FALSE(instrument->laserOn());
        EXPECT_FALSE(main().isVisible());
        EXPECT_EQ(std::filesystem::status(settings).type(), kind);
        app.reset();
    }
}

TEST_F(Capture, RefusalsShowTheirMessages) {
    attach();
    start();
    tick();
    bridge.unplug();
    tick();
    find<QToolButton>("SpeedButton_msr")->click();
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"No Device!"});
    bridge.replug();
    tick();
    find<QLineEdit>("Edit_exp")->setText("-1");
    find<QToolButton>("SpeedButton_msr")->click();
    EXPECT_EQ(dialogs.texts().back(), "Int.time can not be negative number!");
    find<QLineEdit>("Edit_exp")->setText("1000");
    // 65536 frames is none in the worker's 16 bits.
    find<QLineEdit>("Edit_avg_cnt")->setText("65536");
    find<QToolButton>("SpeedButton_msr")->click();
    EXPECT_EQ(dialogs.texts().back(), "Average can not be zero or negative number!");
    find<QLineEdit>("Edit_avg_cnt")->setText("1");
    find<QLineEdit>("Edit_laser_preheat")->setText("abc");
    find<QToolButton>("SpeedButton_msr")->click();
    EXPECT_EQ(dialogs.texts().back(), "'abc' is not a valid floating point value");
    EXPECT_EQ(dialogs.messages.back().icon, MessageIcon::Error);
    EXPECT_EQ(state().measurement.measureState, 0);

    UpDown* arrows = find<UpDown>("UpDown_avg");
    find<QLineEdit>("Edit_avg_cnt")->setText("65535");
    arrows->click(true);
    EXPECT_EQ(find<QLineEdit>("Edit_avg_cnt")->text(), "0");
    arrows->click(false);
    EXPECT_EQ(find<QLineEdit>("Edit_avg_cnt")->text(), "0");
}

TEST_F(Capture, ASensorTheProgramCannotReadIsRefusedBeforeAnythingIsSent) {
    attach(SimModelUnknown());
    start();
    tick();
    ASSERT_EQ(state().device.deviceState, DeviceConnection::Connected);
    instrument->clearLog();
    find<QToolButton>("SpeedButton_msr")->click();
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Device not supported!"});
    EXPECT_EQ(state().measurement.measureState, 0);
    EXPECT_FALSE(main().measure().workerBusy());
    EXPECT_TRUE(instrument->log().empty());
}

TEST_F(Capture, ADeviceLostMidMeasurementKeepsTheBuffersBusyUntilTheWorkerReturns) {
    speed = 20; // the 20 s preheat lasts a second
    startWithDevice();
    find<QToolButton>("SpeedButton_msr")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return instrument->laserOn(); }, 10000));
    bridge.unplug();
    tick();
    ASSERT_EQ(state().measurement.measureState, 0); // the loss reset it; the worker still sleeps out the preheat
    ASSERT_TRUE(main().measure().workerBusy());
    dialogs.messages.clear();
    main().measure().SpeedButton_open_rawClick();
    main().measure().SpeedButton_save_rawClick();
    find<QToolButton>("SpeedButton_save_lib")->click();
    main().SpeedButton_linker_modeClick();
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>(4, "Measure Processing!"));
    EXPECT_TRUE(dialogs.filters.empty()); // no file was asked for
    EXPECT_EQ(state().shell.activeMode, ActiveMode::Spectrum);

    ASSERT_TRUE(QTest::qWaitFor([&] { return finished(); }, 20000));
    EXPECT_EQ(state().measurement.measureStatus, 3);
    EXPECT_TRUE(main().statusPanels()->valueText().startsWith("MSR_time: "));
    main().SpeedButton_linker_modeClick();
    EXPECT_EQ(state().shell.activeMode, ActiveMode::Linker);
}

// Stop during the preheat, Escape in a parameter box during the signal:
// the laser goes off at once, the curve and buffers of the capture before
// stay (and can still be saved), and the instrument takes the next capture.
TEST_F(Capture, StopAndEscapeEndACaptureAndKeepWhatWasShownBefore) {
    startWithDevice();
    QToolButton* stop = find<QToolButton>("SpeedButton_stop");
    EXPECT_FALSE(stop->isEnabled());
    find<QToolButton>("SpeedButton_msr")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished(); }, 10000));
    const std::vector<ChartPoint> shown = main().spectrumChart().seriesPoints(main().measuredSeries());
    const auto signal = state().measurement.spectrum.signal;
    const std::optional<std::uint32_t> shownExposure = state().measurement.shownCapture.integrationMs;
    ASSERT_TRUE(shownExposure.has_value());
    ASSERT_FALSE(shown.empty());

    auto stopped = [&] {
        EXPECT_FALSE(instrument->laserOn());
        EXPECT_EQ(main().statusPanels()->notice(), "Measurement stopped");
        EXPECT_EQ(main().statusPanels()->statusIcon(), StatusIcon::Blank);
        EXPECT_EQ(main().statusPanels()->valueText(), "MSR_time:");
        EXPECT_FALSE(stop->isEnabled());
        const auto& points = main().spectrumChart().seriesPoints(main().measuredSeries());
        ASSERT_EQ(points.size(), shown.size());
        EXPECT_EQ(points.back().y, shown.back().y);
        EXPECT_EQ(state().measurement.spectrum.signal, signal);
        EXPECT_TRUE(state().measurement.spectrum.haveMeasured);
    };
    find<QToolButton>("SpeedButton_msr")->click();
    EXPECT_TRUE(stop->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return instrument->laserOn(); }, 10000));
    stop->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished(); }, 2000)); // not the rest of the 20 s preheat
    stopped();

    // A long signal exposure, so the test sees it running.
    find<QLineEdit>("Edit_exp")->setText("20000");
    find<QToolButton>("SpeedButton_msr")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return state().measurement.progress.measureStep == 2; }, 20000));
    QLineEdit* exposure = find<QLineEdit>("Edit_exp");
    exposure->setFocus();
    QTest::keyClick(exposure, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished(); }, 2000));
    stopped();
    EXPECT_EQ(exposure->text(), "20000");

    dialogs.saveAnswers.push_back(dir.path() + "kept.rsd");
    main().measure().SpeedButton_save_rawClick();
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "kept.rsd"));
    // Saved with the exposure it was measured at, not the stopped one's.
    RawFileSidecar kept;
    ASSERT_EQ(ReadSampleSidecar(dir.path() + "kept.rsd", kept), SidecarRead::Read);
    EXPECT_EQ(kept.capture.integrationMs, shownExposure);
    find<QLineEdit>("Edit_exp")->setText("1000");
    find<QToolButton>("SpeedButton_msr")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished(); }, 10000));
    EXPECT_EQ(state().measurement.measureStatus, 1);
    EXPECT_NE(state().measurement.spectrum.signal, signal);
}

TEST_F(Capture, AutoExposureIsKeptForTheNextRun) {
    for (bool ticked : {true, false}) {
        start();
        tick();
        find<QCheckBox>("CheckBox_auto_exp")->setChecked(ticked);
        main().close();
        app.reset();
        start();
        tick();
        EXPECT_EQ(find<QCheckBox>("CheckBox_auto_exp")->isChecked(), ticked);
        app.reset();
    }
}

// A capture takes what the fields hold; the name and notes are then cleared
// for the next sample, while typing still names the shown spectrum, so the
// export and the saved raw file's sidecar carry what was typed last. The
// operator stays, also across a restart, and an opened raw file shows its own.
TEST_F(Capture, SampleInformationBelongsToTheCaptureAndTheOperatorStays) {
    startWithDevice();
    find<QLineEdit>("Edit_sample_name")->setText("Zoë");
    find<QLineEdit>("Edit_operator")->setText("Ann");
    find<QPlainTextEdit>("Memo_notes")->setPlainText("wet\nbag 3");
    find<QToolButton>("SpeedButton_msr")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished(); }, 10000));
    ASSERT_EQ(state().measurement.measureStatus, 1);
    const SampleInfo& sample = state().measurement.sample;
    EXPECT_EQ(sample.sampleName, "Zoë");
    EXPECT_EQ(sample.operatorName, "Ann");
    EXPECT_EQ(sample.notes, "wet\nbag 3");
    EXPECT_EQ(find<QLineEdit>("Edit_sample_name")->text(), "");
    EXPECT_EQ(find<QPlainTextEdit>("Memo_notes")->toPlainText(), "");
    EXPECT_EQ(find<QLineEdit>("Edit_operator")->text(), "Ann");

    QTest::keyClicks(find<QLineEdit>("Edit_sample_name"), "Quartz");
    dialogs.saveAnswers.push_back(dir.path() + "q.jdx");
    find<QAction>("Action_export_spectrum")->trigger();
    std::ifstream in(dir.path() + "q.jdx");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    InterchangeSpectrum exported;
    ASSERT_TRUE(ReadJcampSpectrum(text, 0, exported).ok) << text.substr(0, 400);
    EXPECT_EQ(exported.title, "Quartz");
    EXPECT_EQ(exported.operatorName, "Ann");
    EXPECT_EQ(exported.notes, "wet\nbag 3");
    EXPECT_EQ(exported.integrationMs, 1000);
    EXPECT_EQ(exported.averages, 1);
    EXPECT_GT(state().device.laserWavelength, 0.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(exported.laserNm), state().device.laserWavelength);
    EXPECT_EQ(exported.instrument, state().device.modelName);
    EXPECT_EQ(exported.date.size(), std::string("2026/12/09 23:15:48 +0000").size()) << exported.date;

    dialogs.saveAnswers.push_back(dir.path() + "q.rsd");
    find<QToolButton>("SpeedButton_save_raw")->click();
    RawFileSidecar saved;
    ASSERT_EQ(ReadSampleSidecar(dir.path() + "q.rsd", saved), SidecarRead::Read);
    EXPECT_EQ(saved.sample.sampleName, "Quartz");
    EXPECT_EQ(saved.capture.integrationMs, std::optional<std::uint32_t>(1000u));
    EXPECT_EQ(saved.capture.averages, 1u);

    main().close();
    app.reset();
    start();
    tick();
    EXPECT_EQ(find<QLineEdit>("Edit_operator")->text(), "Ann");
    EXPECT_FALSE(find<QCheckBox>("CheckBox_keep_sample")->isChecked());
    dialogs.openAnswers.push_back(dir.path() + "q.rsd");
    find<QToolButton>("SpeedButton_open_raw")->click();
    EXPECT_EQ(find<QLineEdit>("Edit_sample_name")->text(), "Quartz");
    EXPECT_EQ(find<QPlainTextEdit>("Memo_notes")->toPlainText(), "wet\nbag 3");
    EXPECT_EQ(state().measurement.sample.operatorName, "Ann");
    EXPECT_EQ(state().measurement.shownCapture.integrationMs, std::optional<std::uint32_t>(1000u));
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.texts().front();
}

} // namespace
} // namespace veltrane
