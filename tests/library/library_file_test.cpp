#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "library/library_file.h"
#include "platform/byte_order.h"
#include "support/temp_dir.h"

namespace veltrane {
namespace {

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

TEST(LibraryFile, PcLibraryLayoutByteByByte) {
    SpectrumHeader header;
    header.setName(std::string(64, 'Q'));
    header.setDateTime({2017, 3, 3, 9, 5, 7});
    header.setModelCode(180);
    std::vector<float> intensity(2500), axis(2500);
    for (int i = 0; i < 2500; ++i) {
        intensity[i] = 0.5f * i;
        axis[i] = 100.0f + i;
    }
    std::string file = EncodePcLibraryFile(header, intensity.data(), axis.data());
    ASSERT_EQ(file.size(), 20120u);
    const auto* b = reinterpret_cast<const std::uint8_t*>(file.data());
    EXPECT_EQ(b[63], 'Q');
    EXPECT_EQ(b[64], 0xE1); // 64 letters, then the year 2017 straight after
    EXPECT_EQ(b[65], 0x07);
    EXPECT_EQ(b[112], 180);
    // Intensity 3 = 1.5f = 0x3FC00000 at 120 + 12; X value 2499 = 2599.0f = 0x45227000 at 10120 + 9996.
    EXPECT_EQ(std::vector<int>(b + 132, b + 136), (std::vector<int>{0x00, 0x00, 0xC0, 0x3F}));
    EXPECT_EQ(std::vector<int>(b + 20116, b + 20120), (std::vector<int>{0x00, 0x70, 0x22, 0x45}));

    SpectrumHeader back;
    std::vector<float> i2(2500, -1), a2(2500, -1);
    ASSERT_EQ(DecodeLibraryCurve(file, LibraryView::Pc, back, i2.data(), a2.data()), CurveRead::Ok);
    EXPECT_EQ(back.name(), std::string(64, 'Q'));
    EXPECT_EQ(i2, intensity);
    EXPECT_EQ(a2, axis);
}

TEST(LibraryFile, DeviceRecordDropsTheTenths) {
    std::vector<std::uint8_t> record(5120, 0);
    std::memcpy(record.data(), "abc\0leftover", 12);
    PutU16(record.data() + 120, 30000);
    PutU16(record.data() + 2620, 4005);
    PutU16(record.data() + 2622, 9);
    PutU16(record.data() + 2620 + 2 * 1249, 12345);
    SpectrumHeader header;
    std::vector<float> intensity(2500, -1), axis(2500, -1);
    std::string_view bytes(reinterpret_cast<const char*>(record.data()), record.size());
    ASSERT_EQ(DecodeLibraryCurve(bytes, LibraryView::Device, header, intensity.data(), axis.data()), CurveRead::Ok);
    EXPECT_EQ(header.name(), "abc");
    EXPECT_EQ(intensity[0], 30000.0f);
    EXPECT_EQ(axis[0], 400.0f);
    EXPECT_EQ(axis[1], 0.0f);
    EXPECT_EQ(axis[1249], 1234.0f);
    EXPECT_EQ(axis[1250], -1.0f); // beyond the record's points: untouched
}

TEST(LibraryFile, ShortAndMissingFilesAreReportedNotRead) {
    test::TempDir dir;
    std::vector<std::uint8_t> tiny(60, 'x');
    WriteBytes(dir.path() + "tiny.rlb", tiny);
    WriteBytes(dir.path() + "header-only.rlb", std::vector<std::uint8_t>(120, 'h'));
    SpectrumHeader header;
    EXPECT_FALSE(ReadLibraryHeader(dir.path() + "tiny.rlb", header));
    EXPECT_FALSE(ReadLibraryHeader(dir.path() + "none.rlb", header));
    EXPECT_TRUE(ReadLibraryHeader(dir.path() + "header-only.rlb", header));
    std::vector<float> i(2500), a(2500);
    EXPECT_EQ(ReadLibraryCurve(dir.path() + "header-only.rlb", LibraryView::Pc, header, i.data(), a.data()),
              CurveRead::TooShort);
    EXPECT_EQ(ReadLibraryCurve(dir.path() + "none.rlb", LibraryView::Device, header, i.data(), a.data()),
              CurveRead::Unreadable);
}

TEST(LibraryFile, NamesModelsAndFolders) {
    EXPECT_EQ(LibraryModelName(0, BrandVariant::Korvel), "QX810A");
    EXPECT_EQ(LibraryModelName(179, BrandVariant::Brenmor), "TL100");
    EXPECT_EQ(LibraryModelName(180, BrandVariant::Brenmor), "TL200");
    EXPECT_EQ(LibraryModelName(7, BrandVariant::Korvel), "");
    EXPECT_EQ(LibraryFolderPath("/data/v", LibraryView::Device), "/data/v/device/");
    EXPECT_EQ(LibraryFilePath("/data/v/local/", ""), "/data/v/local/.rlb");
    for (const char* bad : {"a/b", ".", "..", "tab\there", "del\x7F"})
        EXPECT_FALSE(ValidLibraryName(bad)) << bad;
    for (const char* good : {"", "Polystyrene 2026", "ethanol-96%", "a.b", "Ünïcode", "Ethanol 1:1", "a\\b", "*", "x?y",
                             "q\"", "p|q", "<x>"})
        EXPECT_TRUE(ValidLibraryName(good)) << good;
}

TEST(LibraryFile, NamesShownAsUtf8OrElseWindows1252) {
    EXPECT_EQ(DisplayName("Ünïcode €"), "Ünïcode €");
    EXPECT_EQ(DisplayName("caf\xE9"), "caf\xC3\xA9");                       // é
    EXPECT_EQ(DisplayName("\x80\x81\x9F"), "\xE2\x82\xAC\xC2\x81\xC5\xB8"); // €, the unassigned 0x81, Ÿ
    EXPECT_EQ(DisplayName("\xC3"), "\xC3\x83");                             // UTF-8 cut short
    EXPECT_EQ(DisplayName("\xC0\xAF"), "\xC3\x80\xC2\xAF");                 // overlong '/'
    EXPECT_EQ(DisplayName("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC"); // a surrogate
}

} // namespace
} // namespace veltrane
