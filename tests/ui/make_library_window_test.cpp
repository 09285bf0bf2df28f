#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "library/ui/make_library_window.h"
#include "ui/app_fixture.h"

namespace veltrane {
namespace {

class MakeLibraryWindow : public test::AppFixture {
protected:
    // An identified 2500-pixel instrument and a finished measurement.
    void measured() {
        attach();
        start();
        tick();
        ASSERT_TRUE(state().device.waveCalValid);
        fillMeasured([](int i) { return 1000.0f + 400.0f * std::sin(i * 0.03f); }, 950.0f);
    }
    TForm_make_lib& window() { return app->makeLibraryWindow(); }
    QLineEdit* nameBox() { return window().findChild<QLineEdit*>("Edit_file_name"); }
    void pressMakeLibrary() { find<QToolButton>("SpeedButton_save_lib")->click(); }
    void press(const char* button) { window().findChild<QPushButton*>(button)->click(); }
    std::string libraryPath(const std::string& name) { return dir.path() + "local/" + name + ".rlb"; }
    std::string contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(MakeLibraryWindow, ButtonRefusesWithoutUsableData) {
    attach();
    start();
    pressMakeLibrary();
    state().measurement.spectrum.haveMeasured = true; // measured, but the calibration was never read
    pressMakeLibrary();
    state().measurement.measureState.store(1);
    pressMakeLibrary();
    state().measurement.measureState.store(0);
    EXPECT_EQ(dialogs.texts(),
              (std::vector<std::string>{"No data to make library!", "No wave calibration!", "Measure Processing!"}));
    for (const auto& m : dialogs.messages) {
        EXPECT_EQ(m.icon, MessageIcon::Error);
        EXPECT_EQ(m.caption, "Information");
    }
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(main().isEnabled());

    // An opened raw file carries its own Raman shifts: no calibration needed.
    state().measurement.spectrum.haveMeasured = false;
    state().measurement.spectrum.haveFileData = true;
    pressMakeLibrary();
    EXPECT_EQ(dialogs.messages.size(), 3u);
    EXPECT_TRUE(window().isVisible());
}

TEST_F(MakeLibraryWindow, OpensCentredOverTheDisabledMainWindow) {
    measured();
    EXPECT_EQ(nameBox()->text(), "File_name");
    main().FormKeyPress("M"); // the Make Library hotkey presses the same button
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.texts().front();
    ASSERT_TRUE(window().isVisible());
    EXPECT_FALSE(main().isEnabled());
    EXPECT_EQ(window().windowTitle(), "Save to Library");
    EXPECT_EQ(window().font().family(), "Calibri");
    EXPECT_EQ(window().parentWidget(), nullptr);
    QRect owner = main().frameGeometry();
    QRect own = window().frameGeometry();
    EXPECT_EQ(own.left(), owner.left() + (owner.width() - own.width()) / 2);
    EXPECT_EQ(own.top(), owner.top() + (owner.height() - own.height()) / 2);

    press("Button_exit");
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(main().isEnabled());
    EXPECT_FALSE(std::filesystem::exists(libraryPath("File_name")));

    // The title bar's close button frees the main window as well.
    pressMakeLibrary();
    ASSERT_FALSE(main().isEnabled());
    window().close();
    EXPECT_TRUE(main().isEnabled());
}

TEST_F(MakeLibraryWindow, SaveCompletesClosesAndReenables) {
    measured();
    pressMakeLibrary();
    nameBox()->setText(QString::fromUtf8("Polystyrol \xC3\xBC"));
    press("Button_save");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Process Completed");
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::None);
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(main().isEnabled());
    // Stored under its UTF-8 bytes.
    std::string path = libraryPath("Polystyrol \xC3\xBC");
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(std::filesystem::file_size(path), 20120u);
    EXPECT_EQ(state().library.lib.libraryMade, 1);
    // The grid is not listed again at once.
    EXPECT_EQ(state().library.lib.libraryCount, 0);
}

TEST_F(MakeLibraryWindow, RefusedNameKeepsTheWindowOpen) {
    measured();
    pressMakeLibrary();
    nameBox()->setText("twice");
    press("Button_save");
    pressMakeLibrary();
    EXPECT_EQ(nameBox()->text(), "twice"); // the last typed name comes back
    std::string before = contents(libraryPath("twice"));
    state().measurement.spectrum.signal.fill(7.0f);
    press("Button_save");
    nameBox()->setText(QString(65, 'n'));
    press("Button_save");
    nameBox()->setText("a/b");
    press("Button_save");
    EXPECT_EQ(dialogs.texts(), (std::vector<std::string>{"Process Completed", "File name existed",
                                                         "File name over 64 word", "Invalid file name!"}));
    for (std::size_t i = 1; i < dialogs.messages.size(); ++i)
        EXPECT_EQ(dialogs.messages[i].icon, MessageIcon::Warning);
    EXPECT_TRUE(window().isVisible());
    EXPECT_FALSE(main().isEnabled());
    EXPECT_EQ(nameBox()->text(), "a/b");
    EXPECT_EQ(contents(libraryPath("twice")), before);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "local/a"));
}

} // namespace
} // namespace veltrane
