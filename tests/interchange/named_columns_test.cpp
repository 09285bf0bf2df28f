// Tables as other instruments' software and public databases write them.
// Every file here is made by hand from a description of its layout.
#include <gtest/gtest.h>

#include <cmath>

#include "interchange/interchange.h"
#include "interchange/jcamp.h"

namespace veltrane {
namespace {

using Floats = std::vector<float>;

// An acquisition program's export: facts as "key;value" with decimal
// commas, then a table whose Raman-shift cells are empty where the pixel has
// no calibration, and two acquisitions.
const char* kVendorExport =
    "File Version;Spec4.11_1\r\n"
    "Date;2021-10-27 15:57:47\r\n"
    "model;XYZ-785\r\n"
    "intigration times(ms);3200\r\n"
    "laser_wavelength;784,82\r\n"
    "Pixel;Wavelength;Wavenumber;Raman Shift;Dark;Raw data #1;Dark Subtracted #1;Dark Subtracted #2;\r\n"
    "0;   ;   ;   ;1137,0000;1125,0000;-12,0000;1,0\r\n"
    "1;815,78;12258,27;483,51;1125,0000;1781,0000;656,0000;2,0\r\n"
    "2;815,92;12256,04;485,73;1092,0000;1837,0000;745,0000;3,0\r\n"
    "3;816,07;12253,82;487,96;1072,0000;1792,0000;;4,0\r\n"
    "4;816,21;12251,60;490,18;1072,0000;1792,0000;720,0000;5,0\r\n";

TEST(NamedColumns, ColumnsAreChosenByTheirNames) {
    struct Case {
        const char* name;
        std::string text;
        ColumnChoice columns;
        double laser;
        Floats x, y;
        bool unclear;
        bool notice;
    };
    const Case cases[] = {
        {"vendor export", kVendorExport, {}, 0, {483.51f, 485.73f, 490.18f}, {656, 745, 720}, true, true},
        {"metadata then CSV header",
         "App, Metadata\nname,PST_532\nwl,532nm\nintegration time (s),1.5\n"
         "Pixels,Wavelength,Wavenumbers,Raman_Shift,Raw_Data,Background_Data,Processed_Data\n"
         "0,546.6,18294.9,500,1011,1016,-5\n1,546.9,18285.0,510,1030,1016,14\n",
         {}, 0, {500, 510}, {-5, 14}, false, false},
        {"wavenumber column of shifts", "WN;PS V1;PS V2\n100;1;9\n200;2;8\n", {}, 0, {100, 200}, {1, 2}, true, true},
        {"wavelength only, laser in the header", "# laser wavelength: 785\nwavelength (nm)\tcounts\n800\t1\n810\t2\n",
         {}, 0, {238.85f, 393.17f}, {1, 2}, false, false},
        {"absolute wavenumbers, laser given", "wavenumber,intensity\n12500,1\n12000,2\n", {}, 785,
         {238.85f, 738.85f}, {1, 2}, false, false},
        {"chosen by name and number", kVendorExport, {"raman shift", "8"}, 0,
         {483.51f, 485.73f, 487.96f, 490.18f}, {2, 3, 4, 5}, false, false},
        {"headerless three columns", "100 1 5\n200 2 6\n", {}, 0, {100, 200}, {1, 2}, true, true},
    };
    for (const Case& c : cases) {
        InterchangeSpectrum s;
        ReadOutcome outcome = ReadInterchangeSpectrum(c.text, InterchangeFormat::Csv, c.laser, s, c.columns);
        ASSERT_TRUE(outcome.ok) << c.name << ": " << outcome.message;
        ASSERT_EQ(s.x.size(), c.x.size()) << c.name;
        for (std::size_t i = 0; i < c.x.size(); ++i) {
            EXPECT_NEAR(s.x[i], c.x[i], 0.05) << c.name << " x" << i;
            EXPECT_EQ(s.y[i], c.y[i]) << c.name << " y" << i;
        }
        EXPECT_EQ(outcome.columnsUnclear, c.unclear) << c.name;
        EXPECT_EQ(outcome.notice.empty(), !c.notice) << c.name << ": " << outcome.notice;
    }
}

TEST(NamedColumns, HeaderFactsAreKept) {
    InterchangeSpectrum s;
    ASSERT_TRUE(ReadInterchangeSpectrum(kVendorExport, InterchangeFormat::Csv, 0, s).ok);
    EXPECT_DOUBLE_EQ(s.laserNm, 784.82);
    EXPECT_DOUBLE_EQ(s.integrationMs, 3200);
    EXPECT_EQ(s.date, "2021-10-27 15:57:47");
    EXPECT_EQ(s.instrument, "XYZ-785");
    // The row of column names is not a fact.
    for (const auto& [key, value] : s.fields)
        EXPECT_NE(key, "Pixel");

    // A public database's file: "##KEY=value" lines with entities, "x, y"
    // lines, an end mark, mixed line ends.
    const std::string database = "##NAMES=Gypsum\r\n##RRUFFID=R040029\n##IDEAL CHEMISTRY=Ca(SO_4_)&#183;2H_2_O &amp; "
                                 "more\r\n123.5, 0.0000000E+00\n124.0, 0.66626\r\n124.5, 5.38\n##END=\n\n\n";
    ASSERT_TRUE(ReadInterchangeSpectrum(database, InterchangeFormat::Csv, 0, s).ok);
    EXPECT_EQ(s.title, "Gypsum");
    EXPECT_EQ(s.x, (Floats{123.5f, 124.0f, 124.5f}));
    ASSERT_GE(s.fields.size(), 3u);
    EXPECT_EQ(s.fields[2].second, "Ca(SO_4_)\u00B72H_2_O & more");

    // The same text as UTF-16 with its byte-order mark, both byte orders.
    for (bool little : {true, false}) {
        std::string utf16 = little ? "\xFF\xFE" : "\xFE\xFF";
        for (char c : std::string("##NAMES=G\n100,1\n200,2\n")) {
            utf16 += little ? c : '\0';
            utf16 += little ? '\0' : c;
        }
        InterchangeSpectrum wide;
        ReadOutcome outcome = ReadInterchangeSpectrum(utf16, InterchangeFormat::Csv, 0, wide);
        ASSERT_TRUE(outcome.ok) << outcome.message;
        EXPECT_EQ(wide.title, "G");
        EXPECT_EQ(wide.y, (Floats{1, 2}));
    }
}

TEST(NamedColumns, WhatCannotBeReadIsSaid) {
    struct Case {
        const char* text;
        ColumnChoice columns;
        const char* message;
    };
    const Case cases[] = {
        {"wavelength;counts\n800;1\n810;2\n", {}, "X is in wavelengths: a laser wavelength is needed."},
        {kVendorExport, {"Raman Shift", "Dark Subtracted #3"}, "No column \"Dark Subtracted #3\" in the file."},
        {kVendorExport, {"9", ""}, "No column \"9\" in the file."},
        {"Pixel;Dark;Reference\n1;2;3\n2;3;4\n", {}, "No column of Raman shifts or wavelengths found."},
        {"Raman shift;Dark\n1;2\n2;3\n", {}, "No column of intensities found."},
        {"shift;intensity;raw\n100;1;2\nend of data\n", {}, "Line 3 is not a row of numbers."},
    };
    for (const Case& c : cases) {
        InterchangeSpectrum s;
        ReadOutcome outcome = ReadInterchangeSpectrum(c.text, InterchangeFormat::Csv, 0, s, c.columns);
        EXPECT_FALSE(outcome.ok) << c.text;
        EXPECT_EQ(outcome.message, c.message);
    }
}

// A compressed file whose DELTAX is printed to more places than LASTX: the
// step from FIRSTX, LASTX and NPOINTS differs from it by 1.5e-7, well within
// what LASTX's three decimals can say.
TEST(NamedColumns, DifDupWithPrintedEndsReadsLikeItsFixedTwin) {
    const std::size_t n = 1844;
    InterchangeSpectrum even;
    for (std::size_t i = 0; i < n; ++i) {
        even.x.push_back(static_cast<float>(EvenX(447.484259, 4002.284, n, i)));
        even.y.push_back(static_cast<float>(1000.0 + 500.0 * std::sin(0.01 * static_cast<double>(i))));
    }
    auto withLabel = [](std::string text, const std::string& label, const std::string& value) {
        std::size_t at = text.find("##" + label + "=");
        std::size_t end = text.find('\n', at);
        return text.replace(at, end - at, "##" + label + "=" + value);
    };
    std::string difdup = WriteJcampSpectrum(even, JcampForm::DifDup);
    difdup = withLabel(withLabel(withLabel(difdup, "FIRSTX", "447.484259"), "LASTX", "4002.284"), "DELTAX",
                       "1.92881143");
    InterchangeSpectrum compressed, fixed;
    ReadOutcome outcome = ReadInterchangeSpectrum(difdup, InterchangeFormat::Jcamp, 0, compressed);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    ASSERT_TRUE(ReadInterchangeSpectrum(WriteJcampSpectrum(even, JcampForm::Affn), InterchangeFormat::Jcamp, 0, fixed).ok);
    ASSERT_EQ(compressed.x.size(), fixed.x.size());
    for (std::size_t i = 0; i < n; ++i) {
        EXPECT_NEAR(compressed.x[i], fixed.x[i], 1e-3) << i;
        EXPECT_NEAR(compressed.y[i], fixed.y[i], 1e-3 * std::fabs(fixed.y[i])) << i;
    }
}

} // namespace
} // namespace veltrane
