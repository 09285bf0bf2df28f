#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <numbers>
#include <random>

#include "identify/hqi.h"
#include "identify/library_index.h"
#include "identify/preprocess.h"
#include "identify/shift_spectrum.h"
#include "identify/verdict.h"
#include "library/library_file_bytes.h"
#include "support/file_faults.h"
#include "support/synthetic_raman.h"
#include "support/temp_dir.h"

namespace veltrane {
namespace {

using test::DeviceRecordBytes;
using test::HeaderBytes;
using test::PcLibraryBytes;
using test::TempDir;
using test::WriteBytes;

// cos and sin over whole periods have zero mean and are orthogonal, so a mix
// a*cos + b*sin correlates with cos by a / sqrt(a^2 + b^2) exactly. The
// offset keeps the wave positive, as a spectrum in comparison form is; its
// bands are the maxima, atan2(b, a) / 2pi of a period after those of cos.
GridSpectrum Wave(std::int32_t start, std::int32_t count, double a, double b, std::int32_t period = 100) {
    GridSpectrum g;
    g.start = start;
    for (std::int32_t k = 0; k < count; ++k) {
        double phase = 2.0 * std::numbers::pi * (start + k) / period;
        g.values.push_back(static_cast<float>(1.05 * std::hypot(a, b) + a * std::cos(phase) + b * std::sin(phase)));
    }
    return g;
}

// The HQI of a correlation r with no band in agreement.
double Unmatched(double r) {
    double c = r / (1.0 + kBandAgreementWeight);
    return 100.0 * c * c;
}

TEST(HitQualityIndex, CorrelationAndBandAgreementOverTheCommonPointsInsideTheRange) {
    GridSpectrum unknown = Wave(0, 3600, 1, 0);
    const double third = std::sqrt(0.5);
    struct Case {
        GridSpectrum entry;
        SearchRange range;
        double hqi;
        std::int32_t common;
    } cases[] = {
        {Wave(0, 3600, 1, 0), {}, 100.0, 3500},                      // from 100 cm-1 to the common end
        {Wave(0, 3600, 7, 0), {}, 100.0, 3500},                      // scale-free
        {Wave(0, 3600, -3, 4), {400, 2399}, 0.0, 2000},              // anti-correlated: nothing
        {Wave(1500, 1000, 3, 4), {}, Unmatched(0.6), 1000},          // only where the entry exists
        {Wave(3001, 500, 1, 1), {400, 3200}, Unmatched(third), 200}, // exactly the minimum in common
        {Wave(2050, 1000, 1, 0), {400, 2249}, 100.0, 200},           // the range cuts it
        // Bands 5 cm-1 apart: they agree, the correlation alone would not.
        {Wave(0, 3600, 3, 1), {}, 100.0 * std::pow((3.0 / std::sqrt(10.0) + 0.2) / 1.2, 2), 3500},
    };
    for (const Case& c : cases) {
        std::int32_t common = 0;
        auto hqi = HitQualityIndex(unknown, c.entry, c.range, &common);
        EXPECT_EQ(common, c.common);
        ASSERT_TRUE(hqi.has_value()) << c.entry.start;
        EXPECT_NEAR(*hqi, c.hqi, 1e-3) << c.entry.start;
    }
    std::int32_t common = 0;
    EXPECT_FALSE(HitQualityIndex(unknown, Wave(3002, 500, 1, 0), {400, 3200}, &common));
    EXPECT_EQ(common, 199);
    EXPECT_FALSE(HitQualityIndex(unknown, Wave(0, 3600, 0, 0), {})); // flat: no correlation to speak of
}

TEST(HitQualityIndex, AnInvertedSpectrumDoesNotMatch) {
    std::vector<double> x, y;
    for (int k = 0; k < 2000; ++k) {
        x.push_back(200.0 + k);
        double bands = 0.0;
        for (double centre : {465.0, 1086.0, 1600.0})
            bands += 1000.0 / (1.0 + std::pow((x.back() - centre) / 8.0, 2));
        y.push_back(3000.0 + 0.5 * k + bands);
    }
    PreparedLibrary library;
    GridSpectrum upright = PrepareUnknown(x, y).grid;
    library.add(upright.start, upright.values.data(), upright.values.size());
    for (double& v : y)
        v = 10000.0 - v;
    // Upside down, the baseline sags into the bands and leaves a little
    // above it at their flanks; far from a match all the same.
    Ranking ranking = RankLibrary(PrepareUnknown(x, y), library, {});
    ASSERT_EQ(ranking.hits.size(), 1u);
    EXPECT_LT(ranking.hits[0].hqi, 10.0);
}

TEST(Bands, FoundWhereTheyAreAndAgreeWithinTheTolerance) {
    // Lorentzians on a noisy floor, in comparison form (square roots).
    std::mt19937 rng(4);
    std::normal_distribution<double> noise(0.0, 0.003);
    auto spectrum = [&](std::vector<double> centres, double shift) {
        GridSpectrum g;
        g.start = 100;
        for (int k = 0; k < 1500; ++k) {
            double v = std::abs(noise(rng));
            for (std::size_t b = 0; b < centres.size(); ++b)
                v += (1.0 - 0.2 * b) / (1.0 + std::pow((100.0 + k - centres[b] - shift) / 5.0, 2));
            g.values.push_back(static_cast<float>(std::sqrt(v)));
        }
        return g;
    };
    GridSpectrum a = spectrum({400.5, 700.0, 1001.0, 1300.0}, 0.0);
    BandList bands = FindBands(a.start, a.values.data(), a.values.size());
    ASSERT_EQ(bands.positions.size(), 4u);
    const std::int32_t expected[] = {400, 700, 1001, 1300};
    for (std::size_t b = 0; b < 4; ++b)
        EXPECT_NEAR(bands.positions[b], expected[b], 1) << b;
    EXPECT_GT(bands.weights[0], bands.weights[3]);
    struct Case {
        std::vector<double> centres;
        double shift;
        std::int32_t first, last;
        double agreement;
    } cases[] = {
        {{400.5, 700.0, 1001.0, 1300.0}, 4.0, 100, 1599, 1.0}, // a few cm-1 apart still agree
        {{400.5, 700.0, 1001.0, 1300.0}, 10.0, 100, 1599, 0.0},
        {{400.5, 700.0, 1001.0, 1300.0}, 0.0, 900, 1599, 1.0}, // only the common range counts
        {{1001.0}, 0.0, 100, 1599, -1.0},                      // one of four: see below
    };
    for (const Case& c : cases) {
        GridSpectrum b = spectrum(c.centres, c.shift);
        BandList other = FindBands(b.start, b.values.data(), b.values.size());
        double agreement = BandAgreement(bands, other, c.first, c.last);
        if (c.agreement >= 0.0) {
            EXPECT_NEAR(agreement, c.agreement, 1e-9) << c.shift;
        } else {
            // All of b's weight is matched, a's band at 1001 of its four.
            double share =
                bands.weights[2] / (bands.weights[0] + bands.weights[1] + bands.weights[2] + bands.weights[3]);
            EXPECT_NEAR(agreement, 0.5 * (1.0 + share), 1e-6);
        }
    }
    // The tolerance's edges: 6 cm-1 either way agree, 7 do not.
    const BandList at1000{{1000}, {1.0f}};
    for (const auto& [position, agreement] :
         std::vector<std::pair<std::int32_t, double>>{{994, 1.0}, {1006, 1.0}, {993, 0.0}, {1007, 0.0}})
        EXPECT_EQ(BandAgreement(at1000, BandList{{position}, {1.0f}}, 900, 1100), agreement) << position;

    // The offset: each agreeing band's distance to the nearest of the other
    // side, weighted by the band, both sides together; and the bands that
    // pair up one to one.
    const double inf = std::numeric_limits<double>::infinity();
    struct OffsetCase {
        BandList a, b;
        double offset;
        std::size_t shared;
    } offsets[] = {
        {{{1000}, {1.0f}}, {{1003, 1020}, {1.0f, 3.0f}}, 3.0, 1},                // 1020 agrees with nothing
        {{{1000, 1500}, {1.0f, 3.0f}}, {{1002, 1501}, {1.0f, 2.0f}}, 9.0 / 7, 2}, // (2+3) + (2+2) over 4 + 3
        {{{1000}, {1.0f}}, {{995, 1004}, {1.0f, 1.0f}}, 13.0 / 3, 1},            // 4 (the nearest), then 5 and 4
        {{{1000}, {1.0f}}, {{1007}, {1.0f}}, inf, 0},
        {{{1000, 1200}, {1.0f, 1.0f}}, {{1000, 1200}, {1.0f, 1.0f}}, 0.0, 2},
        {{{1000, 1003}, {1.0f, 1.0f}}, {{1001}, {1.0f}}, 4.0 / 3, 1},            // 1001 pairs once, with 1000
    };
    for (const OffsetCase& c : offsets) {
        EXPECT_DOUBLE_EQ(BandOffset(c.a, c.b, 900, 1600), c.offset) << c.a.positions[0];
        EXPECT_EQ(SharedBands(c.a, c.b, 900, 1600), c.shared) << c.a.positions[0];
        EXPECT_EQ(SharedBands(c.b, c.a, 900, 1600), c.shared) << c.a.positions[0];
    }
    EXPECT_EQ(SharedBands(BandList{{1000, 1200}, {1.0f, 1.0f}}, BandList{{1000, 1200}, {1.0f, 1.0f}}, 1100, 1600), 1u);
    EXPECT_EQ(BandOffset(BandList{{1000}, {1.0f}}, BandList{{1003}, {1.0f}}, 1001, 1600), inf); // outside the range
    EXPECT_NEAR(BandOffset(bands, FindBands(a.start, spectrum({400.5, 700.0, 1001.0, 1300.0}, 4.0).values.data(), 1500),
                           100, 1599),
                4.0, 1.0);
}

TEST(Bands, AFlatTopIsOneBandAtItsMiddle) {
    // A box of 30 ones stays exactly flat where the whole smoothing kernel
    // lies inside it, from 106 to 123.
    GridSpectrum g{0, std::vector<float>(300, 0.0f)};
    std::fill(g.values.begin() + 100, g.values.begin() + 130, 1.0f);
    BandList bands = FindBands(g.start, g.values.data(), g.values.size());
    EXPECT_EQ(bands.positions, std::vector<std::int32_t>{114});
}

// An intensity that rises linearly is what every pixel averages to at its
// centre, so it comes through the pixels unchanged.
TEST(ThroughPixels, EachPixelAveragesTheIntensityOverItsShare) {
    std::vector<float> values(10);
    for (std::size_t k = 0; k < values.size(); ++k)
        values[k] = std::sqrt(static_cast<float>(k)); // intensity k at wavenumber k
    GridSpectrum seen = ThroughPixels(0, values.data(), values.size(), {2.0, 5.0, 8.0});
    EXPECT_EQ(seen.start, 2);
    ASSERT_EQ(seen.values.size(), 7u);
    for (std::size_t i = 0; i < seen.values.size(); ++i)
        EXPECT_NEAR(seen.values[i], std::sqrt(2.0 + static_cast<double>(i)), 1e-6) << i;
}

TEST(RankLibrary, BestFirstTopNAndEntriesWithTooFewPointsApart) {
    PreparedLibrary library;
    const double mixes[][2] = {{1, 2}, {1, 0}, {2, 1}, {1, 1}, {1, 0}};
    for (const auto& m : mixes) {
        GridSpectrum g = Wave(0, 3600, m[0], m[1]);
        library.add(g.start, g.values.data(), g.values.size());
    }
    GridSpectrum shortEntry = Wave(3100, 150, 1, 0);
    library.add(shortEntry.start, shortEntry.values.data(), shortEntry.values.size());
    Ranking ranking = RankLibrary(Wave(0, 3600, 1, 0), library, {400, 3199}, 3);
    ASSERT_EQ(ranking.hits.size(), 3u);
    EXPECT_EQ(ranking.hits[0].entry, 1u);
    EXPECT_DOUBLE_EQ(ranking.hits[0].hqi, 100.0);
    EXPECT_EQ(ranking.hits[1].entry, 4u); // the tie keeps entry order
    EXPECT_EQ(ranking.hits[2].entry, 2u);
    EXPECT_NEAR(ranking.hits[2].hqi, Unmatched(2.0 / std::sqrt(5.0)), 1e-3);
    EXPECT_EQ(ranking.tooFewPoints, std::vector<std::size_t>{5});
}

// Bands can lift an entry past one of a higher correlation, so a search for
// the best few may not stop before an entry whose bands could still do so.
TEST(RankLibrary, BandsLiftAnEntryPastABetterCorrelatedOne) {
    auto gaussians = [](double shift, double width) {
        GridSpectrum g{0, std::vector<float>(1500, 0.0f)};
        for (std::size_t k = 0; k < g.values.size(); ++k)
            for (double centre : {400.0, 800.0, 1100.0})
                g.values[k] += static_cast<float>(std::exp(-0.5 * std::pow((k - centre - shift) / width, 2)));
        return g;
    };
    PreparedLibrary library;
    GridSpectrum shifted = gaussians(8.0, 15.0), narrow = gaussians(0.0, 6.0); // shifted correlates better
    library.add(shifted.start, shifted.values.data(), shifted.values.size());
    library.add(narrow.start, narrow.values.data(), narrow.values.size());
    const GridSpectrum unknown = gaussians(0.0, 15.0);
    Ranking all = RankLibrary(unknown, library, {});
    ASSERT_EQ(all.hits.size(), 2u);
    EXPECT_EQ(all.hits[0].entry, 1u);
    EXPECT_EQ(all.hits[0].bandOffset, 0.0);
    EXPECT_TRUE(std::isinf(all.hits[1].bandOffset)); // 8 cm-1 away: no band agrees
    Ranking best = RankLibrary(unknown, library, {}, 1);
    ASSERT_EQ(best.hits.size(), 1u);
    EXPECT_EQ(best.hits[0].entry, 1u);
    EXPECT_EQ(best.hits[0].hqi, all.hits[0].hqi);
}

TEST(Verdict, FromTheBestScoreAndItsLeadOverAnotherName) {
    const std::vector<std::string> names = {"Calcite", " calcite", "Aragonite", "Gypsum", "PE", "PP"};
    auto nameOf = [&](std::size_t entry) -> const std::string& { return names[entry]; };
    const VerdictThresholds t{75.0, 6.0, 70.0, 3.0, 8, 50.0, 2.0};
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        std::vector<RankedHit> hits;
        Verdict verdict;
        std::optional<std::size_t> runnerUp;
        const char* text;
    } cases[] = {
        {{{0, 96.2}, {1, 95.0}, {2, 81.0}}, Verdict::Match, 2, "Match: Calcite, HQI 96.2, next Aragonite 81.0"},
        {{{0, 80.0}, {2, 76.0}}, Verdict::PossibleMatch, 1, "Possible match: Calcite, HQI 80.0, next Aragonite 76.0"},
        {{{3, 72.0}}, Verdict::PossibleMatch, std::nullopt, "Possible match: Gypsum, HQI 72.0"},
        {{{3, 75.0}}, Verdict::Match, std::nullopt, "Match: Gypsum, HQI 75.0"},
        {{{0, 81.0}, {2, 75.0}}, Verdict::Match, 1, "Match: Calcite, HQI 81.0, next Aragonite 75.0"}, // lead of 6
        {{{3, 70.0}}, Verdict::PossibleMatch, std::nullopt, "Possible match: Gypsum, HQI 70.0"},
        {{{4, 90.0}, {5, 88.0}}, Verdict::PossibleMatch, 1, "Possible match: PE, HQI 90.0, next PP 88.0"},
        {{{2, 69.9}, {3, 10.0}}, Verdict::NoMatch, 1, "No match (closest Aragonite, HQI 69.9)"},
        // Bands in place make a Match; bands a few cm-1 off, or none agreeing, do not.
        {{{3, 90.0, 3.0}}, Verdict::Match, std::nullopt, "Match: Gypsum, HQI 90.0"},
        {{{3, 90.0, 3.1}}, Verdict::PossibleMatch, std::nullopt, "Possible match: Gypsum, HQI 90.0"},
        {{{3, 90.0, inf}}, Verdict::PossibleMatch, std::nullopt, "Possible match: Gypsum, HQI 90.0"},
        // A lower score with many bands in place is a Match, but not with
        // fewer bands, bands further off, a lower score or a close rival.
        {{{3, 60.0, 2.0, 8}}, Verdict::Match, std::nullopt, "Match: Gypsum, HQI 60.0"},
        {{{3, 60.0, 2.0, 7}}, Verdict::NoMatch, std::nullopt, "No match (closest Gypsum, HQI 60.0)"},
        {{{3, 60.0, 2.1, 12}}, Verdict::NoMatch, std::nullopt, "No match (closest Gypsum, HQI 60.0)"},
        {{{3, 49.9, 1.0, 12}}, Verdict::NoMatch, std::nullopt, "No match (closest Gypsum, HQI 49.9)"},
        {{{0, 60.0, 1.0, 12}, {2, 55.0}}, Verdict::NoMatch, 1, "No match (closest Calcite, HQI 60.0)"},
        {{}, Verdict::NoMatch, std::nullopt, "No match"},
    };
    for (const Case& c : cases) {
        IdentifyVerdict v = DecideVerdict(c.hits, nameOf, t);
        EXPECT_EQ(v.verdict, c.verdict) << c.text;
        EXPECT_EQ(v.runnerUp, c.runnerUp) << c.text;
        std::string best = v.best ? names[c.hits[*v.best].entry] : "";
        std::string next = v.runnerUp ? names[c.hits[*v.runnerUp].entry] : "";
        EXPECT_EQ(VerdictText(v, best, next, v.runnerUp ? c.hits[*v.runnerUp].hqi : 0.0), c.text);
    }
}

TEST(SearchRange, ParsesLowColonHigh) {
    auto r = ParseSearchRange("200:1800");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->low, 200);
    EXPECT_EQ(r->high, 1800);
    r = ParseSearchRange("-50.5:99.5");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->low, -50);
    EXPECT_EQ(r->high, 99);
    for (const char* bad :
         {"", "400", "400:", ":3200", "3200:400", "400:400", "a:b", "400:3200:1", "nan:5", "1:inf", "1.2:1.8"})
        EXPECT_FALSE(ParseSearchRange(bad)) << bad;
}

TEST(Resampling, LinearOntoWholeWavenumbersFromUnorderedPoints) {
    std::vector<double> x = {103.5, 100.2, 101.0, NAN, 102.0};
    std::vector<double> y = {7.0, 0.0, 4.0, 99.0, 10.0};
    GridSpectrum g = ResampleToWholeWavenumbers(x, y);
    EXPECT_EQ(g.start, 101);
    ASSERT_EQ(g.values.size(), 3u); // 101, 102, 103
    EXPECT_FLOAT_EQ(g.values[0], 4.0f);
    EXPECT_FLOAT_EQ(g.values[1], 10.0f);
    EXPECT_FLOAT_EQ(g.values[2], 10.0f + (7.0f - 10.0f) * (1.0f / 1.5f));
    EXPECT_TRUE(ResampleToWholeWavenumbers(std::vector<double>{5.5}, std::vector<double>{1}).values.empty());
}

TEST(Baseline, ArplsFindsABroadBackgroundUnderNarrowBands) {
    // arPLS judges peaks against the spread of the points below the
    // baseline, so the test spectrum carries noise as a measured one does.
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0.0, 10.0);
    std::vector<double> y(2500), truth(2500);
    for (std::size_t i = 0; i < y.size(); ++i) {
        double x = static_cast<double>(i);
        truth[i] = 5000.0 + 3000.0 * std::exp(-0.5 * std::pow((x - 900.0) / 700.0, 2)) - 0.4 * x;
        double bands = 0.0;
        for (double centre : {300.0, 620.0, 1001.0, 1600.0, 2200.0})
            bands += 1000.0 / (1.0 + std::pow((x - centre) / 5.0, 2));
        y[i] = truth[i] + bands + noise(rng);
    }
    std::vector<double> baseline(y.size());
    ArplsBaseline(y, baseline);
    double worst = 0.0;
    for (std::size_t i = 100; i + 100 < y.size(); ++i)
        worst = std::max(worst, std::abs(baseline[i] - truth[i]));
    EXPECT_LT(worst, 30.0); // 3 % of a band's height, under a background 8 times as tall
}

TEST(ShiftSpectrum, EachLayoutGivesRamanShifts) {
    ShiftSpectrum s;
    SpectrumKind kind{};
    // Device record: X in tenths, kept to the tenth; X 0 left out.
    std::string record = DeviceRecordBytes(HeaderBytes("rec", 179), {5, 6, 7}, {4005, 4017, 0});
    ASSERT_EQ(ReadShiftSpectrum(record, s, &kind), ShiftRead::Ok);
    EXPECT_EQ(kind, SpectrumKind::DeviceRecord);
    EXPECT_EQ(s.shift, (std::vector<double>{400.5, 401.7}));
    EXPECT_EQ(s.intensity, (std::vector<double>{5, 6}));
    // PC library: X as stored, zeros left out.
    std::string pc = PcLibraryBytes(HeaderBytes("pc", 180), 0, {310.25f, 311.5f});
    ASSERT_EQ(ReadShiftSpectrum(pc, s, &kind), ShiftRead::Ok);
    EXPECT_EQ(kind, SpectrumKind::PcLibrary);
    EXPECT_EQ(s.shift, (std::vector<double>{310.25, 311.5}));
    EXPECT_EQ(s.header.name(), "pc");
    // A 256-pixel-class library made from a capture holds wavelengths, with no
    // laser to convert by; one holding Raman shifts is read as any other.
    std::vector<float> nm(256), shifts(256);
    for (std::size_t i = 0; i < 256; ++i) {
        nm[i] = 323.0f + 1.9f * static_cast<float>(i);
        shifts[i] = 20.0f + 48.0f * static_cast<float>(i);
    }
    EXPECT_EQ(ReadShiftSpectrum(PcLibraryBytes(HeaderBytes("small", 165), 0, nm), s), ShiftRead::WavelengthAxis);
    EXPECT_EQ(ReadShiftSpectrum(PcLibraryBytes(HeaderBytes("class", 1), 0, nm), s), ShiftRead::WavelengthAxis);
    EXPECT_EQ(ReadShiftSpectrum(PcLibraryBytes(HeaderBytes("small", 1), 0, shifts), s), ShiftRead::Ok);
    EXPECT_EQ(s.shift.size(), 256u);
    EXPECT_EQ(ReadShiftSpectrum(std::string(1000, '\0'), s), ShiftRead::UnknownFormat);
}

TEST(ShiftSpectrum, RawFileShiftsAreLaserMinusWavenumberOverTheWindow) {
    RawFileRecord raw;
    raw.frameLength = kRawFrame2500;
    raw.laserWavelength = 500.0f; // 20000 cm-1
    raw.windowStart = 2;
    raw.windowEnd = 4;
    for (int i = 0; i < 5; ++i) {
        raw.wavenumbers[i] = 19500.0f - 10.0f * i;
        raw.intensities[i] = static_cast<float>(i);
    }
    ShiftSpectrum s;
    ShiftSpectrumFromRaw(raw, s);
    EXPECT_EQ(s.shift, (std::vector<double>{520.0, 530.0}));
    EXPECT_EQ(s.intensity, (std::vector<double>{2.0, 3.0}));
}

// ---- the index --------------------------------------------------------------

std::string BandLibrary(const std::string& name, double centre) {
    std::vector<float> x(2500);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = 300.0f + 1.2f * static_cast<float>(i);
    std::string bytes = PcLibraryBytes(HeaderBytes(name, 179), 0, x);
    for (std::size_t i = 0; i < 2500; ++i) {
        float v = static_cast<float>(100.0 + 1000.0 / (1.0 + std::pow((x[i] - centre) / 6.0, 2)) +
                                     400.0 / (1.0 + std::pow((x[i] - centre * 1.7) / 9.0, 2)));
        std::memcpy(bytes.data() + 120 + 4 * i, &v, 4);
    }
    return bytes;
}

struct IndexFixture : ::testing::Test {
    TempDir dir;
    std::string folder = dir.path() + "local/";
    std::string database = dir.path() + "cache/" + kIndexFileName;
    IndexFixture() { std::filesystem::create_directories(folder); }

    // The best hit's name and score for the unknown file, through a fresh
    // index object each time, as separate runs of the CLI would.
    std::pair<std::string, double> best(const std::string& unknownBytes, IndexUpdate* report = nullptr) {
        LibraryIndex index(database);
        IndexedLibrary library;
        EXPECT_TRUE(index.refresh({folder}, library, 2, nullptr, nullptr, report));
        ShiftSpectrum s;
        EXPECT_EQ(ReadShiftSpectrum(unknownBytes, s), ShiftRead::Ok);
        Ranking r = RankLibrary(PrepareUnknown(s.shift, s.intensity), library.prepared, {}, 1);
        if (r.hits.empty()) return {"", 0.0};
        return {library.info[r.hits[0].entry].name, r.hits[0].hqi};
    }
};

TEST_F(IndexFixture, NoStaleHitAfterAChangeADeleteOrARename) {
    std::string a = BandLibrary("alpha", 800), b = BandLibrary("beta", 1100);
    WriteBytes(folder + "alpha.rlb", a);
    WriteBytes(folder + "beta.rlb", b);
    std::vector<float> nm(256);
    for (std::size_t i = 0; i < nm.size(); ++i)
        nm[i] = 323.0f + 1.9f * static_cast<float>(i);
    WriteBytes(folder + "small.rlb", PcLibraryBytes(HeaderBytes("small", 165), 0, nm));
    IndexUpdate report;
    auto hit = best(a, &report);
    EXPECT_EQ(hit.first, "alpha");
    EXPECT_DOUBLE_EQ(hit.second, 100.0);
    EXPECT_EQ(report.processed, 3u);
    best(a, &report);
    EXPECT_EQ(report.processed, 0u);
    EXPECT_EQ(report.kept, 3u);

    // alpha's file now holds another spectrum of the same size, its time
    // put back as cp -p or a restore would (every PC library is 20120 bytes).
    auto time = std::filesystem::last_write_time(folder + "alpha.rlb");
    WriteBytes(folder + "alpha.rlb", BandLibrary("alpha", 1500));
    std::filesystem::last_write_time(folder + "alpha.rlb", time);
    hit = best(a, &report);
    EXPECT_EQ(report.processed, 1u);
    EXPECT_LT(hit.second, 99.0);

    std::filesystem::rename(folder + "beta.rlb", folder + "gamma.rlb");
    hit = best(b, &report);
    EXPECT_EQ(report.dropped, 1u);
    EXPECT_EQ(report.processed, 1u);
    LibraryIndex index(database);
    IndexedLibrary library;
    ASSERT_TRUE(index.load({folder}, library));
    ASSERT_EQ(library.info.size(), 2u);
    EXPECT_EQ(library.info[1].path, IndexFolderKey(folder) + "gamma.rlb");
    ASSERT_EQ(library.skipped.size(), 1u);
    EXPECT_EQ(library.skipped[0].reason, "X values are wavelengths and the file has no laser wavelength");

    std::filesystem::remove(folder + "gamma.rlb");
    std::filesystem::remove(folder + "alpha.rlb");
    hit = best(b, &report);
    EXPECT_EQ(hit.first, "");
    EXPECT_EQ(report.dropped, 2u);
}

// A folder that is gone (a temporary one, an unplugged drive) is no longer
// searched, so its rows would never be compared with a listing again; the
// next update of any folder must still take them out of the file.
TEST_F(IndexFixture, RowsOfAFolderThatIsGoneAreRemoved) {
    const std::string gone = dir.path() + "stick/";
    std::filesystem::create_directories(gone);
    // Files that do not read are indexed too, with their reason; they cost no baseline.
    WriteBytes(folder + "kept.rlb", "not a library");
    WriteBytes(gone + "a.rlb", "not a library");
    WriteBytes(gone + "b.rlb", "not a library");
    auto rowsOf = [&](const std::string& f) {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt* count = nullptr;
        sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM entries WHERE folder = ?", -1, &count, nullptr);
        sqlite3_bind_text(count, 1, IndexFolderKey(f).c_str(), -1, SQLITE_TRANSIENT);
        int rows = sqlite3_step(count) == SQLITE_ROW ? sqlite3_column_int(count, 0) : -1;
        sqlite3_finalize(count);
        sqlite3_close(db);
        return rows;
    };
    ASSERT_TRUE(LibraryIndex(database).update({folder, gone}).ok);
    ASSERT_EQ(rowsOf(gone), 2);
    const std::string goneKey = IndexFolderKey(gone);
    std::filesystem::remove_all(gone);
    ASSERT_TRUE(LibraryIndex(database).update({folder}).ok);
    EXPECT_EQ(rowsOf(goneKey), 0);
    EXPECT_EQ(rowsOf(folder), 1);
}

ino_t InodeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST_F(IndexFixture, DamagedOrOutdatedIndexIsRefilledInPlaceNotTrusted) {
    std::string a = BandLibrary("alpha", 800);
    WriteBytes(folder + "alpha.rlb", a);
    IndexUpdate report;
    best(a, &report);
    std::string sound = dir.path() + "sound.sqlite";
    std::filesystem::copy_file(database, sound);

    auto corrupt = [&](const char* sql) {
        // Copied over the file's bytes, not renamed: the index keeps its inode.
        std::filesystem::copy_file(sound, database, std::filesystem::copy_options::overwrite_existing);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
        sqlite3_close(db);
    };
    const ino_t inode = InodeOf(database);
    const char* damages[] = {
        "UPDATE entries SET coarse = x'00'",                  // not the compact form of its points
        "UPDATE entries SET start = 900000000",               // far off any axis
        "UPDATE entries SET count = 1000000",                 // a million points
        "UPDATE entries SET bands = x'0000000000000000'",     // a band of no weight
        "UPDATE entries SET name = zeroblob(65)",             // longer than a header holds
        "UPDATE entries SET path = '/elsewhere/alpha.rlb'",   // outside its folder
        "UPDATE meta SET value = 'veltrane-library-index 2'", // an earlier version
        "DROP TABLE spectra",                                 // another layout
    };
    for (const char* sql : damages) {
        corrupt(sql);
        auto hit = best(a, &report);
        EXPECT_EQ(hit.first, "alpha") << sql;
        EXPECT_DOUBLE_EQ(hit.second, 100.0) << sql;
        EXPECT_TRUE(report.rebuilt) << sql;
        EXPECT_EQ(InodeOf(database), inode) << sql;
    }
    // Damaged pages SQLite cannot mend: the file is replaced by a fresh index
    // once, and kept from then on.
    std::filesystem::copy_file(sound, database, std::filesystem::copy_options::overwrite_existing);
    {
        std::fstream file(database, std::ios::in | std::ios::out | std::ios::binary);
        for (int page = 1; page < 4; ++page) { // the page headers after the first (64 KiB pages)
            file.seekp(page * 65536);
            file << std::string(100, '\x5a');
        }
    }
    auto hit = best(a, &report);
    EXPECT_EQ(hit.first, "alpha");
    EXPECT_TRUE(report.rebuilt);
    EXPECT_EQ(report.notKept, "");
    best(a, &report);
    EXPECT_EQ(report.processed, 0u);
    EXPECT_EQ(report.notKept, "");
    // A damaged spectrum is only read when it is scored: it takes no part,
    // and the next search prepares its file again.
    for (const char* sql : {"UPDATE spectra SET data = x'0000ff7f00800100'", "UPDATE spectra SET data = x'000080'"}) {
        corrupt(sql);
        EXPECT_EQ(best(a).first, "") << sql;
        auto hit = best(a, &report);
        EXPECT_EQ(hit.first, "alpha") << sql;
        EXPECT_EQ(report.processed, 1u) << sql;
    }
}

TEST_F(IndexFixture, AnythingButAnIndexAtItsPathIsLeftAlone) {
    WriteBytes(folder + "alpha.rlb", BandLibrary("alpha", 800));
    std::filesystem::create_directories(dir.path() + "cache");
    std::string notes = dir.path() + "notes.csv", other = dir.path() + "other.sqlite";
    WriteBytes(notes, "x,y\n1,2\n");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE meta(key TEXT, value TEXT); INSERT INTO meta VALUES('format', 'another program')",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const std::string otherBytes = test::SnapshotFolder(dir.path())["other.sqlite"];
    struct Case {
        const char* what;
        std::function<void()> make;
        std::string bytes; // what a regular file holds, to be found unchanged
    } cases[] = {
        {"a text file", [&] { std::filesystem::copy_file(notes, database); }, "x,y\n1,2\n"},
        {"an empty file", [&] { WriteBytes(database, ""); }, ""},
        {"another program's database", [&] { std::filesystem::copy_file(other, database); }, otherBytes},
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(database.c_str(), 0644), 0); }, ""},
        {"an empty folder", [&] { std::filesystem::create_directory(database); }, ""},
        {"a link to a file", [&] { std::filesystem::create_symlink(notes, database); }, ""},
    };
    for (const Case& c : cases) {
        c.make();
        struct stat before {};
        ASSERT_EQ(::lstat(database.c_str(), &before), 0) << c.what;
        LibraryIndex index(database);
        IndexedLibrary library;
        IndexUpdate report;
        EXPECT_FALSE(index.refresh({folder}, library, 1, nullptr, nullptr, &report)) << c.what;
        EXPECT_TRUE(report.foreign) << c.what;
        struct stat after {};
        ASSERT_EQ(::lstat(database.c_str(), &after), 0) << c.what;
        EXPECT_EQ(after.st_ino, before.st_ino) << c.what;
        EXPECT_EQ(after.st_mode, before.st_mode) << c.what;
        if (S_ISREG(after.st_mode)) {
            EXPECT_EQ(test::SnapshotFolder(dir.path() + "cache")[kIndexFileName], c.bytes) << c.what;
        }
        // Nothing beside it either: no journal, no temporary.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() + "cache"), {}), 1) << c.what;
        std::filesystem::remove(database);
    }
    EXPECT_EQ(test::SnapshotFolder(dir.path())["notes.csv"], "x,y\n1,2\n");
}

TEST_F(IndexFixture, OddFilesAreSkippedWithTheirReasonAndEachFileSearchedOnce) {
    std::string a = BandLibrary("alpha", 800);
    WriteBytes(folder + "alpha.rlb", a);
    auto withX = [](std::string bytes, float first, float step, std::size_t at, float stray) {
        for (std::size_t i = 0; i < 2500; ++i) {
            float x = i == at ? stray : first + step * static_cast<float>(i);
            std::memcpy(bytes.data() + 10120 + 4 * i, &x, 4);
        }
        return bytes;
    };
    WriteBytes(folder + "stray.rlb", withX(BandLibrary("stray", 900), 300.0f, 1.2f, 2499, 250000.0f));
    WriteBytes(folder + "far.rlb", withX(BandLibrary("far", 900), 150000.0f, 1.2f, 0, 150000.0f));
    std::mt19937 rng(8);
    std::string noise(20120, '\0');
    for (char& c : noise)
        c = static_cast<char>(rng());
    WriteBytes(folder + "noise.rlb", noise);
    std::string flat = BandLibrary("flat", 900);
    for (std::size_t i = 0; i < 2500; ++i) {
        float v = 500.0f;
        std::memcpy(flat.data() + 120 + 4 * i, &v, 4);
    }
    WriteBytes(folder + "flat.rlb", flat);
    WriteBytes(dir.path() + "outside.rlb", BandLibrary("outside", 800));
    std::filesystem::create_symlink(dir.path() + "outside.rlb", folder + "escape.rlb");
    std::filesystem::create_symlink(folder + "alpha.rlb", folder + "same.rlb");
    std::filesystem::create_symlink(folder, dir.path() + "alias");

    LibraryIndex index(database);
    IndexedLibrary library;
    // The folder three times: as given, with a slash more, through a link.
    ASSERT_TRUE(index.refresh({folder, folder + "/", dir.path() + "alias"}, library, 2));
    ASSERT_EQ(library.info.size(), 1u);
    EXPECT_EQ(library.info[0].name, "alpha");
    std::map<std::string, std::string> reasons;
    for (const IndexSkip& skip : library.skipped)
        reasons[skip.path.substr(skip.path.rfind('/') + 1)] = skip.reason;
    const std::string key = IndexFolderKey(folder);
    EXPECT_EQ(reasons["stray.rlb"], "Raman shifts out of range");
    EXPECT_EQ(reasons["far.rlb"], "Raman shifts out of range");
    EXPECT_EQ(reasons["flat.rlb"], "no usable signal");
    EXPECT_EQ(reasons["escape.rlb"], "link leads out of the folder");
    EXPECT_FALSE(reasons["noise.rlb"].empty());
    EXPECT_EQ(reasons.size(), 5u);
    ShiftSpectrum s;
    ASSERT_EQ(ReadShiftSpectrum(a, s), ShiftRead::Ok);
    Ranking r = RankLibrary(PrepareUnknown(s.shift, s.intensity), library.prepared, {});
    ASSERT_EQ(r.hits.size(), 1u);
    EXPECT_DOUBLE_EQ(r.hits[0].hqi, 100.0);
}

TEST_F(IndexFixture, AnUnwritableIndexLeavesTheSearchInMemory) {
    std::string a = BandLibrary("alpha", 800);
    WriteBytes(folder + "alpha.rlb", a);
    WriteBytes(dir.path() + "file", "");
    for (const std::string& path : {dir.path() + "file/" + kIndexFileName, database}) {
        // The second: a disk that fills up once the empty index is made.
        std::unique_ptr<test::FileSizeLimit> full;
        if (path == database) full = std::make_unique<test::FileSizeLimit>(200000);
        LibraryIndex index(path);
        IndexedLibrary library;
        IndexUpdate report;
        ASSERT_TRUE(index.refresh({folder}, library, 2, nullptr, nullptr, &report)) << path;
        EXPECT_FALSE(report.notKept.empty()) << path;
        ASSERT_EQ(library.info.size(), 1u);
        ShiftSpectrum s;
        ASSERT_EQ(ReadShiftSpectrum(a, s), ShiftRead::Ok);
        Ranking r = RankLibrary(PrepareUnknown(s.shift, s.intensity), library.prepared, {});
        ASSERT_EQ(r.hits.size(), 1u) << path;
        EXPECT_DOUBLE_EQ(r.hits[0].hqi, 100.0);
    }
}

// A library larger than the exact share of a search: the coarse pass must
// hand the exact one every entry that an exhaustive search ranks best.
TEST(RankLibrary, LargeLibraryGivesTheBestHitsOfAnExhaustiveSearch) {
    std::mt19937_64 rng(11);
    PreparedLibrary library;
    std::vector<GridSpectrum> entries;
    std::uniform_int_distribution<int> jitter(-20, 20);
    for (std::size_t e = 0; e < 3 * kExactCandidates; ++e) {
        auto material = test::MakeSyntheticMaterial(rng);
        GridSpectrum g;
        g.start = 380 + jitter(rng);
        for (int k = 0; k < 1200; ++k)
            g.values.push_back(static_cast<float>(std::sqrt(test::SyntheticIntensity(material, g.start + k))));
        library.add(g.start, g.values.data(), g.values.size());
        entries.push_back(std::move(g));
    }
    for (std::size_t pick : {7u, 900u}) {
        UnknownSpectrum unknown;
        unknown.grid = entries[pick];
        std::normal_distribution<float> noise(0.0f, 0.05f);
        for (float& v : unknown.grid.values)
            v = std::max(0.0f, v + noise(rng));
        unknown.bands = FindBands(unknown.grid.start, unknown.grid.values.data(), unknown.grid.values.size());
        std::vector<RankedHit> exhaustive;
        for (std::size_t e = 0; e < entries.size(); ++e)
            if (auto hqi = HitQualityIndex(unknown.grid, entries[e], {})) exhaustive.push_back({e, *hqi});
        std::sort(exhaustive.begin(), exhaustive.end(),
                  [](const RankedHit& x, const RankedHit& y) { return x.hqi > y.hqi; });
        Ranking ranking = RankLibrary(unknown, library, {}, 20);
        ASSERT_EQ(ranking.hits.size(), 20u);
        EXPECT_EQ(ranking.hits[0].entry, pick);
        for (std::size_t k = 0; k < 20; ++k) {
            EXPECT_EQ(ranking.hits[k].entry, exhaustive[k].entry) << k;
            EXPECT_NEAR(ranking.hits[k].hqi, exhaustive[k].hqi, 1e-9) << k;
        }
    }
}

} // namespace
} // namespace veltrane
