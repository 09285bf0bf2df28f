#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "measure/ui/measure_controller.h"
#include "shared/ui/status_panels.h"
#include "ui/app_fixture.h"

namespace veltrane {
namespace {

// Capture through the window while the instrument fails at each command in
// turn: what the user sees (status icon, time text, chart, progress bar,
// messages), the window's state and timers, the laser and the worker, and the
// recovery after the replug. The worker runs on the virtual clock, so its
// time-outs pass at once; the device ticks are the test's own.
class CaptureFaultSweep : public test::AppFixture {
protected:
    void SetUp() override {
        attach();
        start();
        find<QTimer>("Timer_auto_get_device")->stop();
        tick();
        ASSERT_EQ(state().device.deviceState, DeviceConnection::Connected);
        find<QLineEdit>("Edit_exp")->setText("500");
        find<QLineEdit>("Edit_avg_cnt")->setText("1");
    }
    // Capture, wait for the worker to return, then the timer tick that
    // collects the result.
    void captureAndCollect() {
        find<QToolButton>("SpeedButton_msr")->click();
        ASSERT_NE(state().measurement.measureState, 0); // running, or already finished on the virtual clock
        ASSERT_TRUE(QTest::qWaitFor([&] { return !main().measure().workerBusy(); }, 20000));
        main().measure().MSR_TimerTimer();
    }
    std::vector<std::uint16_t> commandCodes() {
        std::vector<std::uint16_t> codes;
        for (const SimLogEntry& e : instrument->log())
            if (e.kind == SimLogEntry::Kind::Command) codes.push_back(e.code);
        return codes;
    }
    bool curveShown() { return !main().spectrumChart().seriesPoints(main().measuredSeries()).empty(); }
};

TEST_F(CaptureFaultSweep, DeviceLostOrNeverReadyAtEveryCommand) {
    instrument->clearLog();
    captureAndCollect();
    ASSERT_EQ(main().statusPanels()->statusIcon(), StatusIcon::Green);
    ASSERT_TRUE(dialogs.messages.empty());
    const std::vector<std::uint16_t> codes = commandCodes();
    const std::size_t laserOn = std::find(codes.begin(), codes.end(), wire::kSetLaser) - codes.begin();
    const std::size_t laserOff = codes.size() - 1;
    ASSERT_EQ(codes[laserOff], wire::kSetLaser);

    for (std::size_t i = 0; i < codes.size(); ++i) {
        for (int fault = 0; fault < 4; ++fault) { // three loss stages, then never ready
            SCOPED_TRACE(testing::Message()
                         << "command " << i << " (code " << std::hex << codes[i] << std::dec << "), fault " << fault);
            const bool lost = fault < 3;
            instrument->clearLog();
            if (lost)
                instrument->scheduleLoss(static_cast<std::uint32_t>(i), static_cast<SimLossStage>(fault));
            else
                instrument->scheduleNeverReady(static_cast<std::uint32_t>(i));
            captureAndCollect();

            std::size_t struck = i;
            if (!lost)
                struck = std::find(codes.begin() + static_cast<std::ptrdiff_t>(i), codes.end(), wire::kPollState) -
                         codes.begin();
            const bool succeeded = struck == codes.size() || (lost && struck == laserOff);
            // A failed measurement is told by the red status icon alone, its
            // time beside it, and an empty chart.
            EXPECT_EQ(state().measurement.measureState, 0);
            EXPECT_EQ(main().statusPanels()->statusIcon(), succeeded ? StatusIcon::Green : StatusIcon::Red);
            EXPECT_TRUE(main().statusPanels()->valueText().startsWith("MSR_time: "));
            EXPECT_EQ(curveShown(), succeeded);
            EXPECT_EQ(main().progressBar()->value(), 0);
            EXPECT_FALSE(find<QTimer>("MSR_Timer")->isActive());
            EXPECT_FALSE(main().measure().workerBusy());
            EXPECT_TRUE(dialogs.messages.empty()) << dialogs.texts().front();
            if (struck < laserOn) {
                // A failed dark never switches the laser on.
                const std::vector<std::uint16_t> sent = commandCodes();
                EXPECT_EQ(std::count(sent.begin(), sent.end(), wire::kSetLaser), 0);
            }
            if (!lost) {
                EXPECT_FALSE(instrument->laserOn()); // still attached: switched off
                bridge.unplug();                     // the user pulls the hung instrument
            }

            tick();
            EXPECT_EQ(state().device.deviceState, DeviceConnection::Disconnected);
            EXPECT_EQ(main().statusPanels()->connectionIcon(), StatusIcon::Red);
            EXPECT_EQ(state().measurement.measureStatus, 0);
            find<QToolButton>("SpeedButton_msr")->click();
            EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"No Device!"});
            dialogs.messages.clear();

            bridge.replug();
            EXPECT_FALSE(instrument->laserOn());
            tick();
            EXPECT_EQ(state().device.deviceState, DeviceConnection::Connected);
            EXPECT_EQ(main().statusPanels()->connectionIcon(), StatusIcon::Green);
            EXPECT_TRUE(dialogs.messages.empty()); // identified again, calibration and all
        }
    }

    // Recovered for good: a measurement draws its curve again.
    captureAndCollect();
    EXPECT_EQ(main().statusPanels()->statusIcon(), StatusIcon::Green);
    EXPECT_TRUE(curveShown());
}

TEST_F(CaptureFaultSweep, RefusedLaserFailsTheMeasurementAndIsTold) {
    instrument->setLaserFails(true);
    captureAndCollect();
    EXPECT_EQ(main().statusPanels()->statusIcon(), StatusIcon::Red);
    EXPECT_FALSE(curveShown());
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Laser Off Fail!"});
    EXPECT_EQ(dialogs.messages.back().icon, MessageIcon::Error);
    EXPECT_FALSE(state().measurement.laserOffFailed); // told once

    instrument->setLaserFails(false);
    dialogs.messages.clear();
    captureAndCollect();
    EXPECT_EQ(main().statusPanels()->statusIcon(), StatusIcon::Green);
    EXPECT_TRUE(dialogs.messages.empty());
}

} // namespace
} // namespace veltrane
