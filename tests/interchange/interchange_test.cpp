#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "interchange/delimited_text.h"
#include "interchange/interchange.h"
#include "interchange/jcamp.h"
#include "interchange/measurement_facts.h"
#include "interchange/spc_file.h"

namespace veltrane {
namespace {

using Floats = std::vector<float>;

InterchangeSpectrum Titled(Floats x, Floats y, std::string title) {
    InterchangeSpectrum s;
    s.x = std::move(x);
    s.y = std::move(y);
    s.title = std::move(title);
    return s;
}

void ExpectPoints(const InterchangeSpectrum& s, const Floats& x, const Floats& y, const std::string& what) {
    ASSERT_EQ(s.x.size(), x.size()) << what;
    ASSERT_EQ(s.y.size(), y.size()) << what;
    for (std::size_t i = 0; i < x.size(); ++i) {
        EXPECT_NEAR(s.x[i], x[i], 1e-4 * std::max(1.0f, std::fabs(x[i]))) << what << " x" << i;
        EXPECT_NEAR(s.y[i], y[i], 1e-5 * std::max(1.0f, std::fabs(y[i]))) << what << " y" << i;
    }
}

// ---- delimited text -------------------------------------------------------------

TEST(DelimitedText, SeparatorsDecimalCommaHeadingsAndOrder) {
    struct Case {
        const char* name;
        const char* text;
    };
    // Every file holds the points (100, 1.5), (200, 2.5), (300, -3).
    const Case cases[] = {
        {"comma", "Raman shift,Intensity\n100,1.5\n200,2.5\n300,-3\n"},
        {"semicolon, decimal comma", "x;y\r\n100;1,5\r\n200;2,5\r\n300;-3\r\n"},
        {"tab, decimal comma, descending", "# exported\n300\t-3\n200\t2,5\n100\t1,5\n"},
        {"spaces, comments between", "  100   1.5\n% note\n200 2.5\n\n  300 -3e0\n"},
        {"quoted, trailing separator, BOM", "\xEF\xBB\xBF\"x\",\"y\"\n\"100\",\"1.5\",\n200,2.5,\n300,-3,\n"},
        {"plus signs, CR lines", "+100,+1.5\r+200,2.5\r300,-3\r"},
    };
    for (const Case& c : cases) {
        InterchangeSpectrum s;
        ReadOutcome outcome = ReadDelimitedSpectrum(c.text, s);
        ASSERT_TRUE(outcome.ok) << c.name << ": " << outcome.message;
        ExpectPoints(s, {100, 200, 300}, {1.5f, 2.5f, -3}, c.name);
    }
}

TEST(DelimitedText, RefusesWhatIsNotTwoColumnsAndLeavesTheSpectrum) {
    const char* refused[] = {
        "x,y\n",                      // no points
        "100,1\n200,2\nabc\n300,3\n", // text after the data began
        "100,1\n300,2\n200,3\n",      // X not monotonic
        "100,1\n200,2,6\n",           // a third column in a two-column table
        "100,1\n200,nan\n",           // not a number
        "100,1\n100,2\n",             // X does not change
        "100;1.234,5\n200;2\n",       // both decimal marks
    };
    for (const char* text : refused) {
        InterchangeSpectrum s;
        s.x = {7};
        ReadOutcome outcome = ReadDelimitedSpectrum(text, s);
        EXPECT_FALSE(outcome.ok) << text;
        EXPECT_FALSE(outcome.message.empty()) << text;
        EXPECT_EQ(s.x, Floats{7}) << text;
    }
    InterchangeSpectrum s;
    EXPECT_EQ(ReadDelimitedSpectrum("100,1\n", s).message, "No two columns of numbers found.");
}

// ---- JCAMP-DX ---------------------------------------------------------------------

std::string JcampFile(const std::string& labels, const std::string& data) {
    return "##TITLE=hand made\n##JCAMP-DX=4.24\n##DATA TYPE=RAMAN SPECTRUM\n##XUNITS=1/CM\n##YUNITS=COUNTS\n" + labels +
           "##XYDATA=(X++(Y..Y))\n" + data + "##END=\n";
}

// Eight points at X 100..107; integer Y 10 12 15 15 15 11 -3 0, times a
// YFACTOR of 0.5.
const std::string kLabels = "##FIRSTX=100\n##LASTX=107\n##DELTAX=1\n##NPOINTS=8\n##XFACTOR=1\n##YFACTOR=0.5\n";
const Floats kX = {100, 101, 102, 103, 104, 105, 106, 107};
const Floats kY = {5, 6, 7.5f, 7.5f, 7.5f, 5.5f, -1.5f, 0};

TEST(Jcamp, EveryAsdfFormGivesTheSameSpectrum) {
    struct Case {
        const char* name;
        std::string labels;
        std::string data;
    };
    const Case cases[] = {
        {"AFFN", kLabels, "100 10 12 15 15\n104 15, 11, -3, 0\n"},
        {"PAC", kLabels, "100+10+12+15+15\n104+15+11-3+0\n"},
        {"SQZ", kLabels, "100A0A2A5A5\n104A5A1c@\n"},
        // DIF: 10 +2 +3 0 0 | check 15, -4 -14 +3 | check 0.
        {"DIF", kLabels, "100A0KL%%\n104A5mj4L\n107@\n"},
        {"DIFDUP", kLabels, "100A0KL%T\n104A5mj4L\n107@  $$ checks the last value\n"},
        {"DIFDUP one line", kLabels, "100 A0KL%Tmj4L\n107@\n"},
        // X on the lines in units of XFACTOR 0.1.
        {"XFACTOR", "##FIRSTX=100\n##LASTX=107\n##NPOINTS=8\n##XFACTOR=0.1\n##YFACTOR=0.5\n##FIRSTY=5\n",
         "1000A0KL%T\n1040A5mj4L\n1070@\n"},
    };
    for (const Case& c : cases) {
        InterchangeSpectrum s;
        ReadOutcome outcome = ReadJcampSpectrum(JcampFile(c.labels, c.data), 0, s);
        ASSERT_TRUE(outcome.ok) << c.name << ": " << outcome.message;
        EXPECT_EQ(s.title, "hand made");
        ExpectPoints(s, kX, kY, c.name);
    }
}

// DUP repeats what came last: after a difference the difference, so a
// straight line is one value, one difference and a count. A count that ends
// exactly at NPOINTS completes the data.
TEST(Jcamp, DupRepeatsTheLastDifferenceAndMayFillNpoints) {
    const std::string four = "##FIRSTX=1\n##LASTX=4\n##NPOINTS=4\n";
    struct Case {
        const char* name;
        std::string data;
        Floats y;
    };
    const Case cases[] = {
        {"rising", "1 A0JU\n", {10, 11, 12, 13}},
        {"falling, Y-check", "1 A0jU\n4 G\n", {10, 9, 8, 7}},
        {"value repeated", "1 A0V\n", {10, 10, 10, 10}},
        {"over two lines", "1 A0JT\n3 A2L\n", {10, 11, 12, 15}},
    };
    for (const Case& c : cases) {
        InterchangeSpectrum s;
        ReadOutcome outcome = ReadJcampSpectrum(JcampFile(four, c.data), 0, s);
        ASSERT_TRUE(outcome.ok) << c.name << ": " << outcome.message;
        ExpectPoints(s, {1, 2, 3, 4}, c.y, c.name);
    }
}

TEST(Jcamp, MismatchesAndDamageAreRefused) {
    struct Case {
        const char* name; // and a word the message must hold
        std::string file;
    };
    const Case cases[] = {
        {"Y-check failed", JcampFile(kLabels, "100A0KL%T\n104A4mj4L\n107@\n")},
        {"Y-check value is missing", JcampFile(kLabels, "100A0KL%T\n104mj4L\n107@\n")},
        {"NPOINTS",
         JcampFile("##FIRSTX=100\n##LASTX=108\n##NPOINTS=9\n##YFACTOR=0.5\n", "100 10 12 15 15\n104 15 11 -3 0\n")},
        {"DELTAX",
         JcampFile("##FIRSTX=100\n##LASTX=107\n##DELTAX=2\n##NPOINTS=8\n", "100 10 12 15 15\n104 15 11 -3 0\n")},
        {"DELTAX", JcampFile("##FIRSTX=100\n##LASTX=101\n##DELTAX=2\n##NPOINTS=2\n", "100 10 12\n")},
        {"X does not agree", JcampFile(kLabels, "100 10 12 15 15\n105 15 11 -3 0\n")},
        {"FIRSTY", JcampFile(kLabels + "##FIRSTY=6\n", "100 10 12 15 15\n104 15 11 -3 0\n")},
        {"FIRSTX", JcampFile("##LASTX=107\n##NPOINTS=8\n", "100 10 12 15 15\n104 15 11 -3 0\n")},
        {"missing values", JcampFile(kLabels, "100 10 12 ? 15\n104 15 11 -3 0\n")},
        {"DUP", JcampFile(kLabels, "100 T\n")},
        {"NPOINTS", JcampFile(kLabels, "100 A0s99999999\n")},
        {"NPOINTS", JcampFile("##FIRSTX=1\n##LASTX=4\n##NPOINTS=4\n", "1 A0JV\n")}, // one beyond
        {"XUNITS", "##TITLE=t\n##XUNITS=HZ\n##XYPOINTS=(XY..XY)\n1,2\n##END=\n"},
        {"END", "##TITLE=t\n##XUNITS=1/CM\n##XYPOINTS=(XY..XY)\n1,2\n"},
        {"inside a point", "##TITLE=t\n##XUNITS=1/CM\n##XYPOINTS=(XY..XY)\n1,2,3\n##END=\n"},
        {"NPOINTS", "##TITLE=t\n##XUNITS=1/CM\n##NPOINTS=1\n##XYPOINTS=(XY..XY)\n1,2\n3,4\n##END=\n"},
        {"Not a JCAMP", "100,1\n200,2\n"},
    };
    for (const Case& c : cases) {
        InterchangeSpectrum s;
        s.x = {7};
        ReadOutcome outcome = ReadJcampSpectrum(c.file, 0, s);
        EXPECT_FALSE(outcome.ok) << c.name;
        EXPECT_NE(outcome.message.find(c.name), std::string::npos) << c.name << ": " << outcome.message;
        EXPECT_EQ(s.x, Floats{7}) << c.name;
    }
}

TEST(Jcamp, PointTablesUnitsAndCompoundFiles) {
    InterchangeSpectrum s;
    // Pairs in any order and either separator; YFACTOR applied.
    ReadOutcome outcome = ReadJcampSpectrum(
        "##TITLE=pairs\n##XUNITS=1/CM\n##YFACTOR=2\n##NPOINTS=3\n##XYPOINTS=(XY..XY)\n300, 1; 200, 2\n100,3\n##END=\n",
        0, s);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    ExpectPoints(s, {100, 200, 300}, {6, 4, 2}, "XYPOINTS");

    outcome =
        ReadJcampSpectrum("##TITLE=peaks\n##XUNITS=1/CM\n##PEAK TABLE=(XYW..XYW)\n500,10,1 600,20,2\n##END=\n", 0, s);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    ExpectPoints(s, {500, 600}, {10, 20}, "PEAK TABLE");
    // XFACTOR scales the X of pairs as it scales those of ##XYDATA.
    outcome = ReadJcampSpectrum(
        "##TITLE=factors\n##XUNITS=1/CM\n##XFACTOR=10\n##YFACTOR=0.5\n##XYPOINTS=(XY..XY)\n10,1\n20,4\n##END=\n", 0, s);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    ExpectPoints(s, {100, 200}, {0.5f, 2}, "XFACTOR");

    // Wavelengths need the laser line: 1e7/500 - 1e7/510 and 1e7/500 - 1e7/520.
    const std::string nm = "##TITLE=nm\n##XUNITS=NANOMETERS\n##XYPOINTS=(XY..XY)\n510,1\n520,2\n##END=\n";
    outcome = ReadJcampSpectrum(nm, 0, s);
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.needsLaser);
    outcome = ReadJcampSpectrum(nm, 500, s);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    ExpectPoints(s, {392.156863f, 769.230769f}, {1, 2}, "nm");
    outcome =
        ReadJcampSpectrum("##TITLE=um\n##XUNITS=MICROMETERS\n##XYPOINTS=(XY..XY)\n0.51,1\n0.52,2\n##END=\n", 500, s);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    ExpectPoints(s, {392.156863f, 769.230769f}, {1, 2}, "micrometres");

    outcome = ReadJcampSpectrum("##TITLE=set\n##JCAMP-DX=5.01\n##BLOCKS=3\n"
                                "##TITLE=link only\n##END=\n"
                                "##TITLE=first\n##XUNITS=1/CM\n##XYPOINTS=(XY..XY)\n1,2\n3,4\n##END=\n"
                                "##TITLE=second\n##XUNITS=1/CM\n##XYPOINTS=(XY..XY)\n5,6\n##END=\n##END=\n",
                                0, s);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    EXPECT_EQ(s.title, "first");
    ExpectPoints(s, {1, 3}, {2, 4}, "compound");
    EXPECT_NE(outcome.notice.find("first spectrum"), std::string::npos) << outcome.notice;
}

TEST(Jcamp, DifDupWrittenWithYChecks) {
    InterchangeSpectrum s = Titled(kX, kY, "hand made");
    // Y 7.5 at most: YFACTOR 1e-6, integers of seven digits; X 107 at most:
    // XFACTOR 1e-4.
    EXPECT_EQ(WriteJcampSpectrum(s, JcampForm::DifDup),
              "##TITLE=hand made\n##JCAMP-DX=5.01\n##DATA TYPE=RAMAN SPECTRUM\n##ORIGIN=Veltrane\n##OWNER=\n"
              "##XUNITS=1/CM\n##YUNITS=ARBITRARY UNITS\n##XFACTOR=1e-4\n##YFACTOR=1e-6\n##FIRSTX=100\n"
              "##LASTX=107\n##DELTAX=1\n##FIRSTY=5\n##NPOINTS=8\n##XYDATA=(X++(Y..Y))\n"
              "1000000 E000000J000000J500000%Tk000000p000000J500000\n"
              "1070000 @\n##END=\n");
    // A Y that is not a number has no compressed form: the point is left out.
    InterchangeSpectrum gap = Titled({100, 101, 102}, {1, NAN, 3}, "gap");
    InterchangeSpectrum back;
    ReadOutcome outcome = ReadJcampSpectrum(WriteJcampSpectrum(gap, JcampForm::DifDup), 0, back);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    ExpectPoints(back, {100, 102}, {1, 3}, "gap");
}

// Seven- and eight-digit differences in both directions, with runs of equal
// ones between, make the longest tokens there are. A line must still end
// within the 80 characters JCAMP-DX allows, and every value read back.
TEST(Jcamp, DifDupLinesStayWithinEightyCharacters) {
    InterchangeSpectrum s = Titled({}, {}, "long lines");
    std::uint32_t seed = 12345;
    float ramp = 0;
    for (int i = 0; i < 400; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const bool inRamp = i % 40 >= 30;
        ramp = inRamp ? ramp + 1234567.0f : -6000000.0f;
        s.x.push_back(static_cast<float>(1000 + i));
        s.y.push_back(inRamp ? ramp : static_cast<float>(static_cast<std::int32_t>(seed % 19999999u) - 9999999));
    }
    const std::string text = WriteJcampSpectrum(s, JcampForm::DifDup);
    std::size_t lines = 0;
    for (std::size_t at = 0; at < text.size(); ++lines) {
        std::size_t end = text.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        EXPECT_LE(end - at, 80u) << text.substr(at, end - at);
        at = end + 1;
    }
    EXPECT_GT(lines, 50u);
    InterchangeSpectrum back;
    ReadOutcome outcome = ReadJcampSpectrum(text, 0, back);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    EXPECT_EQ(back.y, s.y); // whole numbers below 2^24: exact in float32 and with YFACTOR 1
}

// ---- SPC ------------------------------------------------------------------------------

struct SpcBytes {
    std::string bytes = std::string(512, '\0');
    void put(std::size_t at, const void* value, std::size_t size) {
        if (bytes.size() < at + size) bytes.resize(at + size, '\0');
        std::memcpy(bytes.data() + at, value, size); // this machine is little-endian, as the layout
    }
    void u8(std::size_t at, std::uint8_t v) { put(at, &v, 1); }
    void u32(std::size_t at, std::uint32_t v) { put(at, &v, 4); }
    void f64(std::size_t at, double v) { put(at, &v, 8); }
    void f32(std::size_t at, float v) { put(at, &v, 4); }
    void i16(std::size_t at, std::int16_t v) { put(at, &v, 2); }
    void i32(std::size_t at, std::int32_t v) { put(at, &v, 4); }
};

// Flags, version 0x4B, exponent, three points from 100 to 300, one
// subfile, X in Raman shift.
SpcBytes SpcHeader(std::uint8_t flags, std::uint8_t exponent) {
    SpcBytes f;
    f.u8(0, flags);
    f.u8(1, 0x4B);
    f.u8(3, exponent);
    f.u32(4, 3);
    f.f64(8, 100.0);
    f.f64(16, 300.0);
    f.u32(24, 1);
    f.u8(28, 13);
    std::memcpy(f.bytes.data() + 88, "spc test", 8);
    return f;
}

TEST(Spc, EvenAndXArrayWithFloatAndScaledIntegers) {
    // Even, float: the subfile header at 512, Y at 544.
    SpcBytes even = SpcHeader(0x00, 0x80);
    even.f32(544, 1.5f), even.f32(548, 2.5f), even.f32(552, -4.0f);
    // X array (TXVALS) at 512 in file order 300, 100, 200; subfile at 524.
    SpcBytes xArray = SpcHeader(0x80, 0x80);
    xArray.f32(512, 300), xArray.f32(516, 100), xArray.f32(520, 200);
    xArray.f32(556, -4.0f), xArray.f32(560, 1.5f), xArray.f32(564, 2.5f);
    // 32-bit integers, exponent 4: y = n * 2^(4-32) = n / 2^28.
    SpcBytes int32 = SpcHeader(0x00, 4);
    int32.i32(544, 3 << 27), int32.i32(548, 5 << 27), int32.i32(552, -(1 << 28));
    // 16-bit integers (TSPREC), exponent 3: y = n * 2^(3-16) = n / 8192.
    SpcBytes int16 = SpcHeader(0x01, 3);
    int16.i16(544, 12288), int16.i16(546, 20480), int16.i16(548, -32768);
    // Multi-file: the first subfile carries its own exponent.
    SpcBytes multi = SpcHeader(0x04, 0);
    multi.u32(24, 2);
    multi.u8(513, 0x80);
    multi.f32(544, 1.5f), multi.f32(548, 2.5f), multi.f32(552, -4.0f);
    multi.u8(557, 0x80);
    multi.f32(588, 9), multi.f32(592, 9), multi.f32(596, 9);
    // Each subfile its own X (TXYXYS): subfile header at 512 with the count,
    // X 300, 100, 200 at 544, Y after them at 556.
    SpcBytes wavenumbers = even;
    wavenumbers.u8(28, 1);
    SpcBytes ownX = SpcHeader(0xC4, 0);
    ownX.u8(513, 0x80);
    ownX.u32(528, 3);
    ownX.f32(544, 300), ownX.f32(548, 100), ownX.f32(552, 200);
    ownX.f32(556, -4.0f), ownX.f32(560, 1.5f), ownX.f32(564, 2.5f);

    struct Case {
        const char* name;
        const SpcBytes& file;
        Floats y;
    };
    const Case cases[] = {
        {"even float", even, {1.5f, 2.5f, -4}},
        {"X array", xArray, {1.5f, 2.5f, -4}},
        {"32-bit", int32, {1.5f, 2.5f, -1}},
        {"16-bit", int16, {1.5f, 2.5f, -4}},
        {"multi", multi, {1.5f, 2.5f, -4}},
        {"own X", ownX, {1.5f, 2.5f, -4}},
        {"wavenumbers", wavenumbers, {1.5f, 2.5f, -4}},
    };
    for (const Case& c : cases) {
        InterchangeSpectrum s;
        ReadOutcome outcome = ReadSpcSpectrum(c.file.bytes, 0, s);
        ASSERT_TRUE(outcome.ok) << c.name << ": " << outcome.message;
        ExpectPoints(s, {100, 200, 300}, c.y, c.name);
        EXPECT_EQ(s.title, "spc test");
        EXPECT_EQ(outcome.notice.empty(), &c.file != &multi) << c.name;
    }
    // X in micrometres needs the laser line: 1e7/500 - 1e7/510 and so on.
    SpcBytes um = even;
    um.u8(28, 2);
    um.f64(8, 0.51);
    um.f64(16, 0.53);
    InterchangeSpectrum s;
    EXPECT_TRUE(ReadSpcSpectrum(um.bytes, 0, s).needsLaser);
    ASSERT_TRUE(ReadSpcSpectrum(um.bytes, 500, s).ok);
    ExpectPoints(s, {392.156863f, 769.230769f, 1132.075472f}, {1.5f, 2.5f, -4}, "micrometres");
}

TEST(Spc, RefusesOtherFormsAndDamage) {
    SpcBytes old = SpcHeader(0, 0x80);
    old.u8(1, 0x4D);
    SpcBytes big = SpcHeader(0, 0x80);
    big.u8(1, 0x4C);
    SpcBytes truncated = SpcHeader(0, 0x80);
    truncated.f32(544, 1.0f);
    SpcBytes hertz = SpcHeader(0, 0x80);
    hertz.u8(28, 6);
    hertz.f32(552, 1.0f);
    SpcBytes huge = SpcHeader(0x80, 0x80);
    huge.u32(4, 0xFFFFFFFFu);
    for (const SpcBytes* f : {&old, &big, &truncated, &hertz, &huge}) {
        InterchangeSpectrum s;
        ReadOutcome outcome = ReadSpcSpectrum(f->bytes, 0, s);
        EXPECT_FALSE(outcome.ok);
        EXPECT_FALSE(outcome.message.empty());
        EXPECT_TRUE(s.x.empty());
    }
    InterchangeSpectrum s;
    EXPECT_NE(ReadSpcSpectrum(old.bytes, 0, s).message.find("Old-format"), std::string::npos);
    EXPECT_NE(ReadSpcSpectrum(big.bytes, 0, s).message.find("Big-endian"), std::string::npos);
}

// ---- writers read back --------------------------------------------------------------

TEST(Interchange, WrittenFilesReadBack) {
    // Uneven X as an instrument gives it, and an evenly spaced one.
    InterchangeSpectrum uneven = Titled({}, {}, "round trip");
    InterchangeSpectrum even = Titled({}, {}, "round trip");
    for (int i = 0; i < 300; ++i) {
        float x = 150.0f + 3.1f * i + 0.0004f * i * i;
        uneven.x.push_back(x);
        uneven.y.push_back(1000.0f * std::sin(0.05f * i) + 0.001f * i);
        even.x.push_back(static_cast<float>(EvenX(200.0, 3100.0, 300, i)));
        even.y.push_back(uneven.y.back());
    }
    for (const InterchangeSpectrum* original : {&uneven, &even}) {
        InterchangeSpectrum back;
        ASSERT_TRUE(ReadSpcSpectrum(WriteSpcSpectrum(*original), 0, back).ok);
        EXPECT_EQ(back.x, original->x); // float32-exact
        EXPECT_EQ(back.y, original->y);
        EXPECT_EQ(back.title, "round trip");

        ASSERT_TRUE(ReadDelimitedSpectrum(WriteCsvSpectrum(*original), back).ok);
        EXPECT_EQ(back.x, original->x);
        EXPECT_EQ(back.y, original->y);

        ASSERT_TRUE(ReadJcampSpectrum(WriteJcampSpectrum(*original, JcampForm::Affn), 0, back).ok);
        EXPECT_EQ(back.x, original->x);
        EXPECT_EQ(back.y, original->y);
    }
    // DIFDUP keeps evenly spaced X and Y within its seven-digit integers.
    InterchangeSpectrum back;
    ReadOutcome outcome = ReadJcampSpectrum(WriteJcampSpectrum(even, JcampForm::DifDup), 0, back);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    EXPECT_EQ(back.x, even.x);
    for (std::size_t i = 0; i < even.y.size(); ++i)
        EXPECT_NEAR(back.y[i], even.y[i], 1e-3) << i;
    // Uneven X is put onto an even grid over the same range first.
    outcome = ReadJcampSpectrum(WriteJcampSpectrum(uneven, JcampForm::DifDup), 0, back);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    ASSERT_EQ(back.x.size(), uneven.x.size());
    EXPECT_FLOAT_EQ(back.x.front(), uneven.x.front());
    EXPECT_FLOAT_EQ(back.x.back(), uneven.x.back());
    EXPECT_TRUE(EvenlySpaced(back.x, 1e-3));
}

// Each format writes the sample information and the facts of the
// measurement where it has room for them, as text another program shows and
// ours reads back unchanged: notes of several lines, an ampersand, a JCAMP-DX
// comment mark and text that is not ASCII.
TEST(Interchange, SampleInformationTravelsWithEachFormat) {
    InterchangeSpectrum facts = Titled({100, 200, 300}, {1, 2, 4}, "Aspirin Charge 7 (Zoë)");
    facts.operatorName = "Renée O'Brien";
    facts.notes = "first line\nsecond & third $$ no comment\n  indented, 石英";
    facts.laserNm = 784.82f;
    facts.integrationMs = 3000;
    facts.averages = 4;
    facts.date = "2026/12/09 23:15:48 +0100";
    facts.instrument = "TL100";
    facts.serial = "12345";
    const std::string notesLine = "first line&#10;second &#38; third &#36;$ no comment&#10;  indented, 石英";
    struct Case {
        const char* name;
        InterchangeFormat format;
        std::string bytes;
        std::vector<std::string> lines; // among the file's lines, by hand
    };
    const Case cases[] = {
        {"jcamp affn",
         InterchangeFormat::Jcamp,
         WriteJcampSpectrum(facts, JcampForm::Affn),
         {"##TITLE=Aspirin Charge 7 (Zoë)", "##OWNER=Renée O'Brien", "##LONGDATE=2026/12/09 23:15:48 +0100",
          "##SPECTROMETER/DATA SYSTEM=TL100, S/N 12345", "##$LASER WAVELENGTH=784.82 $$ nm",
          "##$INTEGRATION TIME=3000 $$ ms", "##$AVERAGES=4", "##$NOTES=" + notesLine}},
        {"jcamp difdup",
         InterchangeFormat::Jcamp,
         WriteJcampSpectrum(facts, JcampForm::DifDup),
         {"##OWNER=Renée O'Brien", "##$NOTES=" + notesLine}},
        {"csv",
         InterchangeFormat::Csv,
         WriteCsvSpectrum(facts),
         {"# Title: Aspirin Charge 7 (Zoë)", "# Operator: Renée O'Brien", "# Laser wavelength (nm): 784.82",
          "# Notes: " + notesLine, "raman_shift_cm-1,intensity"}},
        {"spc",
         InterchangeFormat::Spc,
         WriteSpcSpectrum(facts),
         {"DATE=2026/12/09 23:15:48 +0100\r", "NOTES=" + notesLine + "\r", "INTEGRATION TIME (MS)=3000\r"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> lines;
        for (std::size_t at = 0, end = 0; at < c.bytes.size(); at = end + 1) {
            end = std::min(c.bytes.find('\n', at), c.bytes.size());
            lines.push_back(c.bytes.substr(at, end - at));
        }
        for (const std::string& line : c.lines)
            EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
        InterchangeSpectrum back;
        ReadOutcome outcome = ReadInterchangeSpectrum(c.bytes, c.format, 0, back);
        ASSERT_TRUE(outcome.ok) << outcome.message;
        ExpectPoints(back, facts.x, facts.y, c.name);
        EXPECT_EQ(back.title, facts.title);
        EXPECT_EQ(back.operatorName, facts.operatorName);
        EXPECT_EQ(back.notes, facts.notes);
        EXPECT_FLOAT_EQ(static_cast<float>(back.laserNm), 784.82f);
        EXPECT_EQ(back.integrationMs, 3000);
        EXPECT_EQ(back.averages, 4);
        EXPECT_EQ(back.date, facts.date);
        EXPECT_EQ(back.instrument, facts.instrument);
        EXPECT_EQ(back.serial, facts.serial);
    }
    // SPC's log block follows the 3 values: its 64-byte header, then the text.
    EXPECT_EQ(cases[3].bytes.substr(512 + 32 + 12 + 64, 9), "OPERATOR=");
    EXPECT_EQ(static_cast<unsigned char>(cases[3].bytes[248]), 556 % 256);
    EXPECT_EQ(static_cast<unsigned char>(cases[3].bytes[249]), 556 / 256);
    // Without any of it, a table stays the two columns and SPC its 512-byte
    // header, subfile header and values.
    InterchangeSpectrum plain = Titled({100, 200, 300}, {1, 2, 4}, "plain");
    EXPECT_EQ(WriteCsvSpectrum(plain), "raman_shift_cm-1,intensity\n100,1\n200,2\n300,4\n");
    EXPECT_EQ(WriteSpcSpectrum(plain).size(), 512u + 32u + 12u);
}

TEST(Interchange, LongDateGivesTheZoneWhenKnown) {
    const LocalDateTime when{2026, 3, 4, 5, 6, 7};
    EXPECT_EQ(LongDateText(when, std::nullopt), "2026/03/04 05:06:07");
    EXPECT_EQ(LongDateText(when, 60), "2026/03/04 05:06:07 +0100");
    EXPECT_EQ(LongDateText(when, -330), "2026/03/04 05:06:07 -0530");
    EXPECT_EQ(LongDateText(when, 0), "2026/03/04 05:06:07 +0000");
}

TEST(Interchange, ResampledEvenlyInterpolatesOnStraightLines) {
    InterchangeSpectrum s = Titled({0, 1, 4}, {0, 10, 40}, "");
    InterchangeSpectrum r = ResampledEvenly(s, 5);
    EXPECT_EQ(r.x, (Floats{0, 1, 2, 3, 4}));
    EXPECT_EQ(r.y, (Floats{0, 10, 20, 30, 40}));
    EXPECT_EQ(FormatOfFileName("/a/b.JDX"), InterchangeFormat::Jcamp);
    EXPECT_EQ(FormatOfFileName("b.txt"), InterchangeFormat::Csv);
    EXPECT_EQ(FormatOfFileName("b.spc"), InterchangeFormat::Spc);
    EXPECT_EQ(FormatOfFileName("b.rsd"), InterchangeFormat::Raw);
    EXPECT_EQ(FormatOfFileName("b.rlb"), InterchangeFormat::Unknown);
}

} // namespace
} // namespace veltrane
