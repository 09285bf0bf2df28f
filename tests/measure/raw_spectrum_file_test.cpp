#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/mode_switch.h"
#include "app/program_state.h"
#include "library/make_library.h"
#include "measure/raw_spectrum_file.h"
#include "measure/sample_sidecar.h"
#include "platform/byte_order.h"
#include "support/temp_dir.h"

namespace veltrane {
namespace {

const LocalDateTime kWhen{2017, 3, 3, 9, 5, 7};

// A measured 2500-pixel spectrum whose calibration puts pixel 100 just above
// 400 cm-1 and pixel 1900 just below 4000 cm-1 (532 nm laser).
std::unique_ptr<ProgramState> Measured(std::uint16_t frame = 2546, std::uint16_t pixels = 2500) {
    auto state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);
    state->device.deviceType = 179;
    state->device.pixelTotal = frame;
    state->device.pixelCount = pixels;
    state->device.laserWavelength = 532.0f;
    double kL = 1e7 / 532.0;
    double lamFirst = 1e7 / (kL - 400.5), lamLast = 1e7 / (kL - 3999.5);
    double slope = (lamLast - lamFirst) / 1800.0;
    state->device.waveCal = {static_cast<float>(lamFirst - 100 * slope), static_cast<float>(slope), 0, 0, 0, 0};
    state->device.waveCalValid = true;
    for (int i = 0; i < pixels; ++i) {
        state->measurement.spectrum.signal[i] = 1000.0f + i;
        state->measurement.spectrum.dark[i] = 900.0f;
    }
    state->measurement.spectrum.dark[3] = 5000.0f; // dark above signal
    state->measurement.spectrum.haveMeasured = true;
    return state;
}

const std::uint8_t* Bytes(const std::string& file) {
    return reinterpret_cast<const std::uint8_t*>(file.data());
}

TEST(RawSpectrumFile, LayoutOfASavedMeasurement) {
    auto state = Measured();
    RawFileRecord record;
    std::string name(70, 'n');
    name[63] = 'Z';
    std::string file = BuildRawSpectrumFile(state->measurement, state->device, name, kWhen, record);
    ASSERT_EQ(file.size(), 20508u);
    const std::uint8_t* b = Bytes(file);
    EXPECT_EQ(b[63], 'Z');
    // The 64 name bytes run straight into the year 2017 = 0x07E1.
    EXPECT_EQ(std::vector<int>(b + 64, b + 80),
              (std::vector<int>{0xE1, 0x07, 0, 0, 3, 0, 3, 0, 9, 0, 0, 0, 5, 0, 7, 0}));
    for (int i = 80; i < 112; ++i)
        EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(b[112], 179);
    EXPECT_EQ(b[113], 0);
    for (int i = 114; i < 120; ++i)
        EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(std::vector<int>(b + 120, b + 124), (std::vector<int>{0xF2, 0x09, 0, 0})); // 2546

    auto intensity = [&](int j) { return GetF32(b + 124 + 4 * j); };
    auto wavenumber = [&](int j) { return GetF32(b + 124 + 4 * 2546 + 4 * j); };
    EXPECT_EQ(intensity(0), 100.0f);
    EXPECT_EQ(intensity(3), 0.0f); // dark above signal
    EXPECT_EQ(intensity(2499), 2599.0f);
    EXPECT_EQ(intensity(2500), 0.0f);
    EXPECT_EQ(intensity(2545), 0.0f);
    float lambda10 = state->device.waveCal[0] + 10.0f * state->device.waveCal[1];
    EXPECT_NEAR(wavenumber(10), 1e7 / lambda10, 0.002);
    EXPECT_EQ(wavenumber(2500), 0.0f);
    const std::uint8_t* tail = b + 124 + 8 * 2546;
    EXPECT_EQ(GetF32(tail), 532.0f);
    EXPECT_EQ(GetI32(tail + 4), -1);    // no pixel at the laser line
    EXPECT_EQ(GetI32(tail + 8), 100);   // first pixel above the display low
    EXPECT_EQ(GetI32(tail + 12), 1900); // last pixel at or below the display high
    EXPECT_EQ(record.windowStart, 100);
    EXPECT_EQ(record.windowEnd, 1900);
}

TEST(RawSpectrumFile, LaserPixelAndWindowWhenNothingMatches) {
    auto state = Measured(2068, 2048);
    // Wavelengths 525, 526, ... nm: pixel 7 sits exactly on the 532 nm line,
    // and every shift is below 400 cm-1 for the first pixels only.
    state->device.waveCal = {525.0f, 1.0f, 0, 0, 0, 0};
    state->device.displayLow = 0;
    state->device.displayHigh = 0;
    RawFileRecord record;
    std::string file = BuildRawSpectrumFile(state->measurement, state->device, "x.rsd", kWhen, record);
    EXPECT_EQ(file.size(), 16684u);
    const std::uint8_t* tail = Bytes(file) + 124 + 8 * 2068;
    EXPECT_EQ(GetI32(tail + 4), 7);
    // Shifts from -254 cm-1 upwards: pixels up to 7 are at or below 0.
    EXPECT_EQ(GetI32(tail + 8), 8);
    EXPECT_EQ(GetI32(tail + 12), 7);

    state->device.displayLow = 0;
    state->device.displayHigh = 0;
    state->device.waveCal = {600.0f, 1.0f, 0, 0, 0, 0}; // every shift far above both bounds
    file = BuildRawSpectrumFile(state->measurement, state->device, "x.rsd", kWhen, record);
    tail = Bytes(file) + 124 + 8 * 2068;
    EXPECT_EQ(GetI32(tail + 8), 0);
    EXPECT_EQ(GetI32(tail + 12), 2048);
}

TEST(RawSpectrumFile, ZeroLaserWavelengthUses403nm) {
    auto state = Measured();
    state->device.laserWavelength = 0.0f;
    RawFileRecord record;
    std::string file = BuildRawSpectrumFile(state->measurement, state->device, "x.rsd", kWhen, record);
    const std::uint8_t* b = Bytes(file);
    EXPECT_EQ(GetF32(b + 124 + 8 * 2546), 403.25f);
    float lambda0 = state->device.waveCal[0];
    EXPECT_NEAR(GetF32(b + 124 + 4 * 2546), 1e7 / lambda0, 0.002);
}

// A file written by hand, field by field, as another program would.
std::string HandMade(std::int32_t n, std::int32_t start, std::int32_t end, std::size_t cut = 0) {
    std::string file(140 + 8 * static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    auto* b = reinterpret_cast<std::uint8_t*>(file.data());
    std::memcpy(b, "probe.rsd", 9);
    b[112] = 165;
    b[90] = 0x77; // a byte the program does not interpret
    PutI32(b + 120, n);
    for (std::int32_t j = 0; j < n; ++j) {
        PutF32(b + 124 + 4 * j, 10.0f * j);
        PutF32(b + 124 + 4 * (n + j), 20000.0f - j);
    }
    std::uint8_t* tail = b + 124 + 8 * std::max(n, 0);
    PutF32(tail, 405.0f);
    PutI32(tail + 4, 3);
    PutI32(tail + 8, start);
    PutI32(tail + 12, end);
    file.resize(file.size() - cut);
    return file;
}

TEST(RawSpectrumFile, ReadsEachLayoutItsWriterUses) {
    for (std::int32_t n : {256, 2068, 2546}) {
        RawFileRecord record;
        ASSERT_EQ(DecodeRawSpectrumFile(HandMade(n, 1, 200), record), RawFileCheck::Ok) << n;
        EXPECT_EQ(record.frameLength, n);
        EXPECT_EQ(record.header.name(), "probe.rsd");
        EXPECT_EQ(record.header.modelCode(), 165);
        EXPECT_EQ(record.header.bytes[90], 0x77);
        EXPECT_EQ(record.intensities[n - 1], 10.0f * (n - 1));
        EXPECT_EQ(record.wavenumbers[5], 19995.0f);
        EXPECT_EQ(record.laserPixel, 3);
        EXPECT_EQ(record.windowEnd, 200);
    }
    auto state = Measured();
    RawFileRecord record;
    ASSERT_EQ(DecodeRawSpectrumFile(HandMade(2068, 0, 2048), record), RawFileCheck::Ok);
    ApplyRawSpectrum(record, state->measurement, state->device);
    EXPECT_EQ(state->device.pixelCount, 2048);
    EXPECT_EQ(state->measurement.spectrum.signal[2047], 20470.0f);
    EXPECT_EQ(state->measurement.spectrum.signal[2048], 0.0f);
    EXPECT_EQ(state->measurement.spectrum.dark[0], 0.0f);
    EXPECT_FLOAT_EQ(state->measurement.spectrum.axis[0], static_cast<float>(1e7 / 405.0) - 20000.0f);
    EXPECT_TRUE(state->measurement.spectrum.haveFileData);
    EXPECT_FALSE(state->measurement.spectrum.haveMeasured);
}

TEST(RawSpectrumFile, RefusesWhatItCannotHoldAndChangesNothing) {
    RawFileRecord record;
    record.frameLength = 77;
    record.windowEnd = 5;
    EXPECT_EQ(DecodeRawSpectrumFile(HandMade(2000, 0, 10), record), RawFileCheck::UnknownFormat);
    EXPECT_EQ(DecodeRawSpectrumFile(HandMade(2600, 0, 10), record), RawFileCheck::UnknownFormat);
    EXPECT_EQ(DecodeRawSpectrumFile(HandMade(-1, 0, 10), record), RawFileCheck::UnknownFormat);
    EXPECT_EQ(DecodeRawSpectrumFile(HandMade(2546, 0, 10, 1), record), RawFileCheck::Incomplete);
    EXPECT_EQ(DecodeRawSpectrumFile(std::string(100, '\0'), record), RawFileCheck::Incomplete);
    EXPECT_EQ(DecodeRawSpectrumFile(HandMade(2546, 0, 2501), record), RawFileCheck::WindowOutside);
    EXPECT_EQ(DecodeRawSpectrumFile(HandMade(256, -1, 10), record), RawFileCheck::WindowOutside);
    EXPECT_EQ(record.frameLength, 77);
    EXPECT_EQ(record.windowEnd, 5);
}

TEST(RawSpectrumFile, SaveRefusals) {
    auto state = Measured();
    EXPECT_EQ(SaveRawRefusal(state->measurement, state->device), nullptr);
    state->device.waveCalValid = false;
    EXPECT_STREQ(SaveRawRefusal(state->measurement, state->device), "No wave calibration!");
    state->measurement.spectrum.haveMeasured = false;
    state->measurement.spectrum.haveFileData = true;
    EXPECT_STREQ(SaveRawRefusal(state->measurement, state->device), "No data to save!");
    state->measurement.measureState = 1;
    EXPECT_STREQ(SaveRawRefusal(state->measurement, state->device), "Measure Processing!");
}

TEST(RawSpectrumFile, ABufferWriterStillRunningAfterADeviceLossKeepsEveryActionWaiting) {
    auto state = Measured();
    state->measurement.measureWorkerRunning = true; // measureState already reset by the loss
    EXPECT_TRUE(MeasurementBusy(state->measurement));
    EXPECT_STREQ(SaveRawRefusal(state->measurement, state->device), "Measure Processing!");
    EXPECT_STREQ(MakeLibraryRefusal(state->measurement, state->device), "Measure Processing!");
    EXPECT_EQ(DecideSwitchToLinker(*state), ModeSwitch::RefuseMeasuring);
    state->measurement.measureWorkerRunning = false;
    EXPECT_EQ(DecideSwitchToLinker(*state), ModeSwitch::Switch);
}

// The sample information lives beside the raw file: the file's bytes are
// the same with or without it, and the sidecar comes back as written, is
// removed when a later save has none, and a damaged one reads as none.
TEST(RawSpectrumFile, SampleInformationGoesIntoASidecar) {
    auto state = Measured();
    RawFileRecord record;
    const std::string without = BuildRawSpectrumFile(state->measurement, state->device, "s.rsd", kWhen, record);
    const SampleInfo sample{"Zoë's sample", "Ann \"A.\" Lee", "line one\nline two\ttabbed"};
    state->measurement.sample = sample;
    EXPECT_EQ(BuildRawSpectrumFile(state->measurement, state->device, "s.rsd", kWhen, record), without);

    test::TempDir dir;
    const std::string raw = dir.path() + "s.rsd";
    EXPECT_EQ(SampleSidecarPath(raw), dir.path() + "s.rsd.json");
    ASSERT_TRUE(WriteSampleSidecar(raw, {sample, {}}));
    RawFileSidecar back;
    ASSERT_EQ(ReadSampleSidecar(raw, back), SidecarRead::Read);
    EXPECT_EQ(back.sample.sampleName, sample.sampleName);
    EXPECT_EQ(back.sample.operatorName, sample.operatorName);
    EXPECT_EQ(back.sample.notes, sample.notes);
    EXPECT_TRUE(back.capture.empty());
    auto sidecarText = [&] {
        std::ifstream in(SampleSidecarPath(raw));
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    EXPECT_EQ(sidecarText(), "{\n  \"sample_name\": \"Zoë's sample\",\n  \"operator\": \"Ann \\\"A.\\\" Lee\",\n"
                             "  \"notes\": \"line one\\nline two\\ttabbed\"\n}\n");
    // How the capture was measured is kept without any sample information;
    // an exposure of 0 ms is one.
    ASSERT_TRUE(WriteSampleSidecar(raw, {{}, {"4711", 0u, 3}}));
    EXPECT_EQ(sidecarText(), "{\n  \"sample_name\": \"\",\n  \"operator\": \"\",\n  \"notes\": \"\",\n"
                             "  \"serial_number\": \"4711\",\n  \"integration_time_ms\": 0,\n  \"averages\": 3\n}\n");
    ASSERT_EQ(ReadSampleSidecar(raw, back), SidecarRead::Read);
    EXPECT_EQ(back.capture.serial, "4711");
    EXPECT_EQ(back.capture.integrationMs, std::optional<std::uint32_t>(0u));
    EXPECT_EQ(back.capture.averages, 3u);
    ASSERT_TRUE(WriteSampleSidecar(raw, RawFileSidecar{}));
    EXPECT_FALSE(std::filesystem::exists(SampleSidecarPath(raw)));
    EXPECT_EQ(ReadSampleSidecar(raw, back), SidecarRead::None);
    EXPECT_TRUE(back.empty());

    struct Case {
        const char* text;
        bool ok;
    };
    const Case cases[] = {
        {R"({"operator": "Ann", "version": 2, "notes": null})", false},
        {R"({"operator": "Ann", "later key": [1, 2]})", true},
        {"", false},
        {"[\"Ann\"]", false},
        {R"({"sample_name": "cut)", false},
        {"{\"sample_name\": \"\xFF\"}", false},
        {R"({"sample_name": 7})", false},
        {R"({"operator": "Ann", "integration_time_ms": 4294967295, "averages": 1})", true},
        {R"({"operator": "Ann", "integration_time_ms": 4294967296})", false},
        {R"({"operator": "Ann", "integration_time_ms": -1})", false},
        {R"({"operator": "Ann", "averages": 2.5})", false},
        {R"({"operator": "Ann", "serial_number": 4711})", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        RawFileSidecar read;
        read.sample.sampleName = "before";
        EXPECT_EQ(DecodeSampleSidecar(c.text, read), c.ok);
        EXPECT_EQ(read.sample.sampleName, c.ok ? "" : "before");
        EXPECT_EQ(read.sample.operatorName, c.ok ? "Ann" : "");
        std::ofstream(SampleSidecarPath(raw), std::ios::binary) << c.text;
        EXPECT_EQ(ReadSampleSidecar(raw, read), c.ok ? SidecarRead::Read : SidecarRead::Damaged);
    }
}

} // namespace
} // namespace veltrane
