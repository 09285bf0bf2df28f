#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/program_state.h"
#include "app/settings.h"
#include "support/file_faults.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;

// Each test gets its own folder, removed afterwards.
class IniFolder : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        m_dir = fs::temp_directory_path() / ("veltrane_ini_" + std::to_string(random()) + std::to_string(random()));
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_dir, ec);
    }

    std::string pathOf(const std::string& name) const { return (m_dir / name).string(); }
    std::string iniPath() const { return pathOf("Veltrane.ini"); }

    static void put(const std::string& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary);
        out << bytes;
    }
    static std::string get(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    fs::path m_dir;
};

TEST(ParseWholeNumber, AcceptsDecimalAndHexWithSignAndBlanks) {
    const std::vector<std::pair<std::string, std::int64_t>> cases = {{"  42\t", 42},
                                                                     {"+7", 7},
                                                                     {"-1", -1},
                                                                     {"0X1f", 31},
                                                                     {"$1F", 31},
                                                                     {"-$10", -16},
                                                                     {"9223372036854775807", INT64_MAX},
                                                                     {"-9223372036854775808", INT64_MIN}};
    for (const auto& [text, value] : cases) {
        const std::optional<std::int64_t> parsed = ParseWholeNumber(text);
        ASSERT_TRUE(parsed.has_value()) << '"' << text << '"';
        EXPECT_EQ(*parsed, value) << '"' << text << '"';
    }
}

TEST(ParseWholeNumber, RejectsAnythingElse) {
    for (const char* text :
         {"", "   ", "+", "-", "0x", "$", "3000.5", "1e3", "12a", "a12", "+ 5", "--1", "0x1G", "1 2", "x1F",
          "9223372036854775808", "-9223372036854775809", "0x8000000000000000", "99999999999999999999999"}) {
        EXPECT_FALSE(ParseWholeNumber(text).has_value()) << '"' << text << '"';
    }
}

using IniFileRead = IniFolder;

TEST_F(IniFileRead, WindowsFileWithCrlfAndOtherLetterCase) {
    put(iniPath(), "[FORM]\r\nFILE=1\r\n\r\n[MEASURE SET]\r\nexptime=1500\r\nLASER PREHEAT = 7000 \r\n"
                   "  [ hotkey ]  \r\ncapture=Ctrl C\r\n");
    const IniFile ini(iniPath());
    EXPECT_EQ(ini.readInteger("Form", "file", 255), 1);
    EXPECT_EQ(ini.readInteger("Measure Set", "Exptime", 3000), 1500);
    EXPECT_EQ(ini.readString("Measure Set", "Laser preheat", ""), "7000");
    EXPECT_EQ(ini.readString("HOTKEY", "Capture", "C"), "Ctrl C");
}

TEST_F(IniFileRead, BomCommentsAndOddLines) {
    put(iniPath(), "\xEF\xBB\xBF"
                   "orphan=1\n[Form]\n;file=9\n  # Exptime=2\nno equals sign here\n=nameless\nfile=4\n"
                   "quoted=\"a b\"\nsingle='c'\nunpaired=\"d'\nlone=\"\nformula=x=y\n[Other]\nfile=8\n");
    const IniFile ini(iniPath());
    EXPECT_EQ(ini.readInteger("Form", "file", 255), 4);
    EXPECT_EQ(ini.readInteger("Form", "Exptime", -5), -5);
    EXPECT_EQ(ini.readString("Form", "quoted", ""), "a b"); // one pair of enclosing quotes goes, as on Windows
    EXPECT_EQ(ini.readString("Form", "single", ""), "c");
    EXPECT_EQ(ini.readString("Form", "unpaired", ""), "\"d'");
    EXPECT_EQ(ini.readString("Form", "lone", ""), "\"");
    EXPECT_EQ(ini.readString("Form", "formula", ""), "x=y");
    EXPECT_EQ(ini.readString("Form", "orphan", "none"), "none");
    EXPECT_EQ(ini.readInteger("Other", "file", 0), 8);
}

TEST_F(IniFileRead, MissingPiecesAndNonNumbersGiveTheDefault) {
    const IniFile missing(iniPath());
    EXPECT_EQ(missing.readString("Form", "file", "dflt"), "dflt");
    EXPECT_EQ(missing.readInteger("Form", "file", 255), 255);

    put(iniPath(), "[Form]\r\nempty=\r\nword=abc\r\nhex=$FF\r\n");
    const IniFile ini(iniPath());
    EXPECT_EQ(ini.readString("Nope", "empty", "d"), "d");
    EXPECT_EQ(ini.readString("Form", "nope", "d"), "d");
    EXPECT_EQ(ini.readString("Form", "empty", "d"), "");
    EXPECT_EQ(ini.readInteger("Form", "empty", 9), 9);
    EXPECT_EQ(ini.readInteger("Form", "word", 9), 9);
    EXPECT_EQ(ini.readInteger("Form", "hex", 9), 255);
}

using IniFileWrite = IniFolder;

TEST_F(IniFileWrite, UpdateInPlaceKeepsKeySpellingOtherLinesAndCrlf) {
    const std::string before = "\xEF\xBB\xBF; written by the instrument tool\r\n[MEASURE SET]\r\nEXPTIME = 1500\r\n"
                               "# keep me\r\nAverage=3\r\n\r\n[HOTKEY]\r\nCapture=C\r\n";
    put(iniPath(), before);
    IniFile ini(iniPath());
    ASSERT_TRUE(ini.writeInteger("Measure Set", "Exptime", 2000));
    EXPECT_EQ(get(iniPath()), "\xEF\xBB\xBF; written by the instrument tool\r\n[MEASURE SET]\r\nEXPTIME = 2000\r\n"
                              "# keep me\r\nAverage=3\r\n\r\n[HOTKEY]\r\nCapture=C\r\n");
    // Nothing but the settings file is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

TEST_F(IniFileWrite, NewKeyGoesToTheEndOfItsSectionNotTheFileEnd) {
    put(iniPath(), "[A]\r\nx=1\r\n; about B\r\n\r\n[B]\r\ny=2\r\n");
    IniFile ini(iniPath());
    ASSERT_TRUE(ini.writeString("a", "z", "3"));
    EXPECT_EQ(get(iniPath()), "[A]\r\nx=1\r\nz=3\r\n; about B\r\n\r\n[B]\r\ny=2\r\n");
}

TEST_F(IniFileWrite, LfFileStaysLfAndUnterminatedLastLineIsNotJoined) {
    put(iniPath(), "[A]\nx=1");
    IniFile ini(iniPath());
    ASSERT_TRUE(ini.writeString("A", "y", "2"));
    ASSERT_TRUE(ini.writeString("C", "k", "v"));
    const std::string after = get(iniPath());
    EXPECT_EQ(after.find('\r'), std::string::npos) << after;
    EXPECT_EQ(ini.readString("A", "x", ""), "1");
    EXPECT_EQ(ini.readString("A", "y", ""), "2");
    EXPECT_EQ(ini.readString("C", "k", ""), "v");
    EXPECT_LT(after.find("y=2"), after.find("[C]"));
}

TEST_F(IniFileWrite, MissingFileIsCreatedWithCrlfAndItsFolders) {
    const std::string path = pathOf("config/veltrane/veltrane.ini");
    IniFile ini(path);
    ASSERT_TRUE(ini.writeString("Form", "file", "1"));
    ASSERT_TRUE(ini.writeString("HOTKEY", "Laser preheat", "with blanks"));
    const std::string after = get(path);
    for (std::size_t pos = after.find('\n'); pos != std::string::npos; pos = after.find('\n', pos + 1))
        ASSERT_TRUE(pos > 0 && after[pos - 1] == '\r') << after;
    EXPECT_NE(after.find("Laser preheat=with blanks\r\n"), std::string::npos) << after;
    EXPECT_EQ(ini.readInteger("Form", "file", 0), 1);
}

TEST_F(IniFileWrite, UnstorableNamesOrValuesAreRefusedAndChangeNothing) {
    const std::string before = "[Form]\r\nfile=1\r\n";
    put(iniPath(), before);
    IniFile ini(iniPath());
    EXPECT_FALSE(ini.writeString("Form", "file", "1\r\n[Evil]"));
    EXPECT_FALSE(ini.writeString("Form", "a=b", "1"));
    EXPECT_FALSE(ini.writeString("Form", ";x", "1"));
    EXPECT_FALSE(ini.writeString("Fo]rm", "x", "1"));
    EXPECT_FALSE(ini.writeString("Form", "  ", "1"));
    EXPECT_EQ(get(iniPath()), before);
}

TEST_F(IniFileWrite, FailedWriteReturnsFalse) {
    // A parent that is a regular file defeats the write even for root.
    put(pathOf("plain"), "x");
    IniFile blocked(pathOf("plain") + "/Veltrane.ini");
    EXPECT_FALSE(blocked.writeString("Form", "file", "1"));
    EXPECT_EQ(get(pathOf("plain")), "x");
}

TEST_F(IniFileWrite, FailedWriteInReadOnlyFolderLeavesTheOldFile) {
    const std::string before = "[Form]\r\nfile=1\r\n";
    put(iniPath(), before);
    test::ReadOnlyFolder readOnly(m_dir.string()); // also holds under root
    IniFile ini(iniPath());
    EXPECT_FALSE(ini.writeString("Form", "file", "0"));
    EXPECT_FALSE(ini.writeString("Measure Set", "Exptime", "10"));
    EXPECT_EQ(get(iniPath()), before);
    EXPECT_EQ(test::SnapshotFolder(m_dir.string()).size(), 1u); // no temporary left
}

class Settings : public IniFolder {
protected:
    // The window's designed texts, which a file without saved settings keeps.
    MeasureBoxTexts m_boxes{"3000", "1", "20000", "100"};
    std::unique_ptr<ProgramState> m_state = std::make_unique<ProgramState>();

    void read() { ReadSettings(IniFile(iniPath()), *m_state, m_boxes); }
    HOTKEY hotkeys(const std::string& prefix) const {
        HOTKEY keys;
        for (std::size_t i = 0; i < kHotkeyCount; ++i)
            keys.keys[i] = prefix + std::to_string(i);
        return keys;
    }
};

TEST_F(Settings, NormalWriteGivesTheSectionsAndKeysInOrder) {
    IniFile ini(iniPath());
    ASSERT_TRUE(WriteSettings(ini, {"1500", "4", "10000", "80"}, hotkeys("F")));

    std::vector<std::string> names;
    const std::string text = get(iniPath());
    std::size_t pos = 0;
    for (std::size_t end; (end = text.find("\r\n", pos)) != std::string::npos; pos = end + 2) {
        const std::string line = text.substr(pos, end - pos);
        if (!line.empty()) names.push_back(line.substr(0, line.find('=')));
    }
    EXPECT_EQ(pos, text.size());
    const std::vector<std::string> expected = {"[Form]",        "file",           "[Measure Set]", "Exptime",
                                               "Average",       "Laser preheat",  "Laser power",   "[HOTKEY]",
                                               "Spectrum mode", "Linker mode",    "Capture",       "Open Raw",
                                               "Make Library",  "Library Export", "Library Draw",  "Marker"};
    EXPECT_EQ(names, expected);

    read();
    EXPECT_EQ(m_state->shell.settingsSaved, 1);
    EXPECT_EQ(m_state->measurement.measureParams.exposureMs, 1500u);
    EXPECT_EQ(m_state->hotkey.keys, hotkeys("F").keys);
}

TEST_F(Settings, FirstRunWithoutFileKeepsParamsAndBoxesAndGivesDefaultHotkeys) {
    m_state->measurement.measureParams.exposureMs = 777;
    read();
    EXPECT_EQ(m_state->shell.settingsSaved, 255);
    EXPECT_EQ(m_state->measurement.measureParams.exposureMs, 777u);
    EXPECT_EQ(m_boxes.exposure, "3000");
    EXPECT_EQ(m_boxes.average, "1");
    const std::array<std::string, kHotkeyCount> defaults = {"S", "L", "C", "O", "M", "E", "D", "A"};
    EXPECT_EQ(m_state->hotkey.keys, defaults);
    EXPECT_FALSE(fs::exists(iniPath()));
}

TEST_F(Settings, SavedFlagAloneGivesDefaultMeasureValues) {
    put(iniPath(), "[Form]\r\nfile=1\r\n");
    read();
    EXPECT_EQ(m_boxes.exposure, "3000");
    EXPECT_EQ(m_boxes.average, "3");
    EXPECT_EQ(m_boxes.preheat, "20000");
    EXPECT_EQ(m_boxes.power, "100");
    EXPECT_EQ(m_state->measurement.measureParams.averageCount, 3);
}

TEST_F(Settings, SavedFlagZeroIgnoresMeasureSetButReadsHotkeys) {
    put(iniPath(), "[Form]\r\nfile=0\r\n[Measure Set]\r\nExptime=1500\r\nAverage=9\r\n[HOTKEY]\r\nCapture=X\r\n");
    read();
    EXPECT_EQ(m_state->shell.settingsSaved, 0);
    EXPECT_EQ(m_state->measurement.measureParams.exposureMs, 0u);
    EXPECT_EQ(m_boxes.exposure, "3000");
    EXPECT_EQ(m_boxes.average, "1");
    EXPECT_EQ(m_state->hotkey.keys[2], "X");
    EXPECT_EQ(m_state->hotkey.keys[3], "O");
}

TEST_F(Settings, OversizeValuesKeepTheirLowBitsOnRead) {
    put(iniPath(), "[Form]\r\nfile=257\r\n[Measure Set]\r\nExptime=$FFFFFFFF\r\nAverage=65537\r\n"
                   "Laser preheat=70000\r\nLaser power=300\r\n");
    read();
    EXPECT_EQ(m_state->shell.settingsSaved, 1);
    EXPECT_EQ(m_state->measurement.measureParams.exposureMs, 4294967295u);
    EXPECT_EQ(m_state->measurement.measureParams.laserPower, 44);
    EXPECT_EQ(m_boxes.exposure, "-1");
    EXPECT_EQ(m_boxes.average, "1");
    EXPECT_EQ(m_boxes.preheat, "4464");
    EXPECT_EQ(m_boxes.power, "44");
}

TEST_F(Settings, ValuesBeyond32BitsAreNoWholeNumbersAndQuotedHotkeysLoseTheirQuotes) {
    put(iniPath(), "[Form]\r\nfile=1\r\n[Measure Set]\r\nExptime=5000000000\r\nAverage=4294967296\r\n"
                   "Laser preheat=-2147483649\r\nLaser power=4294967295\r\n[HOTKEY]\r\nCapture=\"X\"\r\n");
    read();
    EXPECT_EQ(m_state->measurement.measureParams.exposureMs, 3000u);
    EXPECT_EQ(m_state->measurement.measureParams.averageCount, 3);
    EXPECT_EQ(m_state->measurement.measureParams.preheatMs, 20000);
    EXPECT_EQ(m_state->measurement.measureParams.laserPower, 255); // the widest whole number still counts
    EXPECT_EQ(m_state->hotkey.keys[2], "X");
}

TEST_F(Settings, OversizeBoxesKeepTheirLowBitsOnWriteAndMinusOneExposureRoundTrips) {
    IniFile ini(iniPath());
    ASSERT_TRUE(WriteSettings(ini, {"-1", "70000", "-1", "300"}, hotkeys("K")));
    EXPECT_EQ(ini.readString("Measure Set", "Exptime", ""), "-1");
    EXPECT_EQ(ini.readString("Measure Set", "Average", ""), "4464");
    EXPECT_EQ(ini.readString("Measure Set", "Laser preheat", ""), "65535");
    EXPECT_EQ(ini.readString("Measure Set", "Laser power", ""), "44");
    read();
    EXPECT_EQ(m_state->measurement.measureParams.exposureMs, 4294967295u);
    EXPECT_EQ(m_boxes.exposure, "-1");
}

TEST_F(Settings, UnconvertibleBoxKeepsTheFilesValueAndTheRestIsWritten) {
    put(iniPath(), "[Form]\r\nfile=1\r\n[Measure Set]\r\nExptime=1500\r\nAverage=5\r\nLaser preheat=100\r\n"
                   "Laser power=10\r\n");
    IniFile ini(iniPath());
    // 2^31 does not fit the signed 32-bit exposure.
    EXPECT_TRUE(WriteSettings(ini, {"2147483648", "abc", "3000.5", "50"}, hotkeys("H")));
    EXPECT_EQ(ini.readString("Measure Set", "Exptime", ""), "1500");
    EXPECT_EQ(ini.readString("Measure Set", "Average", ""), "5");
    EXPECT_EQ(ini.readString("Measure Set", "Laser preheat", ""), "100");
    EXPECT_EQ(ini.readString("Measure Set", "Laser power", ""), "50");
    read();
    EXPECT_EQ(m_state->hotkey.keys, hotkeys("H").keys);
}

TEST_F(Settings, UnconvertibleBoxOnFirstSaveLeavesTheKeyOutSoTheDefaultApplies) {
    IniFile ini(iniPath());
    EXPECT_TRUE(WriteSettings(ini, {"", "2", "", "90"}, hotkeys("H")));
    EXPECT_EQ(ini.readString("Measure Set", "Exptime", "absent"), "absent");
    EXPECT_EQ(ini.readString("Measure Set", "Laser preheat", "absent"), "absent");
    read();
    EXPECT_EQ(m_boxes.exposure, "3000");
    EXPECT_EQ(m_boxes.average, "2");
    EXPECT_EQ(m_boxes.preheat, "20000");
    EXPECT_EQ(m_boxes.power, "90");
    EXPECT_EQ(m_state->hotkey.keys[7], "H7");
}

// The operator comes back as typed, blanks and quotes included, beside the
// other settings and without touching their keys; a line break cannot be
// stored in a line and becomes a blank.
TEST_F(Settings, OperatorAndKeepComeBackAsWritten) {
    IniFile ini(iniPath());
    EXPECT_FALSE(ReadSampleSettings(ini).keepForNext);
    for (const std::string name : {"Ann Lee", "  padded ", "\"quoted\"", "a=b;c # d", "", "two\nlines"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(
            WriteSettings(ini, {"1500", "4", "10000", "80"}, hotkeys("F"), SampleSettingsEntries({name, true})));
        const SampleSettings back = ReadSampleSettings(ini);
        EXPECT_EQ(back.operatorName, name == "two\nlines" ? "two lines" : name);
        EXPECT_TRUE(back.keepForNext);
        EXPECT_EQ(ini.readString("Measure Set", "Exptime", ""), "1500");
    }
}

TEST_F(Settings, WriteReportsFailure) {
    put(pathOf("plain"), "x");
    IniFile ini(pathOf("plain") + "/Veltrane.ini");
    EXPECT_FALSE(WriteSettings(ini, {"3000", "3", "20000", "100"}, hotkeys("K")));
}

} // namespace
} // namespace veltrane
