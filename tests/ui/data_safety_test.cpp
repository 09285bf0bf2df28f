#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "library/library_file_bytes.h"
#include "library/ui/library_controller.h"
#include "library/ui/make_library_window.h"
#include "library/ui/rename_window.h"
#include "support/file_faults.h"
#include "transfer/ui/transfer_controller.h"
#include "ui/app_fixture.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;

enum class Operation { MakeLibrary, Rename, SaveRawData, SettingsWrite, Import };
enum class Refusal { ReadOnlyFolder, FullDisk };

// Every action that writes user data, against a folder that refuses writes
// and against a disk that fills up: the files that were there stay byte for
// byte, nothing half written or temporary is left, and the user is told of
// the failure, never of a success. Lifting the fault then lets the same
// action succeed, so it was the fault that stopped it.
class DataSafety : public test::AppFixture, public ::testing::WithParamInterface<std::tuple<Operation, Refusal>> {
protected:
    std::string local() { return dir.path() + "local/"; }
    std::string device() { return dir.path() + "device/"; }
    std::string raw() { return dir.path() + "raw/"; }

    void SetUp() override {
        attach();
        instrument->loadDefaultLibraryStore();
        fs::create_directories(local());
        fs::create_directories(raw());
        for (const char* name : {"alpha", "beta"})
            test::WriteBytes(local() + name + ".rlb", test::PcLibraryBytes(test::HeaderBytes(name, 179)));
        std::ofstream(raw() + "earlier.rsd", std::ios::binary) << std::string(20508, 'r');
        std::ofstream(dir.path() + "veltrane.ini", std::ios::binary) << "[Form]\r\nfile=1\r\n";
        start();
        tick();
        ASSERT_EQ(state().device.deviceState, DeviceConnection::Connected);
        fillMeasured([](int i) { return 1000.0f + 400.0f * std::sin(i * 0.03f); }, 950.0f);
        // A mirror from before, as an earlier import left it.
        fs::create_directories(device());
        std::ofstream(device() + "earlier.rlb", std::ios::binary) << std::string(5120, 'd');
    }

    std::string folderOf(Operation op) {
        switch (op) {
        case Operation::MakeLibrary:
        case Operation::Rename:
            return local();
        case Operation::SaveRawData:
            return raw();
        case Operation::SettingsWrite:
            return dir.path();
        case Operation::Import:
            return device();
        }
        return {};
    }

    bool transferDone() { return state().library.transferState == 0 && !main().transfer().workerBusy(); }

    // Runs the action as the user does.
    void perform(Operation op) {
        switch (op) {
        case Operation::MakeLibrary: {
            find<QToolButton>("SpeedButton_save_lib")->click();
            TForm_make_lib& window = app->makeLibraryWindow();
            window.findChild<QLineEdit*>("Edit_file_name")->setText("gamma");
            window.findChild<QPushButton*>("Button_save")->click();
            if (window.isVisible()) window.findChild<QPushButton*>("Button_exit")->click();
            break;
        }
        case Operation::Rename: {
            main().SpeedButton_linker_modeClick();
            find<QToolButton>("SpeedButton_import_pc")->click();
            for (int r = 1; r <= main().libraryGrid()->rowCount(); ++r)
                if (main().library().rowName(r) == "alpha") state().library.rowTicks[r] = 1;
            main().libraryGrid()->findChild<QAction*>("Rename")->trigger();
            TForm_rename& window = app->renameWindow();
            window.findChild<QLineEdit*>("Edit_new_name")->setText("delta");
            window.Button_renameClick();
            if (window.isVisible()) window.Button_cancelClick();
            main().SpeedButton_spectrum_modeClick();
            break;
        }
        case Operation::SaveRawData:
            dialogs.saveAnswers.push_back(raw() + "earlier.rsd");
            find<QToolButton>("SpeedButton_save_raw")->click();
            break;
        case Operation::SettingsWrite:
            find<QLineEdit>("Edit_exp")->setText("1234");
            main().close();
            break;
        case Operation::Import:
            main().SpeedButton_linker_modeClick();
            find<QToolButton>("SpeedButton_import_dev")->click();
            // The worker runs on the virtual clock: its device waits pass at once.
            EXPECT_TRUE(QTest::qWaitFor([&] { return !main().transfer().workerBusy(); }, 20000));
            main().transfer().trans_TimerTimer();
            EXPECT_TRUE(transferDone());
            main().SpeedButton_spectrum_modeClick();
            break;
        }
    }
    static const char* failureMessage(Operation op) {
        switch (op) {
        case Operation::MakeLibrary:
        case Operation::Rename:
        case Operation::SaveRawData:
            return "Can not save file!";
        case Operation::SettingsWrite:
            return "Can not save settings!";
        case Operation::Import:
            return "Library File Fail!";
        }
        return "";
    }
};

TEST_P(DataSafety, EarlierFilesStayAndTheFailureIsTold) {
    auto [op, refusal] = GetParam();
    find<QTimer>("Timer_auto_get_device")->stop(); // the ticks of this test are its own
    const test::FolderSnapshot before = test::SnapshotFolder(dir.path());
    dialogs.messages.clear();
    {
        std::unique_ptr<test::ReadOnlyFolder> readOnly;
        std::unique_ptr<test::FileSizeLimit> full;
        if (refusal == Refusal::ReadOnlyFolder)
            readOnly = std::make_unique<test::ReadOnlyFolder>(folderOf(op));
        else
            full = std::make_unique<test::FileSizeLimit>(64);
        perform(op);
    }
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{failureMessage(op)});
    EXPECT_NE(dialogs.messages.front().icon, MessageIcon::None);

    const test::FolderSnapshot after = test::SnapshotFolder(dir.path());
    EXPECT_EQ(test::TemporaryFiles(after), 0u);
    if (op == Operation::SettingsWrite || (op == Operation::Import && refusal == Refusal::FullDisk)) {
        // Closing and an import empty the device mirror (the instrument still
        // holds every library); nothing else may change.
        for (const auto& [name, bytes] : after)
            EXPECT_EQ(before.count(name) ? before.at(name) : "", bytes) << name;
        for (const auto& [name, bytes] : before)
            if (name.rfind("device/", 0) != 0) {
                EXPECT_TRUE(after.count(name)) << name;
            }
    } else {
        EXPECT_EQ(after, before);
    }

    // Without the fault the same action succeeds.
    if (op == Operation::SettingsWrite) {
        EXPECT_EQ(settingsText(), "[Form]\r\nfile=1\r\n");
        return;
    }
    dialogs.messages.clear();
    perform(op);
    switch (op) {
    case Operation::MakeLibrary:
        EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Process Completed"});
        EXPECT_EQ(fs::file_size(local() + "gamma.rlb"), 20120u);
        break;
    case Operation::Rename:
        EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Process Completed"});
        EXPECT_TRUE(fs::exists(local() + "delta.rlb"));
        EXPECT_FALSE(fs::exists(local() + "alpha.rlb"));
        break;
    case Operation::SaveRawData:
        EXPECT_TRUE(dialogs.messages.empty());
        EXPECT_EQ(fs::file_size(raw() + "earlier.rsd"), 20508u);
        EXPECT_NE(test::SnapshotFolder(raw()).at("earlier.rsd"), before.at("raw/earlier.rsd"));
        break;
    case Operation::Import:
        EXPECT_TRUE(dialogs.messages.empty());
        EXPECT_EQ(test::SnapshotFolder(device()).size(), instrument->file(kDeviceLibraryPath)->size() / 5120);
        break;
    case Operation::SettingsWrite:
        break;
    }
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<Operation, Refusal>>& info) {
    static const char* const kOperations[] = {"MakeLibrary", "Rename", "SaveRawData", "SettingsWrite", "Import"};
    return std::string(kOperations[static_cast<int>(std::get<0>(info.param))]) +
           (std::get<1>(info.param) == Refusal::ReadOnlyFolder ? "ReadOnlyFolder" : "FullDisk");
}

INSTANTIATE_TEST_SUITE_P(EveryWriteOfUserData, DataSafety,
                         ::testing::Combine(::testing::Values(Operation::MakeLibrary, Operation::Rename,
                                                              Operation::SaveRawData, Operation::SettingsWrite,
                                                              Operation::Import),
                                            ::testing::Values(Refusal::ReadOnlyFolder, Refusal::FullDisk)),
                         CaseName);

} // namespace
} // namespace veltrane
