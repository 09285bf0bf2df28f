#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>
#include <cmath>

#include "markers/ui/marker_windows.h"
#include "ui/app_fixture.h"

namespace veltrane {
namespace {

class MarkerWindows : public test::AppFixture {
protected:
    // An identified, calibrated 2500-pixel instrument and a measured spectrum.
    void measured() {
        attach();
        start();
        tick();
        ASSERT_TRUE(state().device.waveCalValid);
        fillMeasured([](int i) { return 2000.0f + 300.0f * std::sin(i * 0.03f); }, 800.0f);
    }
    TForm_mark_info& table() { return app->markInfoWindow(); }
    TForm_mark_rename& renamer() { return app->markRenameWindow(); }
    template <typename T = QWidget> T* inTable(const char* name) {
        T* w = table().findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QTableWidget* grid() { return inTable<QTableWidget>("StringGrid_mark_info"); }
    QFrame* panel(int i) { return inTable<QFrame>(QString("Panel%1").arg(i).toUtf8().constData()); }
    void takeMarker() { find<QToolButton>("SpeedButton_marker")->click(); }
    void openTable() { find<QToolButton>("SpeedButton_mark_info")->click(); }
    ChartModel& chart() { return main().spectrumChart(); }
    std::string titleAt(std::size_t position) { return chart().seriesTitle(chart().seriesByIndex(position)); }
    QString cell(int row) {
        QTableWidgetItem* item = grid()->item(row, 1);
        return item ? item->text() : QString("<none>");
    }
    std::uint32_t swatch(int i) { return panel(i)->palette().color(QPalette::Window).rgb() & 0xFFFFFFu; }
};

TEST_F(MarkerWindows, ButtonAndHotkeyTakeMarkersInBothModesUpToSix) {
    measured();
    takeMarker();
    ASSERT_EQ(chart().seriesCount(), 2u);
    EXPECT_EQ(titleAt(1), "Serise1");
    EXPECT_TRUE(chart().legendVisible());
    // The live spectrum of a calibrated 179: Raman shifts inside 400..4000.
    const std::vector<ChartPoint>& points = chart().seriesPoints(chart().seriesByIndex(1));
    ASSERT_FALSE(points.empty());
    EXPECT_GT(points.front().x, 400.0);
    EXPECT_LT(points.back().x, 4000.0);

    main().FormKeyPress("A");
    main().SpeedButton_linker_modeClick();
    ASSERT_EQ(state().shell.activeMode, ActiveMode::Linker);
    main().FormKeyPress("A");
    main().SpeedButton_spectrum_modeClick();
    ASSERT_EQ(chart().seriesCount(), 4u);
    takeMarker();
    takeMarker();
    takeMarker();
    EXPECT_EQ(chart().seriesCount(), 7u);
    EXPECT_EQ(titleAt(6), "Serise6");
    EXPECT_TRUE(dialogs.messages.empty());

    main().FormKeyPress("A");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Max 6 Lines!");
    EXPECT_EQ(dialogs.messages[0].caption, "Information");
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(chart().seriesCount(), 7u);
}

TEST_F(MarkerWindows, MarkersSurviveChartSetUpAndModeChanges) {
    measured();
    takeMarker();
    takeMarker();
    SeriesHandle second = chart().seriesByIndex(2);
    chart().addPoint(main().measuredSeries(), 1000.0, 5.0);

    main().SetUpCharts(0); // what each identification does
    main().SpeedButton_linker_modeClick();
    main().SpeedButton_spectrum_modeClick();
    ASSERT_EQ(chart().seriesCount(), 3u);
    EXPECT_EQ(titleAt(0), "Real");
    EXPECT_TRUE(chart().seriesPoints(main().measuredSeries()).empty());
    EXPECT_EQ(chart().seriesByIndex(2), second);
    EXPECT_TRUE(chart().legendVisible());
}

TEST_F(MarkerWindows, EmptyTableRefusesRenameIgnoresDeleteAndDeleteAllCloses) {
    measured();
    openTable();
    EXPECT_TRUE(table().isVisible());
    EXPECT_FALSE(main().isEnabled());
    EXPECT_EQ(table().windowTitle(), "Mark Set");
    ASSERT_EQ(grid()->rowCount(), 1);
    EXPECT_EQ(grid()->item(0, 0)->text(), "Color");
    EXPECT_EQ(grid()->item(0, 1)->text(), "Name");
    for (int i = 1; i <= 6; ++i)
        EXPECT_TRUE(panel(i)->isHidden()) << i;

    inTable<QToolButton>("SpeedButton_rename")->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Not Select Item!");
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Error);
    EXPECT_FALSE(renamer().isVisible());

    inTable<QToolButton>("SpeedButton_delete")->click();
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(table().isVisible());

    inTable<QToolButton>("SpeedButton_delete_all")->click();
    EXPECT_FALSE(table().isVisible());
    EXPECT_TRUE(main().isEnabled());
    EXPECT_FALSE(chart().legendVisible());
}

TEST_F(MarkerWindows, DeletingTheSecondOfThreeKeepsSwatchesInStepWithTheChart) {
    measured();
    takeMarker();
    takeMarker();
    takeMarker();
    std::uint32_t first = chart().seriesColour(chart().seriesByIndex(1));
    std::uint32_t third = chart().seriesColour(chart().seriesByIndex(3));
    openTable();
    ASSERT_EQ(grid()->rowCount(), 4);
    EXPECT_EQ(swatch(2), chart().seriesColour(chart().seriesByIndex(2)));
    // A swatch covers column 0 and stays within its own row.
    QRect cellRect = grid()->visualRect(grid()->model()->index(3, 0));
    QRect swatchRect = panel(3)->geometry();
    EXPECT_EQ(swatchRect.left(), 0);
    EXPECT_EQ(swatchRect.width(), grid()->columnWidth(0));
    EXPECT_GT(swatchRect.top(), cellRect.top());
    EXPECT_LT(swatchRect.bottom(), cellRect.bottom());

    inTable<QToolButton>("SpeedButton_delete")->click(); // no row chosen yet
    EXPECT_EQ(grid()->rowCount(), 4);
    grid()->selectRow(2);
    inTable<QToolButton>("SpeedButton_delete")->click();
    EXPECT_TRUE(table().isVisible());
    ASSERT_EQ(grid()->rowCount(), 3);
    EXPECT_EQ(cell(1), "Serise1");
    EXPECT_EQ(cell(2), "Serise3");
    EXPECT_EQ(swatch(1), first);
    EXPECT_EQ(swatch(2), third);
    EXPECT_FALSE(panel(2)->isHidden());
    EXPECT_TRUE(panel(3)->isHidden());
    ASSERT_EQ(chart().seriesCount(), 3u);
    EXPECT_EQ(chart().seriesColour(chart().seriesByIndex(2)), third);

    table().Button_cancelClick();
    EXPECT_TRUE(main().isEnabled());
    takeMarker();
    EXPECT_EQ(titleAt(3), "Serise4");
}

TEST_F(MarkerWindows, RenameTakesEvenAnEmptyNameAndCancelChangesNothing) {
    measured();
    takeMarker();
    takeMarker();
    openTable();
    grid()->selectRow(2);
    inTable<QToolButton>("SpeedButton_rename")->click();
    ASSERT_TRUE(renamer().isVisible());
    EXPECT_EQ(renamer().windowTitle(), "Mark Rename");
    EXPECT_FALSE(table().isEnabled());
    EXPECT_EQ(state().markers.markerRenameRow, 2);
    EXPECT_EQ(renamer().findChild<QLabel*>("Label_old_name")->text(), "Serise2");
    auto* edit = renamer().findChild<QLineEdit*>("Edit_new_name");
    EXPECT_EQ(edit->text(), "NewName");
    EXPECT_EQ(edit->selectedText(), "NewName");

    edit->setText("changed");
    renamer().findChild<QPushButton*>("Button_cancel")->click();
    EXPECT_FALSE(renamer().isVisible());
    EXPECT_TRUE(table().isEnabled());
    EXPECT_EQ(cell(2), "Serise2");
    EXPECT_EQ(titleAt(2), "Serise2");

    inTable<QToolButton>("SpeedButton_rename")->click(); // the row is still chosen
    ASSERT_TRUE(renamer().isVisible());
    edit->setText("");
    renamer().findChild<QPushButton*>("Button_rename")->click();
    EXPECT_FALSE(renamer().isVisible());
    EXPECT_TRUE(table().isEnabled());
    EXPECT_EQ(cell(2), "");
    EXPECT_EQ(titleAt(2), "");
    EXPECT_EQ(titleAt(1), "Serise1");
    EXPECT_EQ(state().markers.markerNameCounter, 2);
}

} // namespace
} // namespace veltrane
