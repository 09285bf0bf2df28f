#include <QLineEdit>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "app/program_state.h"
#include "measure/raw_spectrum_file.h"
#include "measure/smoothing.h"
#include "measure/ui/measure_controller.h"
#include "ui/app_fixture.h"

namespace veltrane {
namespace {

class SpectrumFiles : public test::AppFixture {
protected:
    // An identified 2500-pixel instrument and a spectrum in the buffers, as
    // a finished measurement leaves them.
    void measured() {
        attach();
        start();
        tick();
        fillMeasured([](int i) { return 1000.0f + 500.0f * std::sin(i * 0.05f) + (i % 7) * 30.0f; }, 900.0f);
    }
    const std::vector<ChartPoint>& drawn() { return main().spectrumChart().seriesPoints(main().measuredSeries()); }
    void click(const char* name) { find<QToolButton>(name)->click(); }
    std::string save(const std::string& name) {
        std::string path = dir.path() + name;
        dialogs.saveAnswers.push_back(path);
        click("SpeedButton_save_raw");
        return path;
    }
    void open(const std::string& path) {
        dialogs.openAnswers.push_back(path);
        click("SpeedButton_open_raw");
    }
};

TEST_F(SpectrumFiles, SavedMeasurementOpensOverItsSavedWindow) {
    measured();
    std::string path = save("sample.rsd");
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.texts().front();
    EXPECT_EQ(dialogs.filters.back(), "rsd(*.rsd)|*.rsd");
    ASSERT_EQ(std::filesystem::file_size(path), 20508u);

    find<QLineEdit>("Edit_smooth")->setText("3");
    open(path);
    ASSERT_TRUE(dialogs.messages.empty());
    const RawFileRecord& record = state().measurement.rawFile;
    EXPECT_EQ(record.header.name(), "sample.rsd");
    ASSERT_EQ(drawn().size(), static_cast<std::size_t>(record.windowEnd - record.windowStart));
    // From the first pixel above the display low to the one before the last
    // pixel at or below the display high.
    EXPECT_GT(drawn().front().x, 400.0);
    EXPECT_LE(state().measurement.spectrum.axis[record.windowStart - 1], 400.0f + 0.01f);
    EXPECT_LE(drawn().back().x, 4000.0);
    EXPECT_LE(state().measurement.spectrum.axis[record.windowEnd], 4000.0f + 0.01f);
    EXPECT_GT(state().measurement.spectrum.axis[record.windowEnd + 1], 4000.0f - 0.01f);
    EXPECT_NEAR(drawn().front().y,
                100.0f + 500.0f * std::sin(record.windowStart * 0.05f) + (record.windowStart % 7) * 30.0f, 1e-3);
    EXPECT_EQ(find<QLineEdit>("Edit_smooth")->text(), "0");
    EXPECT_TRUE(state().measurement.spectrum.haveFileData);

    save("again.rsd");
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"No data to save!"});
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "again.rsd"));
}

TEST_F(SpectrumFiles, FileOfAnotherSensorSizeSetsThePixelCountUntilTheNextMeasurement) {
    measured();
    // A 2068-value file, as a 2048-pixel instrument saves it.
    ProgramState other;
    ApplyStartupValues(other);
    other.device.deviceType = 180;
    other.device.pixelTotal = 2068;
    other.device.pixelCount = 2048;
    other.device.laserWavelength = 785.0f;
    other.device.waveCal = {791.2f, 0.1331f, 0, 0, 0, 0};
    other.device.waveCalValid = true;
    other.device.displayHigh = 3000;
    RawFileRecord ignored;
    std::string bytes =
        BuildRawSpectrumFile(other.measurement, other.device, "small.rsd", CurrentLocalDateTime(), ignored);
    std::ofstream(dir.path() + "small.rsd", std::ios::binary) << bytes;
    open(dir.path() + "small.rsd");
    ASSERT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(state().device.pixelCount, 2048);
    EXPECT_EQ(state().measurement.rawFile.frameLength, 2068);
    // A measurement reads the instrument's own 2500 pixels again.
    click("SpeedButton_msr");
    EXPECT_EQ(state().device.pixelCount, 2500);
    main().measure().shutdown();
}

TEST_F(SpectrumFiles, MalformedFilesAreRefusedAndChangeNothing) {
    measured();
    std::string good = save("good.rsd");
    open(good);
    std::size_t pointsBefore = drawn().size();
    float axisBefore = state().measurement.spectrum.axis[10];

    std::string bytes;
    {
        std::ifstream in(good, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    auto write = [&](const std::string& name, std::string content) {
        std::ofstream(dir.path() + name, std::ios::binary) << content;
        return dir.path() + name;
    };
    std::string wrongN = bytes;
    wrongN[120] = 0x10; // N = 2576
    std::string windowOut = bytes;
    std::size_t tail = 124 + 8 * 2546;
    windowOut[tail + 12] = static_cast<char>(0xFF);
    windowOut[tail + 13] = static_cast<char>(0x7F); // end 32767
    open(write("n.rsd", wrongN));
    open(write("short.rsd", bytes.substr(0, bytes.size() - 4)));
    open(write("window.rsd", windowOut));
    EXPECT_EQ(dialogs.texts(), (std::vector<std::string>{"Unknown raw data format!", "Raw data file incomplete!",
                                                         "Raw data window out of range!"}));
    EXPECT_EQ(drawn().size(), pointsBefore);
    EXPECT_EQ(state().measurement.spectrum.axis[10], axisBefore);
    EXPECT_EQ(state().measurement.rawFile.header.name(), "good.rsd");

    // A FIFO picked in the dialog is refused at once, never opened.
    dialogs.messages.clear();
    ASSERT_EQ(::mkfifo((dir.path() + "pipe.rsd").c_str(), 0644), 0);
    open(dir.path() + "pipe.rsd");
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Can not open file!"});

    dialogs.messages.clear();
    open(dir.path() + "missing.rsd"); // the dialog confirmed a file that is not there
    dialogs.openAnswers.push_back(std::nullopt);
    click("SpeedButton_open_raw"); // cancelled
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(SpectrumFiles, FailedSaveSaysSoAndKeepsTheEarlierFile) {
    measured();
    std::ofstream(dir.path() + "blocker") << "a file, not a folder";
    save("blocker/inside.rsd");
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Can not save file!"});
    std::string path = save("keep.rsd");
    auto size = std::filesystem::file_size(path);
    dialogs.saveAnswers.push_back(std::nullopt); // cancelled: nothing happens
    click("SpeedButton_save_raw");
    EXPECT_EQ(std::filesystem::file_size(path), size);
    EXPECT_EQ(dialogs.messages.size(), 1u);
}

TEST_F(SpectrumFiles, SmoothingControlsRedrawTheShownSpectrum) {
    measured();
    open(save("s.rsd"));
    MeasureController& m = main().measure();
    QLineEdit* box = find<QLineEdit>("Edit_smooth");
    std::vector<ChartPoint> raw = drawn();

    auto expected = [&](int level) {
        std::vector<float> in(2500), out(2500);
        for (int i = 0; i < 2500; ++i)
            in[i] = std::max(state().measurement.spectrum.signal[i] - state().measurement.spectrum.dark[i], 0.0f);
        SmoothSpectrum(SmoothCoefficients(level), kSmoothWindow, in.data(), out.data(), 2500);
        return out;
    };
    m.UpDown_smoothClick(true);
    EXPECT_EQ(box->text(), "1");
    int first = state().measurement.rawFile.windowStart;
    EXPECT_EQ(drawn().front().y, expected(1)[first]);
    ASSERT_EQ(drawn().size(), raw.size());

    box->setText("15");
    m.Edit_smoothKeyPress(13);
    EXPECT_EQ(box->text(), "15");
    EXPECT_EQ(drawn()[40].y, expected(10)[first + 40]);

    box->setText("10");
    std::uint64_t revision = main().spectrumChart().revision();
    m.UpDown_smoothClick(true); // already at the top: rewritten, not redrawn
    EXPECT_EQ(box->text(), "10");
    EXPECT_EQ(main().spectrumChart().revision(), revision);

    box->setText("-3");
    m.Edit_smoothKeyPress(13);
    EXPECT_EQ(drawn()[40].y, raw[40].y);
    m.Edit_smoothKeyPress('a'); // only Enter acts
    box->setText("2.5");
    m.UpDown_smoothClick(false);
    EXPECT_EQ(dialogs.texts().back(), "'2.5' is not a valid integer value");

    // During a measurement the arrows change the number only.
    box->setText("4");
    state().measurement.measureState = 1;
    revision = main().spectrumChart().revision();
    m.UpDown_smoothClick(true);
    EXPECT_EQ(box->text(), "5");
    EXPECT_EQ(main().spectrumChart().revision(), revision);
    state().measurement.measureState = 0;
}

} // namespace
} // namespace veltrane
