#include <QCheckBox>
#include <QScrollBar>
#include <QSplitter>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <filesystem>

#include "library/library_file_bytes.h"
#include "library/ui/library_controller.h"
#include "shared/ui/status_panels.h"
#include "ui/app_fixture.h"

namespace veltrane {
namespace {

class LibraryGrid : public test::AppFixture {
protected:
    std::string local() { return dir.path() + "local/"; }
    void writePc(const std::string& name, std::uint16_t model = 179) {
        std::filesystem::create_directories(local());
        test::WriteBytes(local() + name + ".rlb", test::PcLibraryBytes(test::HeaderBytes(name, model)));
    }
    // Shown in the Linker mode with a grid 201 pixels high.
    void startInLinker() {
        start();
        main().show();
        main().SpeedButton_linker_modeClick();
        QApplication::processEvents();
        auto* splitter = find<QSplitter>("Splitter1");
        splitter->setSizes({splitter->height() - splitter->handleWidth() - 201, 201});
        QApplication::processEvents();
        ASSERT_EQ(grid()->height(), 201);
        main().library().Splitter1Moved();
    }
    void press(const char* button) { find<QToolButton>(button)->click(); }
    QTableWidget* grid() { return main().libraryGrid(); }
    QCheckBox* box(int k) { return find<QCheckBox>(("CheckBox" + std::to_string(k)).c_str()); }
    bool shown(int k) { return box(k)->isVisibleTo(&main()); }
    void clickRow(int row) {
        QRect cell = grid()->visualRect(grid()->model()->index(row - 1, 1));
        ASSERT_TRUE(grid()->viewport()->rect().contains(cell.center())) << "row " << row;
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    }
    int rowOf(const std::string& name) {
        for (int r = 1; r <= grid()->rowCount(); ++r)
            if (main().library().rowName(r) == name) return r;
        return 0;
    }
    std::vector<int> ticked() { return main().library().tickedRows(); }
    std::string status() { return main().statusPanels()->valueText().toStdString(); }
};

TEST_F(LibraryGrid, PcButtonListsAndClicksTickRowsButKeysAndTheWheelDoNot) {
    for (int i = 0; i < 40; ++i)
        writePc("lib" + std::to_string(i), i == 0 ? 180 : 179);
    test::WriteBytes(local() + "damaged.rlb", "a few bytes");
    startInLinker();
    press("SpeedButton_import_pc");
    EXPECT_EQ(grid()->horizontalHeaderItem(1)->text(), "Library Name (PC)");
    ASSERT_EQ(grid()->rowCount(), 41);
    EXPECT_EQ(status(), "Library quantity: 41");
    EXPECT_EQ(grid()->item(rowOf("lib0") - 1, 2)->text() + grid()->item(rowOf("lib0") - 1, 3)->text(),
              "TL2002017/3/3 9:5:7");
    EXPECT_TRUE(state().library.fitRows == 7 && shown(7) && !shown(8));

    clickRow(2);
    clickRow(2);
    clickRow(3);
    EXPECT_EQ(ticked(), std::vector<int>{3});
    EXPECT_TRUE(box(3)->isChecked());
    QTest::keyClick(grid(), Qt::Key_Down);
    EXPECT_EQ(state().library.currentRow, 4);
    clickRow(5); // only ends the keyboard's turn
    QWheelEvent wheel(QPointF(50, 30), QPointF(50, 30), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(grid()->viewport(), &wheel);
    EXPECT_EQ(ticked(), std::vector<int>{3});

    // Scrolled by five rows, box 1 shows row 6 and a click there ticks it.
    grid()->verticalScrollBar()->setValue(5);
    ASSERT_EQ(main().library().topRow(), 6);
    clickRow(6);
    EXPECT_TRUE(box(1)->isChecked());
    EXPECT_EQ(ticked(), (std::vector<int>{3, 6}));
    grid()->verticalScrollBar()->setValue(0);
    EXPECT_TRUE(box(3)->isChecked() && !box(1)->isChecked());

    // "All", then the damaged file left out of a drawing by name.
    press("SpeedButton_import_pc"); // a new listing clears the ticks
    EXPECT_TRUE(ticked().empty());
    QTest::mouseClick(box(0), Qt::LeftButton, Qt::NoModifier, QPoint(7, 8));
    EXPECT_EQ(ticked().size(), 41u);
    EXPECT_TRUE(box(7)->isChecked());
    ClearTicks(state().library);
    auto damaged = static_cast<std::size_t>(rowOf("damaged"));
    state().library.rowTicks[damaged] = state().library.rowTicks[damaged == 1 ? 2 : 1] = 1;
    press("SpeedButton_draw");
    EXPECT_EQ(main().libraryChart().seriesCount(), 1u);
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Can not read library!\n\ndamaged"});
}

TEST_F(LibraryGrid, TypeAheadDrawHotkeyAndRefusalsDuringATransfer) {
    for (const char* name : {"alpha", "beta", "gamma"})
        writePc(name);
    startInLinker();
    press("SpeedButton_import_pc");
    QEvent enter(QEvent::Enter); // the pointer over the grid: typing is the type-ahead's
    QApplication::sendEvent(grid(), &enter);
    QTest::keyClick(grid(), 'b');
    EXPECT_EQ(state().library.currentRow, rowOf("beta"));
    QTest::keyClick(grid(), 'z');
    EXPECT_EQ(state().library.currentRow, rowOf("beta"));

    clickRow(1); // ends the keyboard's turn
    clickRow(3);
    clickRow(1);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(grid(), &leave);
    main().FormKeyPress("D");
    ChartModel& chart = main().libraryChart();
    ASSERT_EQ(chart.seriesCount(), 2u);
    EXPECT_EQ(chart.seriesTitle(chart.seriesByIndex(1)), main().library().rowName(3));
    EXPECT_EQ(main().library().curves()[1], chart.seriesByIndex(1));

    state().library.transferState = 1;
    press("SpeedButton_draw");
    press("SpeedButton_import_pc");
    EXPECT_EQ(dialogs.texts(), (std::vector<std::string>{"Measure Processing!", "Measure Processing!"}));
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(ticked(), (std::vector<int>{1, 3})); // nothing listed again
    state().library.transferState = 0;
}

TEST_F(LibraryGrid, StartupLinkerModeAndAPcFolderThatCannotBeMade) {
    std::filesystem::create_directories(dir.path() + "device");
    test::WriteBytes(dir.path() + "device/left.rlb", test::HeaderBytes("left", 179));
    startInLinker();
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "device/left.rlb"));
    EXPECT_EQ(status(), "Library quantity: 0");
    for (int k = 0; k < kRowBoxCount; ++k)
        EXPECT_EQ(shown(k), k == 0) << k;

    test::WriteBytes(dir.path() + "local", "a file where the folder belongs");
    press("SpeedButton_import_pc");
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Can not creat folder!"});

    // A library made meanwhile is listed by the next switch to the Linker mode.
    std::filesystem::remove(dir.path() + "local");
    writePc("made");
    main().SpeedButton_spectrum_modeClick();
    state().library.lib.libraryMade = 1;
    main().SpeedButton_linker_modeClick();
    EXPECT_EQ(status(), "Library quantity: 1");
    EXPECT_TRUE(state().library.lib.libraryMade == 0 && shown(1));
}

} // namespace
} // namespace veltrane
