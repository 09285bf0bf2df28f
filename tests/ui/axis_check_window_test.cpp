#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>

#include "app/ui/setup_window.h"
#include "axis_check/axis_check_log.h"
#include "axis_check/axis_correction_store.h"
#include "axis_check/ui/axis_check_window.h"
#include "axis_check/ui/axis_correction_controller.h"
#include "measure/spectrum_header.h"
#include "measure/ui/measure_controller.h"
#include "platform/file_io.h"
#include "ui/app_fixture.h"

namespace veltrane {
namespace {

// The window loop of the axis check with the virtual instrument's axis
// reading high: the worker runs on the virtual clock, the device ticks are
// the test's own.
class AxisCheckWindow : public test::AppFixture {
protected:
    void startConnected() {
        start();
        find<QTimer>("Timer_auto_get_device")->stop();
        tick();
        ASSERT_EQ(state().device.deviceState, DeviceConnection::Connected);
    }
    TForm_axis_check& window() { return app->axisCheckWindow(); }
    // Capture from the window, and the timer tick that takes the result to it.
    AxisCheck captureAndCheck() {
        window().findChild<QPushButton*>("Button_axis_capture")->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !main().measure().workerBusy(); }, 20000));
        main().measure().MSR_TimerTimer();
        EXPECT_TRUE(window().lastCheck());
        return window().lastCheck().value_or(AxisCheck{});
    }
    std::optional<StoredAxisCorrection> stored() {
        return AxisCorrectionStore(dir.path() + "veltrane.ini").find(InstrumentKey(state().device));
    }
    QStringList deviceLines() {
        QStringList lines;
        if (QTreeWidgetItem* root = main().deviceTree()->topLevelItem(0))
            for (int i = 0; i < root->childCount(); ++i)
                lines << root->child(i)->text(0);
        return lines;
    }
    std::string saveRaw(const std::string& folder) {
        std::filesystem::create_directories(dir.path() + folder);
        const std::string path = dir.path() + folder + "/ps.rsd";
        dialogs.saveAnswers.push_back(path);
        main().measure().SpeedButton_save_rawClick();
        std::string bytes;
        EXPECT_EQ(ReadWholeFile(path, bytes), LoadResult::Loaded);
        return bytes;
    }
    QPushButton* removeButton() { return main().axisCorrection().removeButton(); }
};

TEST_F(AxisCheckWindow, ADriftedAxisFailsIsCorrectedForTheInstrumentAndTheCorrectionIsRemovable) {
    attach();
    instrument->setAxisError(4.0);
    startConnected();
    main().SpeedButton_setupClick();
    app->setupWindow().findChild<QPushButton*>("Button_check_axis")->click();
    ASSERT_TRUE(window().isVisible());
    EXPECT_FALSE(app->setupWindow().isVisible());

    const AxisCheck drifted = captureAndCheck();
    ASSERT_TRUE(drifted.enoughBands) << drifted.found;
    EXPECT_FALSE(drifted.pass);
    EXPECT_NEAR(drifted.offset, 4.0, 0.5);
    EXPECT_TRUE(window().resultLabel()->text().startsWith("Fail: offset +"))
        << window().resultLabel()->text().toStdString();
    EXPECT_TRUE(window().resultLabel()->styleSheet().contains("#dc0000"));
    QTableWidget* bands = window().bandTable();
    ASSERT_EQ(bands->rowCount(), 11); // polystyrene's bands, skipped ones with their reason
    for (int row = 0; row < bands->rowCount(); ++row)
        EXPECT_EQ(bands->item(row, 1)->text() == "-", !bands->item(row, 3)->text().isEmpty()) << row;

    // A standard of one's own from a file, checked on the spectrum shown.
    const std::string own = dir.path() + "standard.txt";
    ASSERT_TRUE(WriteFileAtomically(own, "Four bands of polystyrene\n620.9\n1001.4\n1031.8\n1602.3 2\n"));
    dialogs.openAnswers.push_back(own);
    window().standardBox()->setCurrentIndex(window().standardBox()->count() - 1);
    EXPECT_EQ(window().standardBox()->currentText(), "Four bands of polystyrene");
    window().findChild<QPushButton*>("Button_axis_shown")->click();
    EXPECT_EQ(bands->rowCount(), 4);
    EXPECT_NEAR(window().lastCheck()->offset, 4.0, 0.5);
    window().standardBox()->setCurrentIndex(0);
    window().findChild<QPushButton*>("Button_axis_shown")->click();

    // Applied: kept for this instrument, shown in the device information,
    // and the drawn axis moves; the raw file keeps the instrument's own axis.
    const std::string rawBefore = saveRaw("before");
    const double firstX = main().spectrumChart().seriesPoints(main().measuredSeries()).front().x;
    ASSERT_TRUE(window().applyButton()->isEnabled());
    window().applyButton()->click();
    ASSERT_TRUE(stored());
    EXPECT_NEAR(stored()->correction.offset, -4.0, 0.5);
    EXPECT_EQ(stored()->standard, "Polystyrene");
    EXPECT_TRUE(deviceLines().contains(QString::fromStdString(AxisCorrectionText(*stored()))));
    EXPECT_FALSE(removeButton()->isHidden());
    EXPECT_NEAR(main().spectrumChart().seriesPoints(main().measuredSeries()).front().x - firstX,
                stored()->correction.offset, 1e-3);
    std::string rawAfter = saveRaw("after");
    ASSERT_EQ(rawAfter.size(), rawBefore.size());
    // Saved a moment later: only the time in the header may differ.
    SpectrumHeader before, after;
    std::copy_n(rawBefore.begin(), kHeaderSize, before.bytes.begin());
    std::copy_n(rawAfter.begin(), kHeaderSize, after.bytes.begin());
    after.setDateTime(before.dateTime());
    std::copy(after.bytes.begin(), after.bytes.end(), rawAfter.begin());
    EXPECT_EQ(rawAfter, rawBefore);

    const AxisCheck corrected = captureAndCheck();
    EXPECT_TRUE(corrected.pass) << corrected.largest;
    EXPECT_TRUE(window().resultLabel()->styleSheet().contains("#008000"));
    // The check of a capture is on record for reports; the opened-file
    // check before it was not (a file names no instrument).
    const std::optional<AxisCheckRecord> last =
        AxisCheckLog(AppPathsAt(dir.path()).settingsFile).last(InstrumentKey(state().device));
    ASSERT_TRUE(last);
    EXPECT_TRUE(last->pass);
    EXPECT_EQ(last->standard, "Polystyrene");
    EXPECT_NEAR(last->largest, corrected.largest, 1e-3);

    // A further drift is checked on the corrected axis, and its correction
    // replaces the one in force rather than adding to it.
    instrument->setAxisError(6.0);
    const AxisCheck further = captureAndCheck();
    EXPECT_NEAR(further.offset, 2.0, 0.5);
    window().applyButton()->click();
    EXPECT_NEAR(stored()->correction.offset, -6.0, 0.5);

    // A restart finds it again, and the tolerance last set; its button
    // removes the correction for good.
    window().findChild<QDoubleSpinBox*>("Edit_axis_tolerance")->setValue(2.5);
    window().close();
    main().close();
    app.reset();
    startConnected();
    EXPECT_EQ(window().findChild<QDoubleSpinBox*>("Edit_axis_tolerance")->value(), 2.5);
    ASSERT_TRUE(state().device.axisCorrection);
    EXPECT_NEAR(state().device.axisCorrection->offset, -6.0, 0.5);
    EXPECT_TRUE(deviceLines().contains(QString::fromStdString(AxisCorrectionText(*stored()))));
    removeButton()->click();
    EXPECT_FALSE(stored());
    EXPECT_FALSE(state().device.axisCorrection);
    EXPECT_TRUE(removeButton()->isHidden());
    EXPECT_FALSE(deviceLines().join("\n").contains("Axis corrected"));
    main().close();
    app.reset();
    startConnected();
    EXPECT_FALSE(state().device.axisCorrection);
    EXPECT_TRUE(removeButton()->isHidden());
}

} // namespace
} // namespace veltrane
