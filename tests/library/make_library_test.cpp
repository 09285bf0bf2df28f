#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/program_state.h"
#include "library/make_library.h"
#include "measure/raw_spectrum_file.h"
#include "support/file_faults.h"
#include "support/temp_dir.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;

// Hand-decoded fields of a file, independent of the program's byte helpers.
std::uint16_t U16At(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[at]) | static_cast<std::uint8_t>(b[at + 1]) << 8);
}
std::vector<int> BytesAt(const std::string& b, std::size_t at, std::size_t n) {
    std::vector<int> out;
    for (std::size_t i = 0; i < n; ++i)
        out.push_back(static_cast<std::uint8_t>(b[at + i]));
    return out;
}
float F32At(const std::string& b, std::size_t at) {
    float value;
    std::memcpy(&value, b.data() + at, 4); // the test machine is little-endian, as the file is
    return value;
}

class MakeLibraryTest : public ::testing::Test {
protected:
    test::TempDir dir;
    ProgramState state;
    const LocalDateTime when{2024, 2, 29, 23, 7, 5};

    void SetUp() override { ApplyStartupValues(state); }
    std::string folder() const { return dir.path() + "local/"; }
    MakeLibraryResult make(const std::string& name) {
        return MakeLibrary(name, state.measurement, state.device, state.library, folder(), when);
    }
    std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string library(const std::string& name) { return read(folder() + name + ".rlb"); }
    std::vector<std::string> folderEntries() {
        std::vector<std::string> names;
        if (fs::is_directory(folder()))
            for (const auto& e : fs::directory_iterator(folder()))
                names.push_back(e.path().filename().string());
        return names;
    }

    // A 2048-pixel instrument of type 179 with a laser at 785 nm, and a
    // calibration whose coefficients are exact in float32, so the X values
    // can be worked out by hand.
    void measured2048() {
        state.device.deviceType = 179;
        state.device.pixelCount = 2048;
        state.device.laserWavelength = 785.0f;
        state.device.waveCal = {785.5f, 0.125f, -1.0f / 1048576.0f, 0.0f, 0.0f, 0.0f};
        state.device.waveCalValid = true;
        for (int i = 0; i < 2500; ++i) {
            state.measurement.spectrum.signal[i] = 1000.0f + static_cast<float>(i);
            state.measurement.spectrum.dark[i] = 900.0f;
        }
        state.measurement.spectrum.dark[5] = 2000.0f; // dark above signal
        state.measurement.spectrum.haveMeasured = true;
    }
};

TEST_F(MakeLibraryTest, MeasurementOfA2048PixelInstrumentGivesTheFullLayout) {
    measured2048();
    ASSERT_EQ(make("polystyrene"), MakeLibraryResult::Made);
    std::string b = library("polystyrene");
    ASSERT_EQ(b.size(), 20120u);
    EXPECT_EQ(b.substr(0, 12), std::string("polystyrene\0", 12));
    // 2024-02-29 23:07:05: year i32 at 64, month and day i16, hour i32, minute and second i16.
    EXPECT_EQ(BytesAt(b, 64, 16), (std::vector<int>{0xE8, 0x07, 0, 0, 2, 0, 29, 0, 23, 0, 0, 0, 7, 0, 5, 0}));
    EXPECT_EQ(BytesAt(b, 80, 32), std::vector<int>(32, 0));
    EXPECT_EQ(BytesAt(b, 112, 2), (std::vector<int>{179, 0}));
    EXPECT_EQ(BytesAt(b, 114, 6), std::vector<int>(6, 0));

    EXPECT_EQ(F32At(b, 120 + 4 * 3), 103.0f);
    EXPECT_EQ(F32At(b, 120 + 4 * 5), 0.0f);
    // Pixel 0: lambda 785.5 nm, kL = 1e7/785 held as float32 = 12738.853515625,
    // shift 8.1087675 (0x4101BD83). A kL kept in double would give 8.108755.
    EXPECT_EQ(BytesAt(b, 10120, 4), (std::vector<int>{0x83, 0xBD, 0x01, 0x41}));
    // Pixel 1000: lambda 785.5 + 125 - 1e6/2^20 = 909.546326 nm, shift 1744.3613 (0x44DA0B90).
    EXPECT_EQ(BytesAt(b, 10120 + 4000, 4), (std::vector<int>{0x90, 0x0B, 0xDA, 0x44}));
    EXPECT_NE(F32At(b, 10120 + 4 * 2047), 0.0f);
    EXPECT_EQ(BytesAt(b, 10120 + 4 * 2048, 4 * 452), std::vector<int>(4 * 452, 0));
    EXPECT_EQ(state.library.lib.libraryMade, 1); // the PC view is current
}

TEST_F(MakeLibraryTest, XValuesOfOtherLasersAndSensors) {
    measured2048();
    state.device.laserWavelength = 0.0f; // taken as 403.25 nm
    ASSERT_EQ(make("nolaser"), MakeLibraryResult::Made);
    // kL = float32(1e7/403.25) = 24798.51171875; pixel 1000 gives 13804.0195 (0x4657B014).
    EXPECT_EQ(BytesAt(library("nolaser"), 10120 + 4000, 4), (std::vector<int>{0x14, 0xB0, 0x57, 0x46}));

    // A 256-pixel instrument stores Raman shifts as well, as its chart shows
    // them: pixel 100 at 797.99048 nm (0x44477F64) is 12267.034 cm-1 (0x463FAC23).
    state.device.deviceType = 1;
    state.device.pixelCount = 256;
    ASSERT_EQ(make("small"), MakeLibraryResult::Made);
    std::string b = library("small");
    EXPECT_EQ(BytesAt(b, 10120 + 400, 4), (std::vector<int>{0x23, 0xAC, 0x3F, 0x46}));
    EXPECT_EQ(U16At(b, 112), 1);
    EXPECT_EQ(F32At(b, 10120 + 4 * 256), 0.0f);
}

TEST_F(MakeLibraryTest, OpenedRawFileKeepsItsHeaderAndIntensities) {
    SpectrumHeader header;
    header.setName("a_rather_long_sample.rsd");
    header.setDateTime({2019, 5, 6, 7, 8, 9});
    header.setModelCode(180);
    for (std::size_t k = 80; k < 112; ++k)
        header.bytes[k] = static_cast<std::uint8_t>(0x40 + k);
    for (std::size_t k = 114; k < 120; ++k)
        header.bytes[k] = static_cast<std::uint8_t>(k - 100);
    std::vector<float> intensities(2546), wavenumbers(2546);
    for (int j = 0; j < 2546; ++j) {
        intensities[j] = 0.5f * static_cast<float>(j) - 3.0f;
        wavenumbers[j] = 12700.0f - 1.25f * static_cast<float>(j);
    }
    std::string raw = EncodeRawSpectrumFile(header, intensities, wavenumbers, 785.0f, -1, 10, 2400);
    ASSERT_EQ(DecodeRawSpectrumFile(raw, state.measurement.rawFile), RawFileCheck::Ok);
    ApplyRawSpectrum(state.measurement.rawFile, state.measurement, state.device);
    state.device.deviceType = 179; // the instrument attached now is not the one that measured

    ASSERT_EQ(make("ab"), MakeLibraryResult::Made);
    std::string b = library("ab");
    ASSERT_EQ(b.size(), 20120u);
    // The new name over the old one: the bytes after the terminator keep the old name's remains.
    EXPECT_EQ(b.substr(0, 6), std::string("ab\0ath", 6));
    EXPECT_EQ(BytesAt(b, 64, 4), (std::vector<int>{0xE8, 0x07, 0, 0}));
    EXPECT_EQ(U16At(b, 70), 29);
    for (std::size_t k = 80; k < 112; ++k)
        EXPECT_EQ(static_cast<std::uint8_t>(b[k]), 0x40 + k) << k;
    for (std::size_t k = 114; k < 120; ++k)
        EXPECT_EQ(static_cast<std::uint8_t>(b[k]), k - 100) << k;
    EXPECT_EQ(U16At(b, 112), 180);
    // Intensities as saved, even below zero; X values as shown.
    EXPECT_EQ(F32At(b, 120), -3.0f);
    EXPECT_EQ(F32At(b, 120 + 4 * 2499), 1246.5f);
    for (int i : {0, 1234, 2499})
        EXPECT_EQ(F32At(b, 10120 + 4 * i), state.measurement.spectrum.axis[i]) << i;
    EXPECT_NEAR(F32At(b, 10120 + 4 * 1000), 12738.8535f - (12700.0f - 1250.0f), 1e-3);
    // The record of the opened file is not touched.
    EXPECT_EQ(state.measurement.rawFile.header.name(), "a_rather_long_sample.rsd");
}

TEST_F(MakeLibraryTest, NameLengthCountsBytes) {
    measured2048();
    std::string letters(64, 'k');
    ASSERT_EQ(make(letters), MakeLibraryResult::Made);
    std::string b = library(letters);
    EXPECT_EQ(b.substr(0, 64), letters);
    EXPECT_EQ(BytesAt(b, 64, 2), (std::vector<int>{0xE8, 0x07})); // the year straight after, no terminator

    EXPECT_EQ(make(std::string(65, 'k')), MakeLibraryResult::NameTooLong);
    std::string umlauts;
    for (int i = 0; i < 33; ++i)
        umlauts += "\xC3\xBC"; // 33 letters, 66 bytes
    EXPECT_EQ(make(umlauts), MakeLibraryResult::NameTooLong);
    EXPECT_EQ(make(umlauts.substr(2)), MakeLibraryResult::Made);
    EXPECT_EQ(folderEntries().size(), 2u);

    ASSERT_EQ(make(""), MakeLibraryResult::Made);
    std::string empty = library("");
    ASSERT_EQ(empty.size(), 20120u);
    EXPECT_EQ(empty[0], '\0');
}

TEST_F(MakeLibraryTest, ExistingNameIsRefusedBeforeAnyOtherCheck) {
    measured2048();
    state.library.lib.libraryView = LibraryView::Device; // the grid shows the device folder: no new listing due
    ASSERT_EQ(make("first"), MakeLibraryResult::Made);
    EXPECT_EQ(state.library.lib.libraryMade, 0);
    state.library.lib.libraryView = LibraryView::Pc;
    std::string before = library("first");
    state.measurement.spectrum.signal.fill(5.0f);
    EXPECT_EQ(make("first"), MakeLibraryResult::NameExists);
    EXPECT_EQ(library("first"), before);
    // Names match as the file system's users know them: without regard to case.
    EXPECT_EQ(make("FIRST"), MakeLibraryResult::NameExists);

    std::string tooLong(70, 'z');
    std::ofstream(folder() + tooLong + ".rlb") << "someone else's";
    EXPECT_EQ(make(tooLong), MakeLibraryResult::NameExists);
    EXPECT_EQ(make(std::string(69, 'z') + "/"), MakeLibraryResult::NameTooLong);
    // A folder of the library's name is just as taken, and is left alone.
    fs::create_directory(folder() + "taken.rlb");
    EXPECT_EQ(make("taken"), MakeLibraryResult::NameExists);
    EXPECT_TRUE(fs::is_directory(folder() + "taken.rlb"));
    EXPECT_EQ(state.library.lib.libraryMade, 0);
    // '*' is part of the name, no wildcard: "fir*" is not "first".
    EXPECT_EQ(make("fir*"), MakeLibraryResult::Made);
    EXPECT_EQ(library("first"), before);
    EXPECT_EQ(folderEntries().size(), 4u);
}

TEST_F(MakeLibraryTest, OnlyNamesThatCannotBeOrAreUnsafeAsLinuxFileNamesAreRefused) {
    measured2048();
    for (const char* name : {"a/b", "..", ".", "tab\there", "line\nbreak", "../escape"}) {
        EXPECT_EQ(make(name), MakeLibraryResult::InvalidName) << name;
    }
    EXPECT_TRUE(folderEntries().empty());
    EXPECT_FALSE(fs::exists(dir.path() + "escape.rlb"));
    EXPECT_EQ(state.library.lib.libraryMade, 0);
    for (const char* name : {"Ethanol 1:1", "x?y", "back\\slash", "*", "a<b>|\"c\""}) {
        EXPECT_EQ(make(name), MakeLibraryResult::Made) << name;
        EXPECT_EQ(library(name).substr(0, std::string(name).size()), name);
    }
}

TEST_F(MakeLibraryTest, FolderThatCannotBeMadeIsReported) {
    measured2048();
    std::ofstream(dir.path() + "plain") << "a file where the folder's parent should be";
    EXPECT_EQ(MakeLibrary("x", state.measurement, state.device, state.library, dir.path() + "plain/local/", when),
              MakeLibraryResult::FolderFailed);
    std::ofstream(dir.path() + "local") << "a file where the folder should be";
    EXPECT_EQ(make("x"), MakeLibraryResult::FolderFailed);
    EXPECT_TRUE(fs::is_regular_file(dir.path() + "local"));
    EXPECT_EQ(state.library.lib.libraryMade, 0);
}

TEST_F(MakeLibraryTest, FailedWriteLeavesNothingBehind) {
    measured2048();
    ASSERT_EQ(make("kept"), MakeLibraryResult::Made);
    std::string kept = library("kept");
    MakeLibraryResult result;
    {
        test::FileSizeLimit limit(4096);
        result = make("full");
    }
    EXPECT_EQ(result, MakeLibraryResult::WriteFailed);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"kept.rlb"});
    EXPECT_EQ(library("kept"), kept);
}

} // namespace
} // namespace veltrane
