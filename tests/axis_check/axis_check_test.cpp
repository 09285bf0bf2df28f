#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "axis_check/axis_check.h"
#include "axis_check/axis_correction_store.h"
#include "identify/shift_spectrum.h"
#include "sim/sim_model.h"
#include "support/measure_sample.h"
#include "support/synthetic_raman.h"
#include "support/temp_dir.h"

namespace veltrane {
namespace {

constexpr double kLaserNm = 532.0;

// A standard as the 2500-pixel sensor records it, every band 8 cm-1 wide and
// 50 times the noise high, on a fluorescence background; the axis reports
// each pixel `offset` cm-1 high, or as a spectrograph whose wavelengths read
// `wavelengthError` nm long would.
struct Measured {
    std::vector<double> shift, counts;
};
Measured MeasureStandard(const ReferenceStandard& standard, double offset, double wavelengthError, std::uint64_t seed,
                         std::vector<double> heights = {}, double background = 3.0) {
    test::SyntheticMaterial bands;
    for (std::size_t i = 0; i < standard.bands.size(); ++i)
        bands.push_back({standard.bands[i].shift, heights.empty() ? 1.0 : heights[i], 8.0, 0.0});
    std::mt19937_64 rng(seed);
    Measured m;
    m.shift = test::SensorShiftAxis(SimModelLarge2500());
    m.counts = test::MeasureSynthetic(bands, m.shift, background, 50.0, rng);
    const double laser = 1e7 / kLaserNm;
    for (double& s : m.shift)
        s = laser - 1e7 / (1e7 / (laser - s) + wavelengthError) + offset;
    return m;
}

TEST(ReferenceStandards, BuiltInAndFromText) {
    ASSERT_TRUE(FindStandard("polystyrene"));
    EXPECT_EQ(FindStandard("Paracetamol")->name, "Acetaminophen");
    EXPECT_EQ(FindStandard("CYCLOHEXANE")->bands.size(), 11u);
    EXPECT_FALSE(FindStandard("water"));
    std::string error;
    auto own = ParseStandard("# lab standard\nSulfur\n473.2 2\n153.8\n\n219.1;0.5\n434.7\n", error);
    ASSERT_TRUE(own) << error;
    EXPECT_EQ(own->name, "Sulfur");
    ASSERT_EQ(own->bands.size(), 4u);
    EXPECT_DOUBLE_EQ(own->bands[0].shift, 153.8); // sorted
    EXPECT_DOUBLE_EQ(own->bands[3].weight, 2.0);
    for (const char* bad : {"", "Sulfur\n1\n2\n3\n", "Sulfur\n1\n2\n3\nfour\n", "Sulfur\n1\n2\n3\n4 0\n"})
        EXPECT_FALSE(ParseStandard(bad, error)) << bad;
}

TEST(AxisCheck, FindsKnownOffsetsToAFifthOfAWavenumber) {
    const ReferenceStandard polystyrene = *FindStandard("Polystyrene");
    for (double offset : {-5.0, -2.5, 0.0, 1.2, 5.0}) {
        Measured m = MeasureStandard(polystyrene, offset, 0.0, 7);
        AxisCheck check = CheckAxis(m.shift, m.counts, polystyrene);
        ASSERT_TRUE(check.enoughBands) << offset;
        EXPECT_GE(check.found, 9u) << offset;
        for (const BandCheck& b : check.bands)
            if (b.outcome == BandOutcome::Found) {
                EXPECT_NEAR(b.deviation, offset, 0.2) << b.reference << " " << offset;
            }
        EXPECT_NEAR(check.offset, offset, 0.2);
        EXPECT_LT(check.spread, 0.2);
        EXPECT_EQ(check.pass, std::abs(offset) < 1.5) << offset;
        auto correction = FitAxisCorrection(check, kLaserNm);
        ASSERT_TRUE(correction);
        EXPECT_EQ(correction->kind, AxisCorrectionKind::Offset);
        EXPECT_NEAR(correction->offset, -offset, 0.2);
    }
}

TEST(AxisCheck, AWavelengthAxisErrorIsCorrectedWhereItMovesTheBandsUnequally) {
    const ReferenceStandard polystyrene = *FindStandard("Polystyrene");
    // 0.25 nm moves the bands by 8.1 cm-1 at 620 cm-1 but 6.4 cm-1 at 3054.
    Measured m = MeasureStandard(polystyrene, 0.0, 0.25, 11);
    AxisCheck check = CheckAxis(m.shift, m.counts, polystyrene);
    ASSERT_TRUE(check.enoughBands);
    EXPECT_FALSE(check.pass);
    auto correction = FitAxisCorrection(check, kLaserNm);
    ASSERT_TRUE(correction);
    EXPECT_EQ(correction->kind, AxisCorrectionKind::WavelengthAxis);
    EXPECT_NEAR(correction->wavelengthNm, 0.25, 0.01);
    for (const BandCheck& b : check.bands)
        if (b.outcome == BandOutcome::Found) {
            EXPECT_NEAR(CorrectedShift(*correction, b.found), b.reference, 0.2) << b.reference;
        }
}

TEST(AxisCheck, SkipsBandsItCannotTrustAndRefusesTheWrongMaterial) {
    const ReferenceStandard cyclohexane = *FindStandard("Cyclohexane");
    // 801.3 twice as strong as the rest, and clipped.
    std::vector<double> heights(cyclohexane.bands.size(), 1.0);
    heights[2] = 2.0;
    Measured m = MeasureStandard(cyclohexane, 0.0, 0.0, 3, heights, 0.0);
    double top = *std::max_element(m.counts.begin(), m.counts.end());
    AxisCheck check = CheckAxis(m.shift, m.counts, cyclohexane, {}, 0.8 * top);
    auto outcome = [&](double reference) {
        for (const BandCheck& b : check.bands)
            if (b.reference == reference) return b.outcome;
        return BandOutcome::Missing;
    };
    EXPECT_EQ(outcome(2923.8), BandOutcome::Overlapped); // 14.5 cm-1 from 2938.3
    EXPECT_EQ(outcome(2938.3), BandOutcome::Overlapped);
    EXPECT_EQ(outcome(1444.4), BandOutcome::Found);
    EXPECT_EQ(outcome(801.3), BandOutcome::Saturated);
    // The 256-pixel class's axis begins above the lowest bands.
    AxisCheck partial = CheckAxis(std::vector<double>(m.shift.begin() + 400, m.shift.end()),
                                  std::vector<double>(m.counts.begin() + 400, m.counts.end()), cyclohexane);
    EXPECT_EQ(partial.bands[0].outcome, BandOutcome::OutsideSpectrum);

    // Acetaminophen is not polystyrene: a few of its bands fall in the
    // windows, far from the centres, and the check does not pass.
    Measured wrong = MeasureStandard(*FindStandard("Acetaminophen"), 0.0, 0.0, 5);
    AxisCheck refused = CheckAxis(wrong.shift, wrong.counts, *FindStandard("Polystyrene"));
    EXPECT_FALSE(refused.enoughBands) << refused.found;
    EXPECT_FALSE(refused.pass);
}

TEST(AxisCheck, TheVirtualInstrumentsDriftIsFoundAndCorrected) {
    // Polystyrene as the instrument saves it, its axis 4 cm-1 high.
    const ReferenceStandard polystyrene = *FindStandard("Polystyrene");
    auto state = test::MeasureSample(SimModelLarge2500(), SimSample::Polystyrene, 3000, 21, 4.0);
    RawFileRecord record;
    std::string bytes =
        BuildRawSpectrumFile(state->measurement, state->device, "ps.rsd", {2026, 1, 2, 3, 4, 5}, record);
    ShiftSpectrum spectrum;
    ASSERT_EQ(ReadShiftSpectrum(bytes, spectrum), ShiftRead::Ok);
    AxisCheck check = CheckAxis(spectrum.shift, spectrum.intensity, polystyrene);
    ASSERT_TRUE(check.enoughBands) << check.found;
    EXPECT_FALSE(check.pass);
    EXPECT_NEAR(check.offset, 4.0, 0.5);
    auto correction = FitAxisCorrection(check, state->device.laserWavelength);
    ASSERT_TRUE(correction);
    std::vector<double> corrected;
    for (double s : spectrum.shift)
        corrected.push_back(CorrectedShift(*correction, s));
    AxisCheck again = CheckAxis(corrected, spectrum.intensity, polystyrene);
    EXPECT_TRUE(again.pass) << again.largest;
}

// Corrections are kept per serial, survive a new store (a restart), do not
// mix instruments, and are removed for good.
TEST(AxisCorrectionStore, KeptPerInstrumentAndRemovable) {
    test::TempDir dir;
    StoredAxisCorrection shifted{{AxisCorrectionKind::Offset, -2.4, 0.0, 785.0, 0.1}, "2026-12-09", "polystyrene"};
    StoredAxisCorrection bent{{AxisCorrectionKind::WavelengthAxis, 0.0, 0.12, 532.0, 0.2}, "2026-12-08", "cyclohexane"};
    {
        AxisCorrectionStore store(dir.path() + "veltrane.ini");
        EXPECT_FALSE(store.find("SN1"));
        ASSERT_TRUE(store.save("SN1", shifted));
        ASSERT_TRUE(store.save("SN2", bent));
    }
    AxisCorrectionStore store(dir.path() + "veltrane.ini");
    auto one = store.find("SN1");
    ASSERT_TRUE(one);
    EXPECT_EQ(one->correction.kind, AxisCorrectionKind::Offset);
    EXPECT_DOUBLE_EQ(one->correction.offset, -2.4);
    EXPECT_EQ(one->standard, "polystyrene");
    EXPECT_EQ(AxisCorrectionText(*one), "Axis corrected by \u22122.4 cm\u207B\u00B9 on 2026-12-09");
    auto two = store.find("SN2");
    ASSERT_TRUE(two);
    EXPECT_DOUBLE_EQ(two->correction.wavelengthNm, 0.12);
    EXPECT_DOUBLE_EQ(CorrectionAt(two->correction, 1000.0), CorrectionAt(bent.correction, 1000.0));
    ASSERT_TRUE(store.remove("SN1"));
    EXPECT_FALSE(AxisCorrectionStore(dir.path() + "veltrane.ini").find("SN1"));
    EXPECT_TRUE(store.find("SN2"));
}

} // namespace
} // namespace veltrane
