#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/program_state.h"
#include "axis_check/reference_standards.h"
#include "cli/cli.h"
#include "cli/output.h"
#include "identify/library_index.h"
#include "library/library_file_bytes.h"
#include "measure/sample_sidecar.h"
#include "platform/display_text.h"
#include "shared/program_constants.h"
#include "sim/virtual_instrument.h"
#include "support/file_faults.h"
#include "support/pdf_text.h"
#include "support/temp_dir.h"

namespace veltrane {
namespace {

using test::DeviceRecordBytes;
using test::HeaderBytes;
using test::PcLibraryBytes;
using test::PdfPages;
using test::PdfText;
using test::PutLittle;
using test::TempDir;
using test::WriteBytes;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome Cli(const std::vector<std::string>& args, const std::atomic<bool>* stop = nullptr) {
    std::ostringstream out, err;
    int status = RunCli(args, out, err, stop);
    return {status, out.str(), err.str()};
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void PutFloat(std::string& b, std::size_t at, float value) {
    std::uint32_t raw;
    std::memcpy(&raw, &value, 4);
    PutLittle(b, at, raw, 4);
}

float FloatAt(const std::string& b, std::size_t at) {
    std::uint32_t raw = 0;
    for (int i = 0; i < 4; ++i)
        raw |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
    float value;
    std::memcpy(&value, &raw, 4);
    return value;
}

std::uint16_t U16At(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}

// A raw spectrum file laid out by hand: header, N at 120, N intensities from
// 124, N wavenumbers after them, then laser nm, laser pixel, window start and
// end. Laser 500 nm is 20000 cm-1, and wavenumber 19000 - i puts pixel i at a
// Raman shift of exactly 1000 + i.
struct RawLayout {
    std::string header = HeaderBytes("Quartz", 165);
    std::int32_t n = 256;
    std::vector<float> intensity; // default: 0.1 x i
    float laserNm = 500.0f;
    std::int32_t laserPixel = 7;
    std::int32_t windowStart = 3;
    std::int32_t windowEnd = 10;
};

std::string RawBytes(const RawLayout& layout) {
    std::string b = layout.header;
    b.resize(140 + 8 * static_cast<std::size_t>(layout.n), '\0');
    PutLittle(b, 120, static_cast<std::uint32_t>(layout.n), 4);
    for (std::int32_t i = 0; i < layout.n; ++i) {
        float y = layout.intensity.empty() ? 0.1f * static_cast<float>(i) : layout.intensity[i];
        PutFloat(b, 124 + 4 * i, y);
        PutFloat(b, 124 + 4 * (layout.n + i), 19000.0f - static_cast<float>(i));
    }
    std::size_t tail = 124 + 8 * static_cast<std::size_t>(layout.n);
    PutFloat(b, tail, layout.laserNm);
    PutLittle(b, tail + 4, static_cast<std::uint32_t>(layout.laserPixel), 4);
    PutLittle(b, tail + 8, static_cast<std::uint32_t>(layout.windowStart), 4);
    PutLittle(b, tail + 12, static_cast<std::uint32_t>(layout.windowEnd), 4);
    return b;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// "x,y" of a CSV line, read back as float32.
std::pair<float, float> CsvPoint(const std::string& line) {
    std::size_t comma = line.find(',');
    return {std::strtof(line.substr(0, comma).c_str(), nullptr), std::strtof(line.substr(comma + 1).c_str(), nullptr)};
}

const char* kPcModel179 = kBrandVariant == BrandVariant::Brenmor ? "TL100" : "QX810A";

TEST(CliInfo, PrintsTheHeaderFieldsOfEachLayout) {
    TempDir dir;
    WriteBytes(dir.path() + "q.rsd", RawBytes({}));
    WriteBytes(dir.path() + "pc.rlb", PcLibraryBytes(HeaderBytes("Calcite", 179)));
    WriteBytes(dir.path() + "dev.rlb", DeviceRecordBytes(HeaderBytes("Sulfur", 180), {}, {}));
    Outcome r = Cli({"info", dir.path() + "q.rsd", dir.path() + "pc.rlb", dir.path() + "dev.rlb"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "file: " + dir.path() +
                         "q.rsd\nformat: raw\nname: Quartz\ndate: 2017/3/3 9:5:7\nmodel: 165\n"
                         "frame: 256\nlaser_nm: 500\nlaser_pixel: 7\nwindow: 3 10\nsaturated: 0\n\n"
                         "file: " +
                         dir.path() +
                         "pc.rlb\nformat: pc-library\nname: Calcite\ndate: 2017/3/3 9:5:7\n"
                         "model: 179\npoints: 2500\n\n"
                         "file: " +
                         dir.path() +
                         "dev.rlb\nformat: device-library\nname: Sulfur\n"
                         "date: 2017/3/3 9:5:7\nmodel: 180\npoints: 1250\n\n");
}

TEST(CliInfo, RefusesEveryMalformedLayoutAndGoesOnWithTheRest) {
    TempDir dir;
    std::string good = RawBytes({});
    RawLayout unknownN;
    unknownN.n = 1000; // no sensor has a 1000-value frame
    RawLayout outside;
    outside.windowEnd = 257; // past the 256 pixels
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"empty.rsd", ""},
        {"short.rsd", good.substr(0, good.size() - 1)},
        {"long.rsd", good + "x"},
        {"frame.rsd", RawBytes(unknownN)},
        {"window.rsd", RawBytes(outside)},
        {"pc.rlb", PcLibraryBytes(HeaderBytes("A", 179)) + "x"},
        {"dev.rlb", DeviceRecordBytes(HeaderBytes("B", 180), {}, {}).substr(0, 5119)},
    };
    for (const auto& [name, bytes] : bad) {
        WriteBytes(dir.path() + name, bytes);
        Outcome r = Cli({"info", dir.path() + name});
        EXPECT_NE(r.status, 0) << name;
        EXPECT_TRUE(r.out.empty()) << name;
        EXPECT_NE(r.err.find(dir.path() + name + ": "), std::string::npos) << name << ": " << r.err;
    }
    EXPECT_NE(Cli({"info", dir.path() + "short.rsd"}).err.find("Raw data file incomplete!"), std::string::npos);
    EXPECT_NE(Cli({"info", dir.path() + "window.rsd"}).err.find("Raw data window out of range!"), std::string::npos);

    WriteBytes(dir.path() + "good.rsd", good);
    Outcome mixed = Cli({"info", dir.path() + "missing.rsd", dir.path() + "good.rsd"});
    EXPECT_NE(mixed.status, 0);
    EXPECT_NE(mixed.err.find("Can not open file!"), std::string::npos);
    EXPECT_NE(mixed.out.find("name: Quartz"), std::string::npos);
}

TEST(CliExport, RawFileGivesItsWindowInRamanShiftsThatReadBackExactly) {
    TempDir dir;
    RawLayout layout;
    WriteBytes(dir.path() + "q.rsd", RawBytes(layout));
    Outcome r = Cli({"export", dir.path() + "q.rsd"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "raman_shift_cm-1,intensity");
    for (int i = 3; i < 10; ++i) {
        auto [x, y] = CsvPoint(lines[i - 2]);
        EXPECT_EQ(x, 1000.0f + static_cast<float>(i));
        EXPECT_EQ(y, 0.1f * static_cast<float>(i)) << lines[i - 2];
    }
    EXPECT_EQ(lines[1], "1003,0.3");

    Outcome j = Cli({"export", dir.path() + "q.rsd", "--format", "jcamp", "-o", dir.path() + "q.jdx"});
    ASSERT_EQ(j.status, 0) << j.err;
    EXPECT_TRUE(j.out.empty());
    std::vector<std::string> jl = Lines(ReadBytes(dir.path() + "q.jdx"));
    auto has = [&](const std::string& line) { return std::find(jl.begin(), jl.end(), line) != jl.end(); };
    EXPECT_EQ(jl.front(), "##TITLE=Quartz");
    for (const char* line :
         {"##JCAMP-DX=5.01", "##DATA TYPE=RAMAN SPECTRUM", "##XUNITS=1/CM", "##YUNITS=ARBITRARY UNITS", "##NPOINTS=7",
          "##FIRSTX=1003", "##LASTX=1009", "##XYPOINTS=(XY..XY)", "1003, 0.3", "1009, 0.90000004"})
        EXPECT_TRUE(has(line)) << line;
    EXPECT_EQ(jl.back(), "##END=");
}

TEST(CliExport, LibrariesGiveThePointsInsideTheirModelsWindowInChartOrder) {
    TempDir dir;
    // X = 300 + 2i: the TL100 window 400 < X < 4000 keeps i = 51 .. 1849.
    std::string pc = PcLibraryBytes(HeaderBytes("Calcite", 179));
    PutFloat(pc, 120 + 4 * 100, std::nanf("")); // dropped, as the chart drops it
    WriteBytes(dir.path() + "pc.rlb", pc);
    std::vector<std::string> lines = Lines(Cli({"export", dir.path() + "pc.rlb"}).out);
    ASSERT_EQ(lines.size(), 1u + 1799u - 1u);
    EXPECT_EQ(lines[1], "402,51");
    EXPECT_EQ(lines.back(), "3998,1849");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "500,100"), 0);

    // A device record in tenths, cut to whole wavenumbers: 400.5 becomes 400
    // and is out; 3000 is the TL200 window's excluded top. Descending X comes
    // out ascending, as the chart orders it.
    WriteBytes(dir.path() + "dev.rlb",
               DeviceRecordBytes(HeaderBytes("Sulfur", 180), {7, 8, 9, 10, 11}, {30000, 29999, 12345, 4015, 4005}));
    Outcome d = Cli({"export", dir.path() + "dev.rlb"});
    ASSERT_EQ(d.status, 0) << d.err;
    EXPECT_EQ(d.out, "raman_shift_cm-1,intensity\n401,10\n1234,9\n2999,8\n");
}

TEST(CliExport, RefusesBadOptionsAndBadFilesWritingNothing) {
    TempDir dir;
    WriteBytes(dir.path() + "q.rsd", RawBytes({}));
    WriteBytes(dir.path() + "bad.rsd", "not a spectrum");
    EXPECT_EQ(Cli({"export", dir.path() + "q.rsd", "--format", "xml"}).status, kExitUsage);
    EXPECT_EQ(Cli({"export"}).status, kExitUsage);
    EXPECT_EQ(Cli({"export", dir.path() + "q.rsd", "--bogus"}).status, kExitUsage);
    Outcome r = Cli({"export", dir.path() + "bad.rsd", "-o", dir.path() + "out.csv"});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "out.csv"));
}

TEST(CliSmooth, SmoothsTheWholeSpectrumThenCutsTheWindow) {
    TempDir dir;
    // Level 10 fits a straight line, whose value at the centre of 21 points
    // is their mean. A spike of 210 at pixel 20, outside the window 25..39,
    // reaches pixels 25..30 as 10 each; the -500 at pixel 22 counts as 0.
    RawLayout layout;
    layout.intensity.assign(256, 0.0f);
    layout.intensity[20] = 210.0f;
    layout.intensity[22] = -500.0f;
    layout.windowStart = 25;
    layout.windowEnd = 40;
    WriteBytes(dir.path() + "s.rsd", RawBytes(layout));
    Outcome r = Cli({"smooth", "--level", "10", dir.path() + "s.rsd", "-o", dir.path() + "s.csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = Lines(ReadBytes(dir.path() + "s.csv"));
    ASSERT_EQ(lines.size(), 16u);
    EXPECT_EQ(lines[0], "raman_shift_cm-1,intensity");
    for (int i = 25; i < 40; ++i) {
        auto [x, y] = CsvPoint(lines[i - 24]);
        EXPECT_EQ(x, 1000.0f + static_cast<float>(i));
        EXPECT_NEAR(y, i <= 30 ? 10.0f : 0.0f, 1e-3) << "pixel " << i;
    }
    // Level 0 is a copy: the window's own values.
    std::vector<std::string> copy = Lines(Cli({"smooth", "--level=0", dir.path() + "s.rsd"}).out);
    ASSERT_EQ(copy.size(), 16u);
    EXPECT_EQ(copy[1], "1025,0");
}

TEST(CliSmooth, RefusesLevelsOutsideTheBoxAndLibraries) {
    TempDir dir;
    WriteBytes(dir.path() + "q.rsd", RawBytes({}));
    WriteBytes(dir.path() + "pc.rlb", PcLibraryBytes(HeaderBytes("Calcite", 179)));
    for (const char* level : {"11", "-1", "2x", ""})
        EXPECT_EQ(Cli({"smooth", "--level", level, dir.path() + "q.rsd"}).status, kExitUsage) << level;
    EXPECT_EQ(Cli({"smooth", dir.path() + "q.rsd"}).status, kExitUsage);
    Outcome lib = Cli({"smooth", "--level", "3", dir.path() + "pc.rlb"});
    EXPECT_EQ(lib.status, kExitFailure);
    EXPECT_TRUE(lib.out.empty());
}

TEST(CliMakeLibrary, KeepsTheRawHeaderAndWritesShiftsAndIntensities) {
    TempDir dir;
    RawLayout layout;
    layout.n = 2546;
    layout.header = HeaderBytes("orig.rsd", 179);
    layout.header[100] = 0x5A; // a byte the program does not interpret
    layout.windowStart = 0;
    layout.windowEnd = 2500;
    WriteBytes(dir.path() + "a.rsd", RawBytes(layout));
    std::string folder = dir.path() + "lib";
    Outcome r = Cli({"make-library", dir.path() + "a.rsd", "Mineral", "--folder", folder});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Process Completed\n");
    std::string b = ReadBytes(folder + "/Mineral.rlb");
    ASSERT_EQ(b.size(), 20120u);
    EXPECT_EQ(b.substr(0, 8), std::string("Mineral\0", 8));
    EXPECT_EQ(U16At(b, 112), 179);
    EXPECT_EQ(static_cast<unsigned char>(b[100]), 0x5A);
    for (int i : {0, 1, 1234, 2499}) {
        EXPECT_EQ(FloatAt(b, 120 + 4 * i), 0.1f * static_cast<float>(i));
        EXPECT_EQ(FloatAt(b, 10120 + 4 * i), 1000.0f + static_cast<float>(i));
    }

    // Refusals carry the creation's result code and leave the file alone.
    Outcome again = Cli({"make-library", dir.path() + "a.rsd", "Mineral", "--folder", folder});
    EXPECT_EQ(again.status, 2);
    EXPECT_EQ(again.err, "File name existed\n");
    EXPECT_EQ(ReadBytes(folder + "/Mineral.rlb"), b);
    EXPECT_EQ(Cli({"make-library", dir.path() + "a.rsd", std::string(65, 'n'), "--folder", folder}).status, 3);
    Outcome invalid = Cli({"make-library", dir.path() + "a.rsd", "a\tb", "--folder", folder});
    EXPECT_EQ(invalid.status, 4);
    EXPECT_EQ(invalid.err, "Invalid file name!\n");
    EXPECT_EQ(Cli({"make-library", dir.path() + "a.rsd", "", "--folder", folder}).status, kExitNameRefused);
    EXPECT_EQ(Cli({"make-library", dir.path() + "a.rsd", "Other"}).status, kExitUsage);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
}

TEST(CliMakeLibrary, RefusesAnythingButARawFile) {
    TempDir dir;
    WriteBytes(dir.path() + "pc.rlb", PcLibraryBytes(HeaderBytes("Calcite", 179)));
    std::string raw = RawBytes({});
    WriteBytes(dir.path() + "short.rsd", raw.substr(0, 200));
    for (const char* input : {"pc.rlb", "short.rsd", "missing.rsd"}) {
        Outcome r = Cli({"make-library", dir.path() + input, "X", "--folder", dir.path() + "lib"});
        EXPECT_EQ(r.status, kExitInputRefused) << input;
        EXPECT_FALSE(std::filesystem::exists(dir.path() + "lib/X.rlb")) << input;
    }
}

TEST(CliToDevice, AveragesNeighbouringPointsIntoTheRecord) {
    TempDir dir;
    // Points (300 + 2i, i): pair k averages to intensity 2k + 0.5, kept as 2k,
    // and X 301 + 4k, kept in tenths.
    std::string pc = PcLibraryBytes(HeaderBytes("Calcite", 179));
    WriteBytes(dir.path() + "pc.rlb", pc);
    Outcome r = Cli({"to-device", dir.path() + "pc.rlb", "-o", dir.path() + "dev.rlb"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string rec = ReadBytes(dir.path() + "dev.rlb");
    ASSERT_EQ(rec.size(), 5120u);
    EXPECT_EQ(rec.substr(0, 120), pc.substr(0, 120));
    for (int k : {0, 1, 700, 1249}) {
        EXPECT_EQ(U16At(rec, 120 + 2 * k), 2 * k);
        EXPECT_EQ(U16At(rec, 2620 + 2 * k), 3010 + 40 * k);
    }

    WriteBytes(dir.path() + "d.rlb", rec);
    WriteBytes(dir.path() + "cut.rlb", pc.substr(0, 20119));
    for (const char* input : {"d.rlb", "cut.rlb", "none.rlb"}) {
        Outcome bad = Cli({"to-device", dir.path() + input, "-o", dir.path() + "out.rlb"});
        EXPECT_EQ(bad.status, kExitFailure) << input;
        EXPECT_FALSE(std::filesystem::exists(dir.path() + "out.rlb")) << input;
    }
    EXPECT_EQ(Cli({"to-device", dir.path() + "pc.rlb"}).status, kExitUsage);
}

TEST(CliList, OneTabSeparatedRowPerLibraryFile) {
    TempDir dir;
    WriteBytes(dir.path() + "a.rlb", PcLibraryBytes(HeaderBytes("Calcite", 179)));
    WriteBytes(dir.path() + "b.rlb", DeviceRecordBytes(HeaderBytes("Odd", 7), {}, {}));
    WriteBytes(dir.path() + "broken.rlb", "short");
    WriteBytes(dir.path() + "note.txt", "not a library");
    Outcome r = Cli({"list", dir.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{std::string("Calcite\t") + kPcModel179 + "\t2017/3/3 9:5:7",
                                               "Odd\t\t2017/3/3 9:5:7", "broken\t\t"}));
    EXPECT_EQ(Cli({"list", dir.path() + "nowhere"}).status, kExitFailure);
}

TEST(CliHelp, EveryCommandExplainsItself) {
    for (const char* command :
         {"info", "export", "smooth", "make-library", "to-device", "list", "measure", "convert", "import"}) {
        Outcome r = Cli({command, "--help"});
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.out.rfind(std::string("Usage: veltrane-cli ") + command, 0), 0u) << r.out;
    }
    EXPECT_EQ(Cli({"--help"}).status, 0);
    EXPECT_EQ(Cli({"frobnicate"}).status, kExitUsage);
    EXPECT_EQ(Cli({}).status, kExitUsage);
}

TEST(CliInterchange, ForeignFilesConvertExportAndShowTheirFields) {
    TempDir dir;
    const std::string d = dir.path();
    // Semicolons, decimal commas, X descending: the points (100, 1.5),
    // (200, 2.5), (300, 4), evenly spaced, so even DIFDUP keeps them exactly.
    WriteBytes(d + "in.csv", "Shift;Counts\n300;4\n200;2,5\n100;1,5\n");
    Outcome info = Cli({"info", d + "in.csv"});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out, "file: " + d + "in.csv\nformat: csv\nname: \npoints: 3\nx_range: 100 300\n\n");

    ASSERT_EQ(Cli({"convert", d + "in.csv", d + "a.spc"}).status, 0);
    ASSERT_EQ(Cli({"convert", d + "a.spc", d + "b.jdx", "--jcamp-form", "difdup"}).status, 0);
    EXPECT_NE(ReadBytes(d + "b.jdx").find("##XYDATA=(X++(Y..Y))"), std::string::npos);
    Outcome back = Cli({"export", d + "b.jdx"});
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(back.out, "raman_shift_cm-1,intensity\n100,1.5\n200,2.5\n300,4\n");
    Outcome spc = Cli({"export", d + "b.jdx", "--format", "spc", "-o", d + "c.spc"});
    ASSERT_EQ(spc.status, 0) << spc.err;
    EXPECT_EQ(ReadBytes(d + "c.spc").size(), 512u + 32u + 12u); // even X: no X array
    Outcome name = Cli({"info", d + "c.spc"});
    EXPECT_NE(name.out.find("format: spc\nname: in\npoints: 3\n"), std::string::npos) << name.out;

    // Wavelengths need --laser: 1e7/500 - 1e7/520 = 769.2308 cm-1.
    WriteBytes(d + "nm.jdx", "##TITLE=nm\n##XUNITS=NANOMETERS\n##XYPOINTS=(XY..XY)\n520,7\n##END=\n");
    Outcome noLaser = Cli({"export", d + "nm.jdx"});
    EXPECT_EQ(noLaser.status, kExitFailure);
    EXPECT_NE(noLaser.err.find("--laser"), std::string::npos) << noLaser.err;
    EXPECT_EQ(Cli({"export", d + "nm.jdx", "--laser", "500"}).out, "raman_shift_cm-1,intensity\n769.2308,7\n");

    // Refusals write nothing.
    WriteBytes(d + "broken.jdx", "##TITLE=t\n##XUNITS=1/CM\n##FIRSTX=1\n##LASTX=3\n##NPOINTS=3\n"
                                 "##XYDATA=(X++(Y..Y))\n1A0JJ\n3A3\n##END=\n");
    Outcome broken = Cli({"convert", d + "broken.jdx", d + "out.csv"});
    EXPECT_EQ(broken.status, kExitFailure);
    EXPECT_NE(broken.err.find("Y-check"), std::string::npos) << broken.err;
    EXPECT_EQ(Cli({"convert", d + "in.csv", d + "out.xml"}).status, kExitUsage);
    EXPECT_EQ(Cli({"export", d + "in.csv", "--jcamp-form", "sqz"}).status, kExitUsage);
    EXPECT_EQ(Cli({"export", d + "in.csv", "--laser", "-3"}).status, kExitUsage);
    EXPECT_FALSE(std::filesystem::exists(d + "out.csv"));
    EXPECT_FALSE(std::filesystem::exists(d + "out.xml"));
}

// Other instruments' files: a table of named columns is read by its names
// or by --columns, its header facts shown; smooth takes it; a file of
// intensities that are no Raman spectrum is imported only when forced.
TEST(CliInterchange, NamedColumnsFactsSmoothAndForcedImport) {
    TempDir dir;
    const std::string d = dir.path();
    WriteBytes(d + "export.txt", "Date;2024-05-17\nlaser_wavelength;785\nPixel;Raman Shift;Dark;Dark Subtracted #1\n"
                                 "0;;1;9\n1;100;1;2\n2;200;1;3\n3;300;1;1\n");
    Outcome info = Cli({"info", d + "export.txt"});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("points: 3\nx_range: 100 300\nlaser_nm: 785\ndate: 2024-05-17\n"), std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("field: laser_wavelength = 785\n"), std::string::npos) << info.out;
    EXPECT_EQ(Cli({"export", d + "export.txt", "--columns", "Raman Shift,Dark"}).out,
              "raman_shift_cm-1,intensity\n100,1\n200,1\n300,1\n");
    EXPECT_EQ(Cli({"export", d + "export.txt", "--columns", "2"}).status, kExitUsage);
    Outcome smooth = Cli({"smooth", "--level", "0", d + "export.txt"});
    EXPECT_EQ(smooth.out, "raman_shift_cm-1,intensity\n100,2\n200,3\n300,1\n") << smooth.err;

    WriteBytes(d + "ir.jdx", "##TITLE=film\n##XUNITS=1/CM\n##YUNITS=TRANSMITTANCE\n##XYPOINTS=(XY..XY)\n"
                             "400, 1\n500, 2\n##END=\n");
    Outcome refused = Cli({"import", d + "ir.jdx", "Film", "--folder", d + "lib"});
    EXPECT_EQ(refused.status, kExitInputRefused);
    EXPECT_NE(refused.err.find("Intensities in TRANSMITTANCE are not a Raman spectrum"), std::string::npos);
    EXPECT_EQ(Cli({"import", d + "ir.jdx", "Film", "--folder", d + "lib", "--force"}).status, 0);
}

// A folder into a library: one line a file, a summary, the exit status by
// how many were imported, names made unique.
TEST(CliImportFolder, EveryFileOneLineAndTheStatusByWhatWasImported) {
    TempDir dir;
    const std::string d = dir.path();
    std::filesystem::create_directories(d + "in/sub");
    WriteBytes(d + "in/a.txt", "##NAMES=Quartz\n100, 1\n200, 2\n300, 1\n##END=\n");
    WriteBytes(d + "in/b.csv", "100,1\n200,3\n300,1\n");
    WriteBytes(d + "in/sub/c.txt", "##NAMES=Quartz\n100, 2\n200, 1\n300, 1\n##END=\n");
    Outcome all = Cli({"import-folder", d + "in", "--folder", d + "lib", "--recursive"});
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(all.out, "imported Quartz\nimported b\nimported Quartz (2)\nImported 3 of 3 files; 0 skipped.\n");

    WriteBytes(d + "in/notes.md", "not a spectrum");
    Outcome some = Cli({"import-folder", d + "in", "--folder", d + "lib", "--name-from", "file", "--json"});
    EXPECT_EQ(some.status, 3);
    auto doc = nlohmann::json::parse(some.out);
    EXPECT_EQ(doc["imported"], 2);
    EXPECT_EQ(doc["skipped"], 1);
    EXPECT_EQ(doc["files"][0]["name"], "a");
    EXPECT_EQ(doc["files"][1]["name"], "b (2)");
    EXPECT_EQ(doc["files"][2]["reason"], "Unknown file format!");
    std::filesystem::remove(d + "in/a.txt");
    std::filesystem::remove(d + "in/b.csv");
    EXPECT_EQ(Cli({"import-folder", d + "in", "--folder", d + "lib"}).status, kExitFailure);
    EXPECT_EQ(Cli({"import-folder", d + "nowhere", "--folder", d + "lib"}).status, kExitFailure);
    EXPECT_EQ(Cli({"import-folder", d + "in", "--folder", d + "lib", "--name-from", "title"}).status, kExitUsage);
}

TEST(CliInterchange, ImportMakesALibraryEntryResamplingLongSpectra) {
    TempDir dir;
    const std::string d = dir.path();
    WriteBytes(d + "short.csv", "100,1.5\n200,2.5\n300,4\n");
    Outcome made = Cli({"import", d + "short.csv", "Short", "--folder", d + "lib"});
    ASSERT_EQ(made.status, 0) << made.err;
    std::string lib = ReadBytes(d + "lib/Short.rlb");
    ASSERT_EQ(lib.size(), 20120u);
    EXPECT_EQ(lib.substr(0, 6), std::string("Short\0", 6));
    EXPECT_EQ(U16At(lib, 112), 0xFFFF); // no model of ours: drawn over its whole range
    EXPECT_EQ(FloatAt(lib, 120 + 8), 4.0f);
    EXPECT_EQ(FloatAt(lib, 10120 + 8), 300.0f);
    EXPECT_EQ(FloatAt(lib, 120 + 12), 0.0f);
    EXPECT_EQ(FloatAt(lib, 10120 + 12), 0.0f);

    // 5001 points on y = x from 0 to 5000 become 2500 over the same range.
    std::string many;
    for (int i = 0; i <= 5000; ++i)
        many += std::to_string(i) + "\t" + std::to_string(i) + "\n";
    WriteBytes(d + "many.txt", many);
    Outcome resampled = Cli({"import", d + "many.txt", "Many", "--folder", d + "lib"});
    ASSERT_EQ(resampled.status, 0) << resampled.err;
    EXPECT_NE(resampled.err.find("5001 points resampled to 2500"), std::string::npos) << resampled.err;
    lib = ReadBytes(d + "lib/Many.rlb");
    EXPECT_EQ(FloatAt(lib, 10120), 0.0f);
    EXPECT_EQ(FloatAt(lib, 10120 + 4 * 2499), 5000.0f);
    EXPECT_NEAR(FloatAt(lib, 10120 + 4 * 1000), 5000.0 * 1000 / 2499, 1e-3);
    EXPECT_NEAR(FloatAt(lib, 120 + 4 * 1000), 5000.0 * 1000 / 2499, 1e-3);

    EXPECT_EQ(Cli({"import", d + "short.csv", "Short", "--folder", d + "lib"}).status, 2); // exists
    WriteBytes(d + "bad.spc", std::string(600, '\x4D'));
    EXPECT_EQ(Cli({"import", d + "bad.spc", "Bad", "--folder", d + "lib"}).status, kExitInputRefused);
    EXPECT_FALSE(std::filesystem::exists(d + "lib/Bad.rlb"));
}

// A library measured on an axis a few cm-1 off is corrected as it is made,
// by one file or a folder; a library holding wavelengths has no Raman
// shifts to correct.
TEST(CliInterchange, ImportCorrectsTheRamanShiftsByTheAxisOffset) {
    TempDir dir;
    const std::string d = dir.path();
    std::filesystem::create_directories(d + "in");
    WriteBytes(d + "in/short.csv", "100,1.5\n200,2.5\n300,4\n");
    const std::vector<std::vector<std::string>> commands = {
        {"import", d + "in/short.csv", "One", "--folder", d + "lib", "--axis-offset", "-2.5"},
        {"import-folder", d + "in", "--folder", d + "lib", "--name-from", "file", "--axis-offset", "-2.5"}};
    for (const auto& command : commands) {
        Outcome made = Cli(command);
        ASSERT_EQ(made.status, 0) << made.err;
        std::string lib = ReadBytes(d + "lib/" + (command[0] == "import" ? "One" : "short") + ".rlb");
        EXPECT_EQ(FloatAt(lib, 10120), 97.5f) << command[0];
        EXPECT_EQ(FloatAt(lib, 10120 + 8), 297.5f) << command[0];
        EXPECT_EQ(FloatAt(lib, 120 + 8), 4.0f) << command[0];
    }
    std::vector<float> nm(256);
    for (std::size_t i = 0; i < nm.size(); ++i)
        nm[i] = 323.0f + 1.9f * static_cast<float>(i);
    WriteBytes(d + "small.rlb", PcLibraryBytes(HeaderBytes("Small", 165), 0, nm));
    Outcome refused = Cli({"import", d + "small.rlb", "Small", "--folder", d + "lib", "--axis-offset", "3"});
    EXPECT_EQ(refused.status, kExitInputRefused);
    EXPECT_NE(refused.err.find("wavelengths, not Raman shifts"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(d + "lib/Small.rlb"));
}

TEST(CliMeasure, RefusesWithoutADeviceOrWithTheCaptureChecks) {
    TempDir dir;
    std::string out = dir.path() + "m.rsd";
    Outcome none = Cli({"measure", "-o", out});
    EXPECT_EQ(none.status, kExitFailure);
    EXPECT_EQ(none.err, "No Device!\n");
    Outcome preheat = Cli({"measure", "--simulator", "--preheat", "1000", "-o", out});
    EXPECT_EQ(preheat.status, kExitFailure);
    EXPECT_NE(preheat.err.find("Preheat can not lower than 20000ms!"), std::string::npos);
    Outcome text = Cli({"measure", "--simulator", "--average", "abc", "-o", out});
    EXPECT_NE(text.err.find("'abc' is not a valid floating point value"), std::string::npos);
    EXPECT_EQ(Cli({"measure", "--sim-speed", "100", "-o", out}).status, kExitUsage);
    EXPECT_EQ(Cli({"measure", "--simulator=9999", "-o", out}).status, kExitUsage);
    EXPECT_EQ(Cli({"measure", "--simulator"}).status, kExitUsage);
    // No frame averaged, no sensor that can be read: refused, not saved as zeros.
    Outcome frames = Cli({"measure", "--simulator", "--average", "65536", "-o", out});
    EXPECT_EQ(frames.status, kExitFailure);
    EXPECT_NE(frames.err.find("Average can not be zero or negative number!"), std::string::npos);
    Outcome unknown = Cli({"measure", "--simulator=unknown", "-o", out});
    EXPECT_EQ(unknown.status, kExitFailure);
    EXPECT_NE(unknown.err.find("Device not supported!"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(CliMeasure, AnExposureOfNoTimeIsMeasured) {
    TempDir dir;
    std::string out = dir.path() + "zero.rsd";
    Outcome m = Cli({"measure", "--simulator", "--sim-speed", "100", "--exposure", "0", "-o", out});
    EXPECT_EQ(m.status, 0) << m.err;
    EXPECT_TRUE(std::filesystem::exists(out));
}

// Ctrl-C once the laser is on (the preheat) and before (the dark): the
// instrument is left with its laser off either way, and nothing is saved.
TEST(CliMeasure, StopRequestEndsWithTheLaserOffWithoutSaving) {
    for (bool afterLaserOn : {true, false}) {
        SCOPED_TRACE(afterLaserOn ? "preheat" : "dark");
        TempDir dir;
        std::atomic<bool> stop{false};
        std::shared_ptr<VirtualInstrument> instrument;
        std::thread raiser;
        std::atomic<bool> sawLaser{false};
        std::istringstream nothing;
        std::ostringstream out, err;
        CliStreams io{nothing, out, err, false, &stop, {}};
        io.simulatorMade = [&](std::shared_ptr<VirtualInstrument> made) {
            instrument = made;
            raiser = std::thread([&stop, &sawLaser, made, afterLaserOn] {
                // At speed 10 the 20 s preheat lasts 2 s of wall time.
                for (int i = 0; i < 1000 && afterLaserOn && !made->laserOn(); ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                sawLaser.store(made->laserOn());
                stop.store(true);
            });
        };
        const int status = RunCli({"measure", "--simulator", "--sim-speed", "10", "--exposure", "2000", "--average",
                                   "1", "-o", dir.path() + "m.rsd"},
                                  io);
        if (raiser.joinable()) raiser.join();
        ASSERT_NE(instrument, nullptr);
        EXPECT_EQ(sawLaser.load(), afterLaserOn);
        EXPECT_EQ(status, kExitStopped) << err.str();
        EXPECT_NE(err.str().find("laser off"), std::string::npos);
        EXPECT_FALSE(instrument->laserOn());
        EXPECT_FALSE(std::filesystem::exists(dir.path() + "m.rsd"));
    }
}

// The virtual instrument as a real one behaves: a long exposure clips and
// says so (and info of the file counts the pixels), the automatic exposure
// lands the strongest pixel well inside the converter's range, and no two
// captures are alike unless a seed asks for it.
TEST(CliMeasure, SaturationAutomaticExposureAndFreshNoise) {
    TempDir dir;
    const std::string d = dir.path();
    auto measure = [&](std::vector<std::string> extra, const std::string& out) {
        std::vector<std::string> args = {"measure", "--simulator", "--sim-speed", "1000", "-o", d + out};
        args.insert(args.end(), extra.begin(), extra.end());
        return Cli(args);
    };
    Outcome clipped = measure({"--sample", "polystyrene", "--exposure", "15000"}, "long.rsd");
    ASSERT_EQ(clipped.status, 0) << clipped.err;
    EXPECT_NE(clipped.err.find("Saturated: "), std::string::npos) << clipped.err;
    Outcome info = Cli({"info", d + "long.rsd"});
    EXPECT_EQ(info.out.find("saturated: 0\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("saturated: "), std::string::npos) << info.out;

    Outcome automatic = measure({"--auto-exposure", "--csv", d + "auto.csv"}, "auto.rsd");
    ASSERT_EQ(automatic.status, 0) << automatic.err;
    EXPECT_NE(automatic.err.find("exposure: "), std::string::npos);
    EXPECT_EQ(automatic.err.find("Saturated"), std::string::npos);
    float strongest = 0.0f;
    for (const std::string& line : Lines(ReadBytes(d + "auto.csv")))
        if (line.find(',') != std::string::npos && std::isdigit(static_cast<unsigned char>(line.back())))
            strongest = std::max(strongest, std::stof(line.substr(line.find(',') + 1)));
    EXPECT_GT(strongest, 0.5f * 65535.0f);
    EXPECT_LT(strongest, 0.9f * 65535.0f);

    for (const char* seed : {"", "17"}) {
        std::vector<std::string> extra = {"--exposure", "100"};
        if (*seed) extra.insert(extra.end(), {"--seed", seed});
        ASSERT_EQ(measure(extra, "one.rsd").status, 0);
        ASSERT_EQ(measure(extra, "two.rsd").status, 0);
        EXPECT_EQ(Cli({"export", d + "one.rsd"}).out == Cli({"export", d + "two.rsd"}).out, *seed != 0) << seed;
    }
    EXPECT_EQ(measure({"--sample", "sand"}, "x.rsd").status, kExitUsage);
}

// The sample information given to measure lies beside the raw file, and
// what is made of that file carries it: info, and a JCAMP-DX export that
// reads back with it. Without any there is no sidecar, and a damaged one is
// told about but never stops the file being read.
TEST(CliSampleInformation, MeasureKeepsItBesideTheRawFileAndExportsCarryIt) {
    TempDir dir;
    const std::string d = dir.path();
    Outcome m =
        Cli({"measure", "--simulator", "--sim-speed", "1000", "--exposure", "100", "--average", "2", "--sample-name",
             "Zoë's salt", "--operator", "Ann Lee", "--notes", "bag 3\nwet", "-o", d + "s.rsd"});
    ASSERT_EQ(m.status, 0) << m.err;
    EXPECT_EQ(std::filesystem::file_size(d + "s.rsd"), 140u + 8u * 2546u);
    EXPECT_TRUE(std::filesystem::exists(d + "s.rsd.json"));
    Outcome info = Cli({"info", d + "s.rsd"});
    EXPECT_NE(info.out.find("sample_name: Zoë's salt\noperator: Ann Lee\nnotes: bag 3\\nwet\nintegration_ms: 100\n"),
              std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("averages: 2\n"), std::string::npos) << info.out;

    ASSERT_EQ(Cli({"export", d + "s.rsd", "--format", "jcamp", "-o", d + "s.jdx"}).status, 0);
    const std::string jdx = ReadBytes(d + "s.jdx");
    // The exposure of the capture comes from the sidecar too.
    for (const char* line : {"##TITLE=Zoë's salt\n", "##OWNER=Ann Lee\n", "##$NOTES=bag 3&#10;wet\n",
                             "##$LASER WAVELENGTH=532 $$ nm\n", "##SPECTROMETER/DATA SYSTEM=TL100",
                             "##$INTEGRATION TIME=100 $$ ms\n", "##$AVERAGES=2\n"})
        EXPECT_NE(jdx.find(line), std::string::npos) << line << jdx.substr(0, 600);
    Outcome back = Cli({"info", d + "s.jdx"});
    for (const char* line : {"name: Zoë's salt\n", "laser_nm: 532\n", "instrument: TL100\n", "operator: Ann Lee\n",
                             "notes: bag 3\\nwet\n"})
        EXPECT_NE(back.out.find(line), std::string::npos) << line << back.out;
    EXPECT_EQ(Lines(Cli({"export", d + "s.rsd"}).out).front(), "# Title: Zoë's salt");

    ASSERT_EQ(Cli({"measure", "--simulator", "--sim-speed", "1000", "--exposure", "100", "-o", d + "s.rsd"}).status, 0);
    // The old sample information is no longer this file's; its exposure is.
    RawFileSidecar beside;
    ASSERT_EQ(ReadSampleSidecar(d + "s.rsd", beside), SidecarRead::Read);
    EXPECT_TRUE(beside.sample.empty());
    EXPECT_EQ(beside.capture.averages, 1u);
    EXPECT_EQ(Lines(Cli({"export", d + "s.rsd"}).out).front(), "raman_shift_cm-1,intensity");
    WriteBytes(d + "s.rsd.json", "{\"sample_name\": ");
    Outcome damaged = Cli({"info", d + "s.rsd"});
    EXPECT_EQ(damaged.status, 0);
    EXPECT_NE(damaged.err.find("could not be read"), std::string::npos) << damaged.err;
    EXPECT_EQ(damaged.out.find("sample_name"), std::string::npos);
}

TEST(CliRoundTrip, MeasureThenInfoExportMakeLibraryToDeviceAndList) {
    TempDir dir;
    std::string raw = dir.path() + "poly.rsd";
    Outcome m = Cli({"measure", "--simulator", "--sim-speed", "50", "--exposure", "500", "-o", raw, "--csv",
                     dir.path() + "poly.csv"});
    ASSERT_EQ(m.status, 0) << m.err;
    EXPECT_NE(m.err.find("progress: 100%"), std::string::npos);

    Outcome info = Cli({"info", raw});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("format: raw\nname: poly.rsd\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("model: 179\nframe: 2546\nlaser_nm: 532\n"), std::string::npos) << info.out;
    std::size_t at = info.out.find("window: ");
    ASSERT_NE(at, std::string::npos);
    int start = 0, end = 0;
    std::istringstream(info.out.substr(at + 8)) >> start >> end;
    ASSERT_LT(start, end);

    Outcome csv = Cli({"export", raw});
    ASSERT_EQ(csv.status, 0);
    EXPECT_EQ(csv.out, ReadBytes(dir.path() + "poly.csv"));
    std::vector<std::string> lines = Lines(csv.out);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(end - start + 1));
    auto [firstX, firstY] = CsvPoint(lines[1]);
    EXPECT_GT(firstX, 400.0f); // the default display range starts at 400 cm-1
    EXPECT_GT(firstY, 0.0f);

    std::string folder = dir.path() + "lib";
    ASSERT_EQ(Cli({"make-library", raw, "Polystyrene", "--folder", folder}).status, 0);
    ASSERT_EQ(Cli({"to-device", folder + "/Polystyrene.rlb", "-o", dir.path() + "dev.rlb"}).status, 0);
    Outcome dev = Cli({"info", dir.path() + "dev.rlb"});
    EXPECT_NE(dev.out.find("format: device-library\nname: Polystyrene\n"), std::string::npos) << dev.out;
    Outcome list = Cli({"list", folder});
    ASSERT_EQ(list.status, 0);
    EXPECT_EQ(list.out.rfind(std::string("Polystyrene\t") + kPcModel179 + "\t", 0), 0u) << list.out;
}

// ---- hostile inputs and what the operating system does to output -------------

// In a child process: the real veltrane-cli (or a copy of it) in its place.
[[noreturn]] void ExecProgram(const std::vector<std::string>& args, const char* program = VELTRANE_CLI) {
    ::alarm(10); // kept across exec: a program that hangs is ended, not waited for
    std::vector<char*> argv{const_cast<char*>(program)};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program, argv.data());
    ::_exit(127);
}

// The child's exit status, what it showed and its standard error.
Outcome Finished(pid_t child, const std::string& shown, const std::string& errPath) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), shown, ReadBytes(errPath)};
}

// The real veltrane-cli with its standard output sent to `stdoutPath`,
// optionally under a file size limit; its status and standard error.
Outcome RunProgram(const std::vector<std::string>& args, const std::string& stdoutPath, const std::string& errPath,
                   rlim_t fileSizeLimit = RLIM_INFINITY, const char* program = VELTRANE_CLI) {
    pid_t child = ::fork();
    if (child == 0) {
        int out = ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
        rlimit limit{fileSizeLimit, fileSizeLimit};
        if (fileSizeLimit != RLIM_INFINITY) ::setrlimit(RLIMIT_FSIZE, &limit);
        ExecProgram(args, program);
    }
    return Finished(child, "", errPath);
}

// Under a ctest time limit: opening a FIFO would wait for ever, and
// reading a device would run out of memory.
TEST(SpecialFilesCli, EveryInputRefusesFifosAndDevices) {
    TempDir dir;
    std::vector<std::string> inputs = {"/dev/zero", "/dev/urandom"};
    for (const test::SpecialNode& node : test::MakeSpecialNodes(dir.path()))
        inputs.push_back(node.path);
    for (const std::string& input : inputs) {
        const std::vector<std::vector<std::string>> commands = {
            {"info", input},
            {"export", input},
            {"smooth", "--level", "1", input},
            {"make-library", input, "X", "--folder", dir.path() + "lib"},
            {"to-device", input, "-o", dir.path() + "out.rlb"},
        };
        for (const std::vector<std::string>& command : commands) {
            Outcome r = Cli(command);
            EXPECT_NE(r.status, 0) << command[0] << " " << input;
            EXPECT_EQ(r.err.find(input + ": Not a regular file!"), 0u) << r.err;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "out.rlb"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "lib/X.rlb"));

    // In a listed folder such an entry is an unreadable row, as is a link
    // leading out of the folder (here to a real library elsewhere).
    const std::string lib = dir.path() + "list/";
    std::filesystem::create_directories(lib);
    WriteBytes(dir.path() + "elsewhere.rlb", PcLibraryBytes(HeaderBytes("Secret", 179)));
    WriteBytes(lib + "kept.rlb", PcLibraryBytes(HeaderBytes("Kept", 179)));
    std::filesystem::create_symlink("kept.rlb", lib + "alias.rlb");
    std::filesystem::create_symlink("../elsewhere.rlb", lib + "out.rlb");
    ASSERT_EQ(::mkfifo((lib + "pipe.rlb").c_str(), 0644), 0);
    Outcome list = Cli({"list", lib});
    EXPECT_EQ(list.status, 0) << list.err;
    std::vector<std::string> rows = Lines(list.out);
    std::sort(rows.begin(), rows.end());
    const std::string kept = std::string("Kept\t") + kPcModel179 + "\t2017/3/3 9:5:7";
    EXPECT_EQ(rows, (std::vector<std::string>{kept, kept, "out\t\t", "pipe\t\t"}));
}

TEST(CliOutput, NeverReplacesADeviceAFifoOrAnInput) {
    TempDir dir;
    const std::string q = dir.path() + "q.rsd", pc = dir.path() + "pc.rlb";
    WriteBytes(q, RawBytes({}));
    WriteBytes(pc, PcLibraryBytes(HeaderBytes("Calcite", 179)));
    std::filesystem::create_hard_link(q, dir.path() + "hard.rsd");
    for (const test::SpecialNode& node : test::MakeSpecialNodes(dir.path())) {
        for (const std::vector<std::string>& command :
             std::vector<std::vector<std::string>>{{"export", q, "-o", node.path},
                                                   {"to-device", pc, "-o", node.path},
                                                   {"measure", "--simulator", "-o", node.path}}) {
            Outcome r = Cli(command);
            EXPECT_EQ(r.status, kExitFailure) << command[0] << " " << node.path;
            EXPECT_EQ(r.err, node.path + ": Not a regular file!\n");
            EXPECT_TRUE(test::StillTheSameNode(node)) << node.path;
        }
    }
    const std::vector<std::vector<std::string>> sameFile = {
        {"export", q, "-o", q},
        {"export", q, "--format", "jcamp", "-o", dir.path() + "hard.rsd"},
        {"smooth", "--level", "2", q, "-o", dir.path() + "./q.rsd"},
        {"to-device", pc, "-o",
         dir.path() + "../" + std::filesystem::path(dir.path()).parent_path().filename().string() + "/pc.rlb"},
        {"measure", "--simulator", "-o", dir.path() + "m.rsd", "--csv", dir.path() + "./m.rsd"},
    };
    for (const std::vector<std::string>& command : sameFile) {
        Outcome r = Cli(command);
        EXPECT_EQ(r.status, kExitFailure) << command[0];
        EXPECT_NE(r.err.find(": Output file is an input file!"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadBytes(q), RawBytes({}));
    EXPECT_EQ(ReadBytes(pc), PcLibraryBytes(HeaderBytes("Calcite", 179)));
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "m.rsd"));
    EXPECT_EQ(test::TemporaryFiles(test::SnapshotFolder(dir.path())), 0u);
}

TEST(CliOutput, ControlCharactersInNamesAreEscaped) {
    TempDir dir;
    const std::string evil = "evil\n##END=\x1b]0;owned\x07\tx";
    const std::string shown = "evil\\n##END=\\x1b]0;owned\\x07\\tx";
    RawLayout layout;
    layout.header = HeaderBytes(evil, 179);
    WriteBytes(dir.path() + "e.rsd", RawBytes(layout));
    WriteBytes(dir.path() + "e.rlb", PcLibraryBytes(HeaderBytes(evil, 179)));
    WriteBytes(dir.path() + "tab\there.rlb", "short");

    std::vector<std::string> rows = Lines(Cli({"list", dir.path()}).out);
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::string>{shown + "\t" + kPcModel179 + "\t2017/3/3 9:5:7", "tab\\there\t\t"}));

    EXPECT_NE(Cli({"info", dir.path() + "e.rsd"}).out.find("\nname: " + shown + "\n"), std::string::npos);
    std::vector<std::string> jcamp = Lines(Cli({"export", dir.path() + "e.rsd", "--format", "jcamp"}).out);
    ASSERT_FALSE(jcamp.empty());
    EXPECT_EQ(jcamp.front(), "##TITLE=" + shown);
    EXPECT_EQ(std::count_if(jcamp.begin(), jcamp.end(), [](const std::string& l) { return l.rfind("##END=", 0) == 0; }),
              1);
    EXPECT_EQ(Cli({"info", dir.path() + "no\x1bpe.rsd"}).err, dir.path() + "no\\x1bpe.rsd: Can not open file!\n");
}

TEST(CliExport, ValuesThatAreNotFiniteNumbersAreLeftOut) {
    TempDir dir;
    RawLayout layout; // window 3..9
    layout.intensity.assign(256, 1.0f);
    layout.intensity[4] = std::nanf("");
    layout.intensity[6] = -INFINITY;
    std::string b = RawBytes(layout);
    PutFloat(b, 124 + 4 * (256 + 8), INFINITY); // an infinite wavenumber: no Raman shift
    WriteBytes(dir.path() + "n.rsd", b);
    Outcome csv = Cli({"export", dir.path() + "n.rsd"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out, "raman_shift_cm-1,intensity\n1003,1\n1005,1\n1007,1\n1009,1\n");
    std::string jcamp = Cli({"export", dir.path() + "n.rsd", "--format", "jcamp"}).out;
    EXPECT_NE(jcamp.find("##NPOINTS=4\n##FIRSTX=1003\n##LASTX=1009\n"), std::string::npos) << jcamp;
    std::string smoothed = Cli({"smooth", "--level", "0", dir.path() + "n.rsd"}).out;
    for (const std::string& text : {jcamp, smoothed}) {
        EXPECT_EQ(text.find("nan"), std::string::npos) << text;
        EXPECT_EQ(text.find("inf"), std::string::npos) << text;
    }
}

TEST(CliList, AnUnreadableFolderIsAnError) {
    TempDir dir;
    const std::string closed = dir.path() + "closed/";
    std::filesystem::create_directories(closed);
    WriteBytes(closed + "a.rlb", PcLibraryBytes(HeaderBytes("A", 179)));
    {
        test::ReadOnlyFolder guard(closed, std::filesystem::perms::none);
        Outcome r = Cli({"list", closed});
        EXPECT_EQ(r.status, kExitFailure);
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(r.err, closed + ": Can not read folder!\n");
    }
}

// Run alone (see tests/CMakeLists.txt): 65536 directory entries slow the
// timed window tests that would run beside it.
TEST(LargeFolder, ListingMoreLibrariesThanTheGridHoldsIsAnError) {
    // One file more than the grid's 16-bit row count: the rows it can show,
    // and an error for the rest.
    TempDir dir;
    const std::string many = dir.path();
    // Hard links to a few empty files: names are all a listing needs, and
    // they are quicker to make than files (ext4 allows 65000 links to one).
    auto add = [&](int i) {
        const std::string name = many + std::to_string(i) + ".rlb",
                          source = many + std::to_string(i / 50000 * 50000) + ".rlb";
        if (i % 50000 != 0) return ::link(source.c_str(), name.c_str()) == 0;
        ::close(::open(name.c_str(), O_WRONLY | O_CREAT, 0644));
        return true;
    };
    for (int i = 0; i < 65535; ++i)
        ASSERT_TRUE(add(i)) << i;
    // Exactly as many as the grid holds are no error.
    Outcome full = Cli({"list", many});
    EXPECT_EQ(full.status, 0) << full.err;
    EXPECT_EQ(Lines(full.out).size(), 65535u);
    ASSERT_TRUE(add(65535));
    Outcome r = Cli({"list", many});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_EQ(Lines(r.out).size(), 65535u);
    EXPECT_EQ(r.err, many + ": 65536 library files; only the first 65535 are listed.\n");
}

TEST(CliOutput, AFailedWriteToStandardOutputIsAnError) {
    TempDir dir;
    WriteBytes(dir.path() + "q.rsd", RawBytes({}));
    const std::vector<std::string> exportRaw = {"export", dir.path() + "q.rsd"};
    const std::string err = dir.path() + "err";
    Outcome ok = RunProgram(exportRaw, dir.path() + "out.csv", err);
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(ReadBytes(dir.path() + "out.csv"), Cli(exportRaw).out);
    Outcome full = RunProgram(exportRaw, "/dev/full", err);
    EXPECT_EQ(full.status, kExitFailure);
    EXPECT_EQ(full.err, "Can not write standard output!\n");
    Outcome cut = RunProgram(exportRaw, dir.path() + "cut.csv", err, 40);
    EXPECT_EQ(cut.status, kExitFailure);
    EXPECT_EQ(cut.err, "Can not write standard output!\n");

    // A FIFO as input: refused at once by the real program too.
    ASSERT_EQ(::mkfifo((dir.path() + "fifo").c_str(), 0644), 0);
    Outcome fifo = RunProgram({"info", dir.path() + "fifo"}, dir.path() + "out.txt", err);
    EXPECT_EQ(fifo.status, kExitFailure);
    EXPECT_EQ(fifo.err, dir.path() + "fifo: Not a regular file!\n");
}

// ---- identify and baseline ------------------------------------------------------

// A PC library with bands at `centre` and 1.7 x `centre` over a sloping
// background, X from 300 cm-1 in 1.2 cm-1 steps; `sign` -1 turns it upside
// down.
std::string BandLibraryBytes(const std::string& name, double centre, double sign = 1.0) {
    std::vector<float> x(2500);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = 300.0f + 1.2f * static_cast<float>(i);
    std::string bytes = PcLibraryBytes(HeaderBytes(name, 179), 0, x);
    for (std::size_t i = 0; i < 2500; ++i)
        PutFloat(bytes, 120 + 4 * i,
                 static_cast<float>((sign < 0 ? 10000.0 : 0.0) +
                                    sign * (0.2 * x[i] + 1000.0 / (1.0 + std::pow((x[i] - centre) / 6.0, 2)) +
                                            400.0 / (1.0 + std::pow((x[i] - 1.7 * centre) / 9.0, 2)))));
    return bytes;
}

TEST(CliIdentify, RanksHitsBestFirstWithExitStatusByThreshold) {
    TempDir dir;
    std::string lib = dir.path() + "lib/", other = dir.path() + "other/", index = dir.path() + "index.sqlite";
    std::filesystem::create_directories(lib);
    std::filesystem::create_directories(other);
    WriteBytes(lib + "a.rlb", BandLibraryBytes("Cal\tcite", 1086));
    WriteBytes(lib + "b.rlb", BandLibraryBytes("Gypsum", 1008));
    WriteBytes(other + "c.rlb", BandLibraryBytes("Quartz", 465));
    std::vector<float> nm(256);
    for (std::size_t i = 0; i < nm.size(); ++i)
        nm[i] = 323.0f + 1.9f * static_cast<float>(i);
    WriteBytes(other + "small.rlb", PcLibraryBytes(HeaderBytes("Small", 165), 0, nm));
    std::string unknown = dir.path() + "unknown.rlb";
    WriteBytes(unknown, BandLibraryBytes("unknown", 1086));

    Outcome r = Cli({"identify", unknown, "--library", lib, "--library=" + other, "--index", index, "--top", "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_EQ(lines[0], "1\t100.00\tCal\\tcite\t" + IndexFolderKey(lib) + "a.rlb");
    EXPECT_EQ(lines[1].rfind("2\t", 0), 0u);
    const std::string skipped =
        IndexFolderKey(other) + "small.rlb: X values are wavelengths and the file has no laser wavelength\n";
    EXPECT_EQ(r.err.substr(0, skipped.size()), skipped);
    EXPECT_EQ(r.err.substr(skipped.size()).rfind("Match: Cal\\tcite, HQI 100.0, next Gypsum ", 0), 0u) << r.err;
    // The same spectrum brought from another program ranks the same.
    ASSERT_EQ(Cli({"convert", unknown, dir.path() + "unknown.csv"}).status, 0);
    Outcome csv = Cli({"identify", dir.path() + "unknown.csv", "--library", lib, "--index", index, "--top", "1"});
    EXPECT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(Lines(csv.out), std::vector<std::string>{lines[0]});

    // Without the matching folder nothing reaches the threshold; the hit
    // of the one usable entry still comes.
    r = Cli({"identify", unknown, "--library", other, "--index", index});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(Lines(r.out).size(), 1u) << r.out;
    r = Cli({"identify", unknown, "--library", lib, "--index", index, "--min-hqi", "100", "--range", "1000:2000"});
    EXPECT_EQ(r.status, 0) << r.out;
    // Too narrow a range leaves no entry with enough points in common.
    r = Cli({"identify", unknown, "--library", lib, "--index", index, "--range", "1000:1150"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("a.rlb: fewer than 200 points in common with the spectrum\n"), std::string::npos);

    for (std::vector<std::string> bad : {std::vector<std::string>{"identify"},
                                         {"identify", unknown, "--top", "0"},
                                         {"identify", unknown, "--min-hqi", "101"},
                                         {"identify", unknown, "--range", "3200:400"},
                                         {"identify", unknown, "--library"}})
        EXPECT_EQ(Cli(bad).status, kExitUsage) << bad.back();
    EXPECT_EQ(Cli({"identify", dir.path() + "missing.rsd", "--library", lib, "--index", index}).status, kExitFailure);
    EXPECT_EQ(Cli({"identify", unknown, "--library", dir.path() + "none", "--index", index}).status, kExitFailure);
}

TEST(CliIdentify, ExitStatusTellsTheVerdict) {
    TempDir dir;
    std::string unknown = dir.path() + "unknown.rlb", index = dir.path() + "index.sqlite";
    WriteBytes(unknown, BandLibraryBytes("unknown", 1086));
    struct Case {
        std::string folder;
        std::vector<std::pair<std::string, std::string>> files; // file name, library bytes
        int status;
        std::string verdict;
    } cases[] = {
        // Another entry of the same material does not make it doubtful.
        {"same",
         {{"a.rlb", BandLibraryBytes("Calcite", 1086)},
          {"b.rlb", BandLibraryBytes(" calcite", 1086)},
          {"c.rlb", BandLibraryBytes("Gypsum", 1008)}},
         0,
         "Match: Calcite, HQI 100.0, next Gypsum "},
        // Two materials the spectrum cannot tell apart.
        {"twins",
         {{"a.rlb", BandLibraryBytes("Calcite", 1086)}, {"b.rlb", BandLibraryBytes("Aragonite", 1086)}},
         3,
         "Possible match: Calcite, HQI 100.0, next Aragonite 100.0"},
        {"inverted", {{"a.rlb", BandLibraryBytes("Calcite", 1086, -1.0)}}, 2, "No match"},
    };
    for (const Case& c : cases) {
        std::string folder = dir.path() + c.folder + "/";
        std::filesystem::create_directories(folder);
        for (const auto& [name, bytes] : c.files)
            WriteBytes(folder + name, bytes);
        Outcome r = Cli({"identify", unknown, "--library", folder, "--index", index});
        EXPECT_EQ(r.status, c.status) << c.folder << "\n" << r.out << r.err;
        EXPECT_EQ(r.err.rfind(c.verdict, 0), 0u) << r.err;
    }
}

TEST(CliCheckAxis, PassOrFailOfTheVirtualInstrumentsAxis) {
    TempDir dir;
    std::string drifted = dir.path() + "drifted.rsd", true_ = dir.path() + "true.rsd";
    ASSERT_EQ(Cli({"measure", "--simulator", "--sim-speed", "1000", "--axis-error", "4", "-o", drifted}).status, 0);
    ASSERT_EQ(Cli({"measure", "--simulator", "--sim-speed", "1000", "-o", true_}).status, 0);
    WriteBytes(dir.path() + "own.txt", "Own polystyrene\n# four of its bands\n1001.4\n1031.8 2\n1602.3\n3054.3\n");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string lastLine; // of standard output
    } cases[] = {
        {{"check-axis", true_}, 0, "result: pass"},
        {{"check-axis", drifted}, 2, "result: fail"},
        {{"check-axis", drifted, "--tolerance", "5"}, 0, "result: pass"},
        {{"check-axis", true_, "--standard", dir.path() + "own.txt"}, 0, "result: pass"},
        // Polystyrene is not cyclohexane: its bands near cyclohexane's scatter.
        {{"check-axis", true_, "--standard", "cyclohexane"}, 2, "result: fail"},
        {{"check-axis", true_, "--standard", "water"}, kExitUsage, ""},
        {{"check-axis", true_, "--tolerance", "0"}, kExitUsage, ""},
    };
    for (const Case& c : cases) {
        Outcome r = Cli(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back() << "\n" << r.err;
        std::vector<std::string> lines = Lines(r.out);
        EXPECT_EQ(lines.empty() ? "" : lines.back(), c.lastLine) << c.args.back();
    }
    Outcome drift = Cli({"check-axis", drifted});
    std::vector<std::string> lines = Lines(drift.out);
    ASSERT_EQ(lines.size(), 11u + 4u);
    EXPECT_EQ(lines[2].substr(0, 8), "1001.40\t") << lines[2];
    EXPECT_NEAR(std::stod(lines[2].substr(8)), 1005.4, 0.3) << lines[2]; // 4 cm-1 high
    EXPECT_NE(drift.err.find("1583.10: overlapped\n"), std::string::npos) << drift.err;
}

TEST(CliIdentify, NothingToCompareIsSaidSo) {
    TempDir dir;
    std::string lib = dir.path() + "lib/", empty = dir.path() + "empty/", index = dir.path() + "index.sqlite";
    std::filesystem::create_directories(lib);
    std::filesystem::create_directories(empty);
    WriteBytes(lib + "a.rlb", BandLibraryBytes("Calcite", 1086));
    WriteBytes(empty + "odd.rlb", std::string(20120, '\0'));
    auto library = [](float y) {
        std::vector<float> x(2500);
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] = 300.0f + 1.2f * static_cast<float>(i);
        std::string bytes = PcLibraryBytes(HeaderBytes("flat", 179), 0, x);
        for (std::size_t i = 0; i < 2500; ++i)
            PutFloat(bytes, 120 + 4 * i, y);
        return bytes;
    };
    WriteBytes(dir.path() + "constant.rlb", library(812.5f));
    WriteBytes(dir.path() + "zero.rlb", library(0.0f));
    WriteBytes(dir.path() + "unknown.rlb", BandLibraryBytes("unknown", 1086));
    struct Case {
        std::string file, folder;
        int status;
        std::string err; // the end of standard error
    } cases[] = {
        {"constant.rlb", lib, kExitFailure, "No usable signal in the spectrum.\n"},
        {"zero.rlb", lib, kExitFailure, "No usable signal in the spectrum.\n"},
        {"unknown.rlb", empty, 2, "No library entries to search.\n"},
    };
    for (const Case& c : cases) {
        Outcome r = Cli({"identify", dir.path() + c.file, "--library", c.folder, "--index", index});
        EXPECT_EQ(r.status, c.status) << c.file << "\n" << r.err;
        EXPECT_EQ(r.out, "") << c.file;
        ASSERT_GE(r.err.size(), c.err.size()) << r.err;
        EXPECT_EQ(r.err.substr(r.err.size() - c.err.size()), c.err) << c.file;
    }
}

TEST(CliIdentify, AnIndexPathNamingSomethingElseIsRefusedUntouched) {
    TempDir dir;
    std::string lib = dir.path() + "lib/", unknown = dir.path() + "unknown.rlb";
    std::filesystem::create_directories(lib);
    WriteBytes(lib + "a.rlb", BandLibraryBytes("Calcite", 1086));
    WriteBytes(unknown, BandLibraryBytes("unknown", 1086));
    WriteBytes(dir.path() + "notes.csv", "a,b\n1,2\n");
    ASSERT_EQ(::mkfifo((dir.path() + "fifo").c_str(), 0644), 0);
    std::filesystem::create_directories(dir.path() + "folder");
    std::filesystem::create_symlink(dir.path() + "notes.csv", dir.path() + "link\t.sqlite");
    const test::FolderSnapshot before = test::SnapshotFolder(dir.path());
    for (const char* name : {"notes.csv", "fifo", "folder", "link\t.sqlite"}) {
        std::string path = dir.path() + name;
        struct stat st {};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        Outcome r = Cli({"identify", unknown, "--library", lib, "--index", path});
        EXPECT_EQ(r.status, kExitFailure) << name;
        EXPECT_EQ(r.out, "") << name;
        std::string shown = path;
        if (shown.find('\t') != std::string::npos) shown.replace(shown.find('\t'), 1, "\\t");
        EXPECT_EQ(r.err, "Not a library index: " + shown + "\n") << name;
        struct stat after {};
        ASSERT_EQ(::lstat(path.c_str(), &after), 0) << name;
        EXPECT_EQ(after.st_mode, st.st_mode) << name;
        EXPECT_EQ(after.st_ino, st.st_ino) << name;
    }
    EXPECT_EQ(test::SnapshotFolder(dir.path()), before);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() + "folder"));
}

TEST(CliIdentify, AnIndexThatCannotBeWrittenIsOnlyNotKept) {
    TempDir dir;
    std::string lib = dir.path() + "lib/", unknown = dir.path() + "unknown.rlb";
    std::filesystem::create_directories(lib);
    WriteBytes(lib + "a.rlb", BandLibraryBytes("Calcite", 1086));
    WriteBytes(lib + "b.rlb", BandLibraryBytes("Gypsum", 1008));
    WriteBytes(unknown, BandLibraryBytes("unknown", 1086));
    WriteBytes(dir.path() + "file", "");
    // A folder that cannot be made (a file is in its way) and a disk that
    // fills up once the empty index is written.
    for (const std::string& index : {dir.path() + "file/index.sqlite", dir.path() + "index.sqlite"}) {
        Outcome r;
        {
            std::unique_ptr<test::FileSizeLimit> full;
            if (index == dir.path() + "index.sqlite") full = std::make_unique<test::FileSizeLimit>(200000);
            r = Cli({"identify", unknown, "--library", lib, "--index", index});
        }
        EXPECT_EQ(r.status, 0) << index << "\n" << r.err;
        EXPECT_EQ(Lines(r.out).size(), 2u) << r.out;
        EXPECT_EQ(r.out.rfind("1\t100.00\tCalcite\t", 0), 0u) << r.out;
        const std::string said = index + ": The library index was not kept (";
        EXPECT_EQ(r.err.rfind(said, 0), 0u) << r.err;
        EXPECT_NE(r.err.find("); the libraries were searched without it.\n"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(said, 1), std::string::npos) << "said once: " << r.err;
    }
}

// Several processes on one cold cache, started together: each builds and
// searches, none deletes or refuses the index under another.
TEST(CliIdentify, SeveralProcessesShareOneColdIndex) {
    TempDir dir;
    std::string lib = dir.path() + "lib/", unknown = dir.path() + "unknown.rlb";
    std::string index = dir.path() + "cache/index.sqlite";
    std::filesystem::create_directories(lib);
    for (int i = 0; i < 40; ++i)
        WriteBytes(lib + "e" + std::to_string(i) + ".rlb", BandLibraryBytes("E" + std::to_string(i), 500 + 23 * i));
    WriteBytes(unknown, BandLibraryBytes("unknown", 500 + 23 * 17));
    constexpr int kProcesses = 4;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t child = ::fork();
        if (child == 0) {
            std::string out = dir.path() + "out" + std::to_string(p), err = dir.path() + "err" + std::to_string(p);
            int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (o < 0 || e < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0) ::_exit(126);
            ::alarm(60);
            ::execl(VELTRANE_CLI, VELTRANE_CLI, "identify", unknown.c_str(), "--library", lib.c_str(), "--index",
                    index.c_str(), "--top", "3", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        children.push_back(child);
    }
    for (int p = 0; p < kProcesses; ++p) {
        int status = 0;
        ::waitpid(children[static_cast<std::size_t>(p)], &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << p << ": " << status << " " << ReadBytes(dir.path() + "err" + std::to_string(p));
    }
    std::string first = ReadBytes(dir.path() + "out0");
    EXPECT_EQ(first.rfind("1\t100.00\tE17\t", 0), 0u) << first;
    EXPECT_EQ(Lines(first).size(), 3u);
    for (int p = 1; p < kProcesses; ++p)
        EXPECT_EQ(ReadBytes(dir.path() + "out" + std::to_string(p)), first) << p;
    // The index they left is whole: a search after them prepares nothing.
    LibraryIndex again(index);
    IndexUpdate report = again.update({lib});
    EXPECT_TRUE(report.ok);
    EXPECT_TRUE(report.notKept.empty()) << report.notKept;
    EXPECT_EQ(report.processed, 0u);
    EXPECT_EQ(report.kept, 40u);
}

// An entry made of a spectrum scores 100.00 against it when the points lie
// at most kCoarseSpacing apart; further apart the entry is seen through the
// spectrum's pixels, which blurs it a little.
TEST(CliIdentify, AnEntryAgainstItsOwnSpectrum) {
    TempDir dir;
    struct Case {
        double spacing;
        int points;
        bool exact;
    } cases[] = {{1.2, 2000, true}, {4.0, 600, true}, {14.0, 200, false}};
    for (const Case& c : cases) {
        std::string name = std::to_string(c.points), folder = dir.path() + name + "/";
        std::string csv = dir.path() + name + ".csv";
        std::ofstream text(csv);
        text << "x,y\n";
        for (int i = 0; i < c.points; ++i) {
            double x = 200.0 + c.spacing * i;
            text << x << "," << 100.0 + 0.1 * x + 1000.0 / (1.0 + std::pow((x - 1001.0) / 12.0, 2)) << "\n";
        }
        text.close();
        ASSERT_EQ(Cli({"import", csv, "Self", "--folder", folder}).status, 0);
        Outcome r = Cli({"identify", csv, "--library", folder, "--index", dir.path() + "index.sqlite"});
        ASSERT_EQ(Lines(r.out).size(), 1u) << r.err;
        double hqi = std::stod(Lines(r.out)[0].substr(2));
        if (c.exact)
            EXPECT_EQ(Lines(r.out)[0].substr(0, 8), "1\t100.00") << c.spacing;
        else
            EXPECT_TRUE(hqi > 99.0 && hqi < 100.0) << c.spacing << " " << hqi;
    }
}

TEST(CliBaseline, CorrectedPlusBaselineIsTheSpectrumOnWholeWavenumbers) {
    TempDir dir;
    std::string file = dir.path() + "a.rlb";
    WriteBytes(file, BandLibraryBytes("A", 1086));
    Outcome r = Cli({"baseline", file});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines[0], "raman_shift_cm-1,corrected,baseline");
    // X 300 .. 300 + 1.2 x 2499: whole wavenumbers 300 to 3298.
    ASSERT_EQ(lines.size(), 1u + 2999u);
    for (std::size_t k : {1u, 500u, 2999u}) {
        double x, corrected, baseline;
        char comma;
        std::istringstream(lines[k]) >> x >> comma >> corrected >> comma >> baseline;
        EXPECT_EQ(x, 299.0 + static_cast<double>(k));
        double truth = 0.2 * x + 1000.0 / (1.0 + std::pow((x - 1086) / 6.0, 2)) +
                       400.0 / (1.0 + std::pow((x - 1.7 * 1086) / 9.0, 2));
        EXPECT_NEAR(corrected + baseline, truth, 0.05 + 1e-3 * truth) << lines[k];
    }
    EXPECT_EQ(Cli({"baseline"}).status, kExitUsage);
}

// A file that takes no part is named on standard error like every other
// path there: escaped, as a file name may carry a terminal's control codes.
TEST(CliIdentify, SkippedFilesAreNamedWithControlCharactersEscaped) {
    TempDir dir;
    const std::string lib = dir.path() + "lib/";
    std::filesystem::create_directories(lib);
    WriteBytes(lib + "evil\x1b]0;owned\x07.rlb", "not a library");
    std::string csv;
    for (int i = 0; i < 400; ++i)
        csv += std::to_string(200 + i) + "," + std::to_string(i % 80 == 40 ? 900 : 100) + "\n";
    WriteBytes(dir.path() + "unknown.csv", csv);
    Outcome r = Cli({"identify", dir.path() + "unknown.csv", "--library", lib, "--index", dir.path() + "index.sqlite"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(IndexFolderKey(lib) + "evil\\x1b]0;owned\\x07.rlb: "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find_first_of("\x1b\x07"), std::string::npos) << r.err;
}

// An output that is the input, by any spelling or a hard link, would replace
// the only copy of the spectrum with a conversion of itself.
TEST(CliConvert, RefusesToWriteOverItsInput) {
    TempDir dir;
    const std::string csv = dir.path() + "s.csv", text = "100,1\n200,2\n300,3\n";
    WriteBytes(csv, text);
    std::filesystem::create_hard_link(csv, dir.path() + "hard.csv");
    for (const std::string& output : {csv, dir.path() + "./s.csv", dir.path() + "hard.csv"}) {
        Outcome r = Cli({"convert", csv, output});
        EXPECT_EQ(r.status, kExitFailure) << output;
        EXPECT_EQ(r.err, output + ": Output file is an input file!\n");
    }
    EXPECT_EQ(ReadBytes(csv), text);
    EXPECT_EQ(test::TemporaryFiles(test::SnapshotFolder(dir.path())), 0u);
}

// The verdict weighs the best hit against the best one of another name,
// also when only the best is printed.
TEST(CliIdentify, TheVerdictLooksPastThePrintedHits) {
    TempDir dir;
    const std::string folder = dir.path() + "twins/", unknown = dir.path() + "unknown.rlb";
    std::filesystem::create_directories(folder);
    WriteBytes(folder + "a.rlb", BandLibraryBytes("Calcite", 1086));
    WriteBytes(folder + "b.rlb", BandLibraryBytes("Aragonite", 1086));
    WriteBytes(unknown, BandLibraryBytes("unknown", 1086));
    Outcome r = Cli({"identify", unknown, "--library", folder, "--index", dir.path() + "index.sqlite", "--top", "1"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(Lines(r.out).size(), 1u) << r.out;
    EXPECT_EQ(r.err.rfind("Possible match: Calcite, HQI 100.0, next Aragonite 100.0", 0), 0u) << r.err;
}

// A window without one finite point is an empty table in CSV; JCAMP-DX and
// SPC have no form for a spectrum of no points.
TEST(CliExport, NoPointsMakeAnEmptyTableAndNoOtherFile) {
    TempDir dir;
    RawLayout layout;
    layout.intensity.assign(256, std::nanf(""));
    WriteBytes(dir.path() + "n.rsd", RawBytes(layout));
    Outcome csv = Cli({"export", dir.path() + "n.rsd"});
    EXPECT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out, "raman_shift_cm-1,intensity\n");
    for (const char* format : {"jcamp", "spc"}) {
        Outcome r = Cli({"export", dir.path() + "n.rsd", "--format", format});
        EXPECT_EQ(r.status, kExitFailure) << format;
        EXPECT_EQ(r.err, dir.path() + "n.rsd: no points to export.\n") << format;
    }
}

// Numbers outside an option's range are refused as wrong arguments, never
// taken: a laser line of 0 nm would make every shift infinite, and a
// simulator at speed 0 would never get anywhere.
TEST(CliOptions, NumbersOutsideTheirRangeAreUsageErrors) {
    TempDir dir;
    WriteBytes(dir.path() + "s.csv", "100,1\n200,2\n");
    const std::vector<std::vector<std::string>> commands = {
        {"convert", dir.path() + "s.csv", dir.path() + "t.jdx", "--laser", "0"},
        {"info", dir.path() + "s.csv", "--laser", "-532"},
        {"measure", "--simulator", "--sim-speed", "0", "-o", dir.path() + "m.rsd"},
    };
    for (const std::vector<std::string>& command : commands)
        EXPECT_EQ(Cli(command).status, kExitUsage) << command[0];
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "t.jdx"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "m.rsd"));
}

// ---- conventions: version, JSON, standard input, terminals, completion ---------

TEST(CliConventions, VersionHelpAndWrongArguments) {
    Outcome version = Cli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("veltrane-cli ") + kVersionText + "\n");
    // Help is read off the parser's own definitions: every option is in it.
    EXPECT_NE(Cli({"export", "--help"}).out.find("--laser NM"), std::string::npos);
    EXPECT_NE(Cli({"identify", "--help"}).out.find("--index FILE"), std::string::npos);
    EXPECT_NE(Cli({"--help"}).out.find("check-axis FILE"), std::string::npos);
    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {"frobnicate"}, {"list"}, {"export", "a", "b"}, {"smooth", "--level", "11", "a"}}) {
        Outcome r = Cli(wrong);
        EXPECT_EQ(r.status, kExitUsage) << wrong[0];
        EXPECT_TRUE(r.out.empty()) << wrong[0];
        EXPECT_TRUE(r.err.ends_with("\nSee --help.\n")) << r.err;
    }
    EXPECT_EQ(Cli({"smooth", "--level", "11", "a"}).err,
              "--level: The level is a whole number from 0 to 10.\nSee --help.\n");
}

// A spectrum with Lorentzian bands at polystyrene's reference shifts over a
// sloping background, as CSV from 200 to 3200 cm-1.
std::string PolystyreneCsv() {
    const ReferenceStandard& polystyrene = BuiltInStandards().front();
    std::string csv;
    for (int x = 200; x <= 3200; ++x) {
        double y = 100.0 + 0.05 * x;
        for (const ReferenceBand& band : polystyrene.bands)
            y += 1000.0 * band.weight / (1.0 + std::pow((x - band.shift) / 4.0, 2));
        csv += std::to_string(x) + "," + std::to_string(y) + "\n";
    }
    return csv;
}

// A number of the JSON document as it stands there: a float32 in its
// shortest form reads as the text prints it.
std::string AsText(const Json& number) {
    std::string text = number.dump();
    return text.ends_with(".0") ? text.substr(0, text.size() - 2) : text;
}

// Each command's --json document says what its text says: the same
// records, names as they are where the text escapes them, and numbers that
// read back as the same float32.
TEST(CliJson, EveryDocumentAgreesWithTheText) {
    TempDir dir;
    const std::string d = dir.path(), evil = "Cal\tcite\x1b", lib = d + "lib/", index = d + "index.sqlite";
    std::filesystem::create_directories(lib);
    WriteBytes(d + "q.rsd", RawBytes({}));
    WriteBytes(d + "e.csv", "100,1.5\n200,2.5\n300,4.1\n");
    WriteBytes(lib + "a.rlb", BandLibraryBytes(evil, 1086));
    WriteBytes(lib + "b.rlb", BandLibraryBytes("Gypsum", 1008));
    WriteBytes(lib + "broken.rlb", "short");
    WriteBytes(d + "unknown.rlb", BandLibraryBytes("unknown", 1086));
    WriteBytes(d + "poly.csv", PolystyreneCsv());
    struct Case {
        std::vector<std::string> args;
        int status;
        std::function<void(const Outcome& text, const Json& json)> agree;
    } cases[] = {
        {{"info", d + "q.rsd", lib + "a.rlb", d + "e.csv"},
         0,
         [](const Outcome& text, const Json& json) {
             std::string expected;
             for (const Json& file : json["files"]) {
                 for (const auto& [key, value] : file.items()) {
                     std::string shown = value.is_string()  ? EscapeControlCharacters(value.get<std::string>())
                                         : value.is_array() ? AsText(value[0]) + " " + AsText(value[1])
                                                            : AsText(value);
                     expected += key + ": " + shown + "\n";
                 }
                 expected += "\n";
             }
             EXPECT_EQ(text.out, expected);
         }},
        {{"list", lib},
         0,
         [](const Outcome& text, const Json& json) {
             std::string expected;
             for (const Json& row : json["libraries"])
                 expected += EscapeControlCharacters(row["name"].get<std::string>()) + "\t" +
                             row["model"].get<std::string>() + "\t" + row["date"].get<std::string>() + "\n";
             EXPECT_EQ(text.out, expected);
             EXPECT_EQ(json["libraries"][0]["name"], "Cal\tcite\x1b");
             EXPECT_EQ(json["libraries"][2]["readable"], false);
         }},
        {{"identify", d + "unknown.rlb", "--library", lib, "--index", index},
         0,
         [&](const Outcome& text, const Json& json) {
             std::string expected;
             for (const Json& hit : json["hits"])
                 expected += hit["rank"].dump() + "\t" + TwoDecimals(hit["hqi"].get<double>()) + "\t" +
                             EscapeControlCharacters(hit["name"].get<std::string>()) + "\t" +
                             hit["file"].get<std::string>() + "\n";
             EXPECT_EQ(text.out, expected);
             EXPECT_EQ(json["hits"][0]["name"], evil);
             ASSERT_EQ(json["skipped"].size(), 1u);
             EXPECT_EQ(text.err.rfind(json["skipped"][0]["file"].get<std::string>() + ": " +
                                          json["skipped"][0]["reason"].get<std::string>() + "\n",
                                      0),
                       0u)
                 << text.err;
             EXPECT_EQ(json["verdict"]["verdict"], "Match");
             EXPECT_TRUE(text.err.ends_with(EscapeControlCharacters(json["verdict"]["text"].get<std::string>()) + "\n"))
                 << text.err;
         }},
        {{"baseline", d + "e.csv"},
         0,
         [](const Outcome& text, const Json& json) {
             std::string expected = "raman_shift_cm-1,corrected,baseline\n";
             EXPECT_EQ(json["columns"], Json::parse(R"(["raman_shift_cm-1","corrected","baseline"])"));
             for (const Json& point : json["points"])
                 expected += AsText(point[0]) + "," + AsText(point[1]) + "," + AsText(point[2]) + "\n";
             EXPECT_EQ(text.out, expected);
             EXPECT_EQ(json["points"].size(), 201u);
         }},
        {{"check-axis", d + "poly.csv"},
         0,
         [](const Outcome& text, const Json& json) {
             std::string expected;
             for (const Json& band : json["bands"]) {
                 auto shown = [](const Json& v) {
                     return v.is_null() ? std::string("-") : TwoDecimals(v.get<double>());
                 };
                 expected += TwoDecimals(band["reference"].get<double>()) + "\t" + shown(band["found"]) + "\t" +
                             shown(band["deviation"]) + "\n";
             }
             for (const char* key : {"offset", "rms", "largest"})
                 expected += std::string(key) + ": " + TwoDecimals(json[key].get<double>()) + "\n";
             expected += "result: " + json["result"].get<std::string>() + "\n";
             EXPECT_EQ(text.out, expected);
             EXPECT_EQ(json["result"], "pass");
             EXPECT_EQ(json["standard"], "Polystyrene");
         }},
    };
    for (const Case& c : cases) {
        Outcome text = Cli(c.args);
        std::vector<std::string> withJson = c.args;
        withJson.push_back("--json");
        Outcome json = Cli(withJson);
        EXPECT_EQ(text.status, c.status) << c.args[0] << "\n" << text.err;
        EXPECT_EQ(json.status, c.status) << c.args[0] << "\n" << json.err;
        ASSERT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), 1) << c.args[0] << ": one line, one document";
        c.agree(text, Json::parse(json.out));
    }
}

TEST(CliJson, NamesThatAreNotUtf8BecomeReplacementCharacters) {
    TempDir dir;
    WriteBytes(dir.path() + "l.rlb", PcLibraryBytes(HeaderBytes("Gr\xfcn", 179)));
    Json json = Json::parse(Cli({"info", dir.path() + "l.rlb", "--json"}).out);
    EXPECT_EQ(json["files"][0]["name"], "Gr\xef\xbf\xbdn");
}

Outcome CliWithInput(const std::vector<std::string>& args, const std::string& input) {
    std::istringstream in(input);
    std::ostringstream out, err;
    int status = RunCli(args, CliStreams{in, out, err, false, nullptr, {}});
    return {status, out.str(), err.str()};
}

// "-" reads standard input; its format is told by its content, as a file's
// is by its name.
TEST(CliInput, ADashReadsStandardInput) {
    TempDir dir;
    const std::string d = dir.path();
    const std::string jcamp = "##TITLE=t\n##XUNITS=1/CM\n##XYPOINTS=(XY..XY)\n100,1\n200,2\n##END=\n";
    const std::vector<std::pair<std::string, std::string>> files = {
        {"q.rsd", RawBytes({})},
        {"pc.rlb", PcLibraryBytes(HeaderBytes("Calcite", 179))},
        {"s.csv", "100,1.5\n200,2.5\n"},
        {"s.jdx", jcamp},
    };
    for (const auto& [name, bytes] : files) {
        WriteBytes(d + name, bytes);
        for (std::vector<std::string> args : {std::vector<std::string>{"export", ""}, {"baseline", ""}}) {
            Outcome fromFile = Cli({args[0], d + name});
            args[1] = "-";
            Outcome fromInput = CliWithInput(args, bytes);
            EXPECT_EQ(fromInput.status, fromFile.status) << name << " " << args[0] << "\n" << fromInput.err;
            EXPECT_EQ(fromInput.out, fromFile.out) << name << " " << args[0];
        }
    }
    Outcome info = CliWithInput({"info", "-"}, RawBytes({}));
    EXPECT_EQ(info.out.rfind("file: -\nformat: raw\nname: Quartz\n", 0), 0u) << info.out;
    Outcome record = CliWithInput({"to-device", "-", "-o", "-"}, PcLibraryBytes(HeaderBytes("Calcite", 179)));
    EXPECT_EQ(record.status, 0) << record.err;
    EXPECT_EQ(record.out.size(), 5120u);
    Outcome refused = CliWithInput({"info", "-"}, "\x01\x02");
    EXPECT_EQ(refused.status, kExitFailure);
    EXPECT_NE(refused.err.find("standard input: "), std::string::npos) << refused.err;
}

// The real program with a pseudo-terminal as standard output.
Outcome RunOnTerminal(const std::vector<std::string>& args, const std::string& errPath) {
    int terminal = -1;
    pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child == 0) {
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err < 0 || ::dup2(err, 2) < 0) ::_exit(126);
        ExecProgram(args);
    }
    std::string shown;
    char buffer[4096];
    for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;)
        shown.append(buffer, static_cast<std::size_t>(n));
    ::close(terminal);
    return Finished(child, shown, errPath);
}

TEST(CliOutput, BinaryDataIsNotWrittenToATerminal) {
    TempDir dir;
    const std::string d = dir.path();
    WriteBytes(d + "s.csv", "100,1.5\n200,2.5\n");
    WriteBytes(d + "pc.rlb", PcLibraryBytes(HeaderBytes("Calcite", 179)));
    for (const std::vector<std::string>& binary : std::vector<std::vector<std::string>>{
             {"export", d + "s.csv", "--format", "spc"}, {"to-device", d + "pc.rlb", "-o", "-"}}) {
        Outcome r = RunOnTerminal(binary, d + "err");
        EXPECT_EQ(r.status, kExitUsage) << binary[0];
        EXPECT_EQ(r.out, "") << binary[0];
        EXPECT_EQ(r.err, "Refusing to write binary data to a terminal; use -o FILE or a pipe.\n");
        // Through a pipe or into a file it is written.
        EXPECT_EQ(RunProgram(binary, d + "out", d + "err").status, 0) << binary[0];
        EXPECT_GT(std::filesystem::file_size(d + "out"), 500u);
    }
    Outcome text = RunOnTerminal({"export", d + "s.csv"}, d + "err");
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("200,2.5"), std::string::npos) << text.out;
}

// The script the package installs, made by the build from the parser's own
// definitions, completes commands, options and their values.
TEST(CliCompletion, TheBuiltScriptCompletesFromTheDefinitions) {
    EXPECT_EQ(ReadBytes(VELTRANE_CLI_COMPLETION), Cli({"completion", "bash"}).out);
    auto complete = [](const std::string& words) {
        std::string command = "bash -c 'source " + std::string(VELTRANE_CLI_COMPLETION) + " && COMP_WORDS=(" + words +
                              ") && COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && _veltrane_cli && echo ${COMPREPLY[*]}'";
        std::string result;
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            char buffer[1024];
            while (std::fgets(buffer, sizeof buffer, pipe))
                result += buffer;
            ::pclose(pipe);
        }
        return result;
    };
    EXPECT_EQ(complete("veltrane-cli che"), "check-axis\n");
    EXPECT_EQ(complete("veltrane-cli export x --format \"\""), "csv jcamp spc\n");
    EXPECT_EQ(complete("veltrane-cli identify x --j"), "--json\n");
    EXPECT_EQ(complete("veltrane-cli measure --sim-speed \"\""), "\n");
}

} // namespace
} // namespace veltrane

namespace veltrane {
namespace {

// A clipped capture of polystyrene searched against its own kind among ten
// others: every field of the page is in the PDF's text, and long notes are
// cut rather than spilling onto a second page.
TEST(CliReport, OnePageWithEveryFieldFromACaptureOfTheVirtualInstrument) {
    TempDir dir;
    const std::string raw = dir.path() + "poly.rsd", lib = dir.path() + "lib/", pdf = dir.path() + "r.pdf";
    ASSERT_EQ(Cli({"measure", "--simulator", "--sim-speed", "200", "--exposure", "500", "--seed", "1", "-o",
                   dir.path() + "ref.rsd"})
                  .status,
              0);
    ASSERT_EQ(Cli({"make-library", dir.path() + "ref.rsd", "Polystyrene", "--folder", lib}).status, 0);
    for (int i = 0; i < 10; ++i)
        WriteBytes(lib + "band" + std::to_string(i) + ".rlb", BandLibraryBytes("Band " + std::to_string(i), 500 + 150 * i));
    Outcome m = Cli({"measure", "--simulator", "--sim-speed", "200", "--exposure", "15000", "--seed", "2",
                     "--operator", "A. Smith", "-o", raw});
    ASSERT_EQ(m.status, 0) << m.err;

    std::string notes;
    while (notes.size() < 3000)
        notes += "Received in a cracked bottle; lot 4711. ";
    // The operator comes from the raw file's sidecar.
    Outcome r = Cli({"report", raw, "--library", lib, "--index", dir.path() + "i.sqlite", "--sample", "Bottle 7",
                     "--notes", notes, "-o", pdf});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(PdfPages(pdf), 1);
    const std::string text = PdfText(pdf);
    for (const char* field :
         {"Identification report", "Sample:", "Bottle 7", "Operator:", "A. Smith", "Notes:", "lot 4711", "\u2026",
          "Measured:", "Instrument:", "Laser wavelength:", "532.0 nm", "Integration time:", "15000 ms", "Averages:",
          "Smoothing:", "Raman axis check:", "not checked", "Result: Match", "Match: Polystyrene, HQI",
          "Best HQI", "ahead of Band", "Saturated:", "Raman shift", "Rank", "HQI", "Library",
          "Libraries searched:", "(11 entries)", "Veltrane V 1.3 beta", "report made"})
        EXPECT_NE(text.find(field), std::string::npos) << field << "\n" << text;
    // Ten hits listed, the eleventh not.
    auto rowStarting = [&](const std::string& rank) {
        return std::regex_search(text, std::regex("(^|\n) *" + rank + " +[0-9]+\\.[0-9]{2} "));
    };
    EXPECT_TRUE(rowStarting("1") && rowStarting("10")) << text;
    EXPECT_FALSE(rowStarting("11"));
    EXPECT_EQ(text.find(notes), std::string::npos);

    // Exit status as identify's; no PDF over the input or onto a terminal.
    Outcome none = Cli({"report", raw, "--library", dir.path(), "--index", dir.path() + "i.sqlite", "-o", pdf});
    EXPECT_EQ(none.status, 2) << none.err;
    EXPECT_EQ(Cli({"report", raw, "--library", lib, "-o", raw}).status, 1);
    EXPECT_EQ(Cli({"report", raw, "--library", lib}).status, kExitUsage);
}

// Qt's libraries are loaded only for a report, from the module beside the
// tool: linked into it, every command would wait for them at start. Without
// the module, a report is refused with the reason before any search and
// nothing is written, and the other commands do not notice.
TEST(CliReport, QtIsLoadedOnlyForAReport) {
    std::string needed;
    if (FILE* ldd = ::popen(("ldd '" + std::string(VELTRANE_CLI) + "'").c_str(), "r")) {
        char chunk[4096];
        while (size_t n = std::fread(chunk, 1, sizeof chunk, ldd))
            needed.append(chunk, n);
        ::pclose(ldd);
    }
    ASSERT_NE(needed.find("libc.so"), std::string::npos) << needed;
    EXPECT_EQ(needed.find("libQt6"), std::string::npos) << needed;

    TempDir dir;
    const std::string raw = dir.path() + "s.rsd", lib = dir.path() + "lib/", pdf = dir.path() + "r.pdf";
    ASSERT_EQ(Cli({"measure", "--simulator", "--sim-speed", "200", "--exposure", "500", "-o", raw}).status, 0);
    ASSERT_EQ(Cli({"make-library", raw, "Polystyrene", "--folder", lib}).status, 0);
    std::filesystem::create_directories(dir.path() + "bin");
    const std::string alone = dir.path() + "bin/veltrane-cli";
    std::filesystem::copy_file(VELTRANE_CLI, alone);
    const std::vector<std::string> search = {raw, "--library", lib, "--index", dir.path() + "i.sqlite"};
    std::vector<std::string> report = {"report"}, identify = {"identify"};
    report.insert(report.end(), search.begin(), search.end());
    report.insert(report.end(), {"-o", pdf});
    identify.insert(identify.end(), search.begin(), search.end());

    Outcome refused = RunProgram(report, dir.path() + "out", dir.path() + "err", RLIM_INFINITY, alone.c_str());
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err.rfind("The report could not be drawn: the report module could not be loaded", 0), 0u)
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(pdf));
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "i.sqlite"));
    EXPECT_EQ(RunProgram(identify, dir.path() + "out", dir.path() + "err", RLIM_INFINITY, alone.c_str()).status, 0);
}

} // namespace
} // namespace veltrane
