#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <filesystem>

#include "library/library_file_bytes.h"
#include "library/ui/library_controller.h"
#include "library/ui/rename_window.h"
#include "shared/ui/status_panels.h"
#include "transfer/ui/transfer_controller.h"
#include "ui/app_fixture.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;

// Delete, rename, import and export from the Linker page.
class LibraryPage : public test::AppFixture {
protected:
    std::string local() { return dir.path() + "local/"; }
    std::string device() { return dir.path() + "device/"; }
    void writePc(const std::string& name, std::uint16_t model = 179) {
        fs::create_directories(local());
        test::WriteBytes(local() + name + ".rlb", test::PcLibraryBytes(test::HeaderBytes(name, model)));
    }
    void listPc() {
        main().SpeedButton_linker_modeClick();
        find<QToolButton>("SpeedButton_import_pc")->click();
    }
    void tickLibrary(const std::string& name) {
        for (int r = 1; r <= main().libraryGrid()->rowCount(); ++r)
            if (main().library().rowName(r) == name) state().library.rowTicks[r] = 1;
    }
    std::vector<std::string> listed() {
        std::vector<std::string> names;
        for (int r = 1; r <= state().library.lib.libraryCount; ++r)
            names.push_back(main().library().rowName(r));
        std::sort(names.begin(), names.end());
        return names;
    }
    void tickFile(const std::string& file) {
        for (int r = 1; r <= main().libraryGrid()->rowCount(); ++r)
            if (main().library().rowFile(r) == file) state().library.rowTicks[r] = 1;
    }
    QAction* menu(const char* name) { return main().libraryGrid()->findChild<QAction*>(name); }
    bool transferDone() { return state().library.transferState == 0 && !main().transfer().workerBusy(); }
};

TEST_F(LibraryPage, DeleteAsksAndRemovesTheTickedLibraries) {
    for (const char* n : {"alpha", "beta", "gamma", "delta", "omega"})
        writePc(n);
    start();
    listPc();
    menu("Delete")->trigger();
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Not Select!"});
    tickLibrary("beta");
    tickLibrary("delta");
    dialogs.answers.push_back(DialogAnswer::Cancel);
    menu("Delete")->trigger();
    EXPECT_EQ(dialogs.messages.back().buttons, MessageButtons::OkCancel);
    EXPECT_EQ(listed().size(), 5u);
    EXPECT_FALSE(main().library().tickedRows().empty()); // cancel keeps the ticks

    menu("Delete")->trigger();
    std::string question = dialogs.messages.back().text;
    EXPECT_EQ(question.rfind("Delete Lib?\n\n1. ", 0), 0u);
    EXPECT_NE(question.find(". beta\n"), std::string::npos);
    EXPECT_NE(question.find(". delta\n"), std::string::npos);
    EXPECT_EQ(listed(), (std::vector<std::string>{"alpha", "gamma", "omega"}));
    EXPECT_FALSE(fs::exists(local() + "beta.rlb"));
    EXPECT_TRUE(main().library().tickedRows().empty());
}

TEST_F(LibraryPage, RenameGivesOneLibraryANewName) {
    writePc("alpha");
    writePc("beta");
    start();
    listPc();
    tickLibrary("alpha");
    tickLibrary("beta");
    menu("Rename")->trigger();
    EXPECT_EQ(dialogs.texts().back(), "Rename one file at once!");
    listPc(); // clears the ticks
    tickLibrary("alpha");
    menu("Rename")->trigger();
    TForm_rename& window = app->renameWindow();
    ASSERT_TRUE(window.isVisible());
    EXPECT_FALSE(main().isEnabled());
    EXPECT_EQ(window.findChild<QLabel*>("Label_old_name")->text(), "alpha");
    auto* edit = window.findChild<QLineEdit*>("Edit_new_name");

    edit->setText("beta");
    window.Button_renameClick();
    EXPECT_EQ(dialogs.texts().back(), "File name existed");
    EXPECT_TRUE(window.isVisible());
    edit->setText(QString(65, 'x'));
    window.Button_renameClick();
    EXPECT_EQ(dialogs.texts().back(), "File name over 64 word");
    edit->setText("../outside");
    window.Button_renameClick();
    EXPECT_EQ(dialogs.texts().back(), "Invalid file name!");
    EXPECT_TRUE(fs::exists(local() + "alpha.rlb"));

    edit->setText("gamma");
    window.Button_renameClick();
    EXPECT_EQ(dialogs.texts().back(), "Process Completed");
    EXPECT_EQ(dialogs.messages.back().icon, MessageIcon::None);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(main().isEnabled());
    EXPECT_EQ(listed(), (std::vector<std::string>{"beta", "gamma"}));
    EXPECT_EQ(fs::file_size(local() + "gamma.rlb"), 20120u);
}

TEST_F(LibraryPage, EveryActionGoesToTheFileItsRowWasListedFrom) {
    fs::create_directories(local());
    test::WriteBytes(local() + "alpha.rlb", test::PcLibraryBytes(test::HeaderBytes("alpha", 179), 1));
    test::WriteBytes(local() + "copy_of_alpha.rlb", test::PcLibraryBytes(test::HeaderBytes("alpha", 179), 2));
    test::WriteBytes(local() + "Upper.RLB", test::PcLibraryBytes(test::HeaderBytes("Upper", 179), 3));
    start();
    listPc();
    // The copy carries alpha's name; deleting it must not touch alpha.rlb.
    tickFile("copy_of_alpha.rlb");
    menu("Delete")->trigger();
    EXPECT_EQ(dialogs.texts().back(), "Delete Lib?\n\n1. alpha\n");
    EXPECT_TRUE(fs::exists(local() + "alpha.rlb"));
    EXPECT_FALSE(fs::exists(local() + "copy_of_alpha.rlb"));

    tickFile("Upper.RLB");
    find<QToolButton>("SpeedButton_draw")->click();
    EXPECT_EQ(main().library().curves()[0] != kNoSeries, true);
    EXPECT_EQ(dialogs.messages.size(), 1u); // drawn without complaint
    menu("Rename")->trigger();
    TForm_rename& window = app->renameWindow();
    window.findChild<QLineEdit*>("Edit_new_name")->setText("Lower");
    window.Button_renameClick();
    EXPECT_EQ(dialogs.texts().back(), "Process Completed");
    EXPECT_FALSE(fs::exists(local() + "Upper.RLB"));
    EXPECT_TRUE(fs::exists(local() + "Lower.rlb"));

    tickFile("Lower.rlb");
    menu("Delete")->trigger();
    EXPECT_FALSE(fs::exists(local() + "Lower.rlb"));
    EXPECT_EQ(listed(), std::vector<std::string>{"alpha"});
}

TEST_F(LibraryPage, ANameInAWindowsCodePageIsShownAndRenamed) {
    fs::create_directories(local());
    test::WriteBytes(local() + "cafe.rlb", test::PcLibraryBytes(test::HeaderBytes("caf\xE9 \x80", 179)));
    start();
    listPc();
    EXPECT_EQ(main().libraryGrid()->item(0, 1)->text(), QString::fromUtf8("caf\xC3\xA9 \xE2\x82\xAC"));
    EXPECT_EQ(main().library().rowName(1), "caf\xE9 \x80"); // the bytes stay
    tickFile("cafe.rlb");
    menu("Rename")->trigger();
    TForm_rename& window = app->renameWindow();
    EXPECT_EQ(window.findChild<QLabel*>("Label_old_name")->text(), QString::fromUtf8("caf\xC3\xA9 \xE2\x82\xAC"));
    window.findChild<QLineEdit*>("Edit_new_name")->setText("latte");
    window.Button_renameClick();
    EXPECT_EQ(dialogs.texts().back(), "Process Completed");
    EXPECT_EQ(listed(), std::vector<std::string>{"latte"});
}

TEST_F(LibraryPage, MoreLibrariesThanTheStoreTakesAreRefusedNotCut) {
    attach();
    fs::create_directories(local());
    for (std::size_t i = 0; i <= kMaxExportSelection; ++i)
        test::WriteBytes(local() + "lib" + std::to_string(i) + ".rlb", test::HeaderBytes("lib", 179));
    start();
    tick();
    listPc();
    ASSERT_EQ(state().library.lib.libraryCount, kMaxExportSelection + 1);
    for (int r = 1; r <= state().library.lib.libraryCount; ++r)
        state().library.rowTicks[r] = 1;
    instrument->clearLog();
    find<QToolButton>("SpeedButton_export")->click();
    EXPECT_EQ(dialogs.texts().back(), "Max 2000 libraries per export!\nThe instrument's library store holds no more.");
    EXPECT_EQ(state().library.transferState, 0);
    EXPECT_TRUE(instrument->log().empty());
}

TEST_F(LibraryPage, ImportThenExportOfEveryRowGivesTheStoreBackByteForByte) {
    realTime = true;
    speed = 50;
    attach();
    std::string store;
    for (const std::string& name : {std::string("a:b"), std::string("a/b"), std::string("a\\b"), std::string("x*"),
                                    std::string(), std::string(64, 'n'), std::string("caf\xE9"), std::string("x*")})
        store += test::DeviceRecordBytes(test::HeaderBytes(name, 179), {1, 2, 3}, {4000, 5000});
    instrument->setFile(kDeviceLibraryPath, std::vector<std::uint8_t>(store.begin(), store.end()));
    start();
    tick();
    main().SpeedButton_linker_modeClick();
    find<QToolButton>("SpeedButton_import_dev")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return transferDone(); }, 20000));
    ASSERT_EQ(state().library.lib.libraryCount, 8);
    for (int r = 1; r <= state().library.lib.libraryCount; ++r)
        state().library.rowTicks[r] = 1;
    instrument->setFile(kDeviceLibraryPath, {});
    find<QToolButton>("SpeedButton_export")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return transferDone(); }, 20000));
    // Every row goes back, so the question names none as lost.
    EXPECT_EQ(dialogs.texts(), (std::vector<std::string>{
                                   "Export replaces all libraries on the instrument with the 8 ticked ones. Continue?",
                                   "Process Completed"}));
    auto written = *instrument->file(kDeviceLibraryPath);
    EXPECT_TRUE(std::string(written.begin(), written.end()) == store);
}

TEST_F(LibraryPage, ImportListsTheInstrumentsLibrariesAndExportWritesThemBack) {
    realTime = true;
    speed = 50; // chunk waits of 50 ms pass in one
    attach();
    instrument->loadDefaultLibraryStore();
    auto store = *instrument->file(kDeviceLibraryPath);
    start();
    tick();
    main().SpeedButton_linker_modeClick();
    find<QToolButton>("SpeedButton_import_dev")->click();
    EXPECT_EQ(state().library.transferState, 1);
    find<QToolButton>("SpeedButton_export")->click(); // refused while busy
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Measure Processing!"});
    main().SpeedButton_spectrum_modeClick();
    EXPECT_EQ(dialogs.texts().back(), "Library Transfer Processing!");
    ASSERT_TRUE(QTest::qWaitFor([&] { return transferDone(); }, 20000));
    EXPECT_EQ(dialogs.messages.size(), 2u); // success: no message
    EXPECT_EQ(main().libraryGrid()->horizontalHeaderItem(1)->text(), "Library Name (Device)");
    EXPECT_EQ(state().library.lib.libraryCount, store.size() / 5120);
    EXPECT_EQ(main().statusPanels()->statusIcon(), StatusIcon::Green);
    EXPECT_EQ(main().progressBar()->value(), 0);

    // Export every mirrored library back: the instrument holds the same records.
    for (int r = 1; r <= state().library.lib.libraryCount; ++r)
        state().library.rowTicks[r] = 1;
    instrument->setFile(kDeviceLibraryPath, {});
    find<QToolButton>("SpeedButton_export")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return transferDone(); }, 20000));
    // Asked first, told at the end; nothing is lost when every library goes back.
    ASSERT_EQ(dialogs.messages.size(), 4u);
    EXPECT_EQ(dialogs.messages[2].text, "Export replaces all libraries on the instrument with the " +
                                            std::to_string(store.size() / 5120) + " ticked ones. Continue?");
    EXPECT_EQ(dialogs.texts().back(), "Process Completed");
    EXPECT_EQ(*instrument->file(kDeviceLibraryPath), store);
}

TEST_F(LibraryPage, ExportChecksTheSelectionAndTheModel) {
    attach(); // a type-179 instrument
    writePc("ok179", 179);
    writePc("wrong180", 180);
    writePc("unknown", 7);
    start();
    tick();
    listPc();
    find<QToolButton>("SpeedButton_export")->click();
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Not Select!"});
    EXPECT_EQ(dialogs.messages.back().icon, MessageIcon::Warning);
    tickLibrary("wrong180");
    find<QToolButton>("SpeedButton_export")->click();
    EXPECT_EQ(dialogs.texts().back(), "Model not match!\nPlease check.");
    EXPECT_EQ(dialogs.messages.back().icon, MessageIcon::Error);
    listPc();
    tickLibrary("unknown");
    find<QToolButton>("SpeedButton_export")->click();
    EXPECT_EQ(dialogs.texts().back(), "Model not match!\nPlease check.");
    EXPECT_EQ(state().library.transferState, 0);

    // The other brand's model names are checked the same way.
    state().device.brandVariant = BrandVariant::Korvel;
    listPc();
    tickLibrary("wrong180");
    bool korvelNames = false;
    for (int r = 0; r < main().libraryGrid()->rowCount(); ++r)
        korvelNames = korvelNames || main().libraryGrid()->item(r, 2)->text() == "QX810B";
    EXPECT_TRUE(korvelNames);
    find<QToolButton>("SpeedButton_export")->click();
    EXPECT_EQ(dialogs.texts().back(), "Model not match!\nPlease check.");
    listPc();
    tickLibrary("ok179");
    std::size_t messages = dialogs.messages.size();
    find<QToolButton>("SpeedButton_export")->click();
    EXPECT_EQ(dialogs.messages.size(), messages + 1); // passes the check, asks and starts
    EXPECT_NE(dialogs.texts().back().find("Import Device Library first"), std::string::npos);
    EXPECT_NE(state().library.transferState, 0);
    main().transfer().shutdown();
}

TEST_F(LibraryPage, DeleteAndRenameWaitForARunningTransfer) {
    writePc("alpha");
    start();
    listPc();
    tickLibrary("alpha");
    state().library.transferState = 1;
    menu("Delete")->trigger();
    menu("Rename")->trigger();
    EXPECT_EQ(dialogs.texts(), (std::vector<std::string>{"Measure Processing!", "Measure Processing!"}));
    EXPECT_TRUE(fs::exists(local() + "alpha.rlb"));
    state().library.transferState = 0;
}

TEST_F(LibraryPage, TransferWithoutADeviceEndsWithNoDevice) {
    start();
    main().SpeedButton_linker_modeClick();
    find<QToolButton>("SpeedButton_import_dev")->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            main().transfer().trans_TimerTimer();
            return transferDone();
        },
        5000));
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"No Device!"});
    EXPECT_EQ(dialogs.messages.back().icon, MessageIcon::Error);
    EXPECT_EQ(main().statusPanels()->statusIcon(), StatusIcon::Red);
    EXPECT_EQ(main().progressBar()->value(), 0);
}

TEST_F(LibraryPage, ClosingDuringATransferEndsItCleanly) {
    realTime = true;
    speed = 1;
    attach();
    instrument->loadDefaultLibraryStore();
    auto store = *instrument->file(kDeviceLibraryPath);
    writePc("p1");
    start();
    tick();
    listPc();
    tickLibrary("p1");
    // After its first chunk the instrument stops answering ready: the export
    // sits in a chunk wait when the window closes.
    instrument->clearLog();
    instrument->neverReadyAfterCode(wire::kTransferChunk);
    find<QToolButton>("SpeedButton_export")->click();
    auto chunkSent = [&] {
        for (const SimLogEntry& e : instrument->log())
            if (e.kind == SimLogEntry::Kind::Command && e.code == wire::kTransferChunk) return true;
        return false;
    };
    ASSERT_TRUE(QTest::qWaitFor(chunkSent, 10000));
    QElapsedTimer closing;
    closing.start();
    main().close();
    EXPECT_FALSE(main().transfer().workerBusy());
    EXPECT_LT(closing.elapsed(), 1000);                      // the wait ended at its next step, not after 3 s
    EXPECT_EQ(*instrument->file(kDeviceLibraryPath), store); // the store was not half written
}

} // namespace
} // namespace veltrane
