#include "sim/sample_spectrum.h"

#include <gtest/gtest.h>

#include "device/sensor_limits.h"
#include "platform/byte_order.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace veltrane {
namespace {

// The calibration floats are decoded by hand, independently of byte_order.h.
float f32At(const std::vector<std::uint8_t>& b, std::size_t off) {
    std::uint32_t bits = 0;
    for (int k = 3; k >= 0; --k)
        bits = (bits << 8) | b[off + k];
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}
int u16At(const std::vector<std::uint8_t>& b, std::size_t off) {
    return GetU16(b.data() + off);
}

double pixelShift(const SimModel& m, int i) {
    const auto cal = m.calibrationFile();
    double lambda = 0.0;
    for (int k = 4; k >= 0; --k)
        lambda = lambda * i + f32At(cal, 4 * k);
    return 1e7 / m.laserNm - 1e7 / lambda;
}

int pixelNearestShift(const SimModel& m, double shift) {
    int best = 0;
    for (int i = 1; i < m.pixelCount(); ++i)
        if (std::abs(pixelShift(m, i) - shift) < std::abs(pixelShift(m, best) - shift)) best = i;
    return best;
}

// Valid pixel index of the largest laser-on minus laser-off difference.
int peakPixel(const SimModel& m, const std::vector<std::uint16_t>& on, const std::vector<std::uint16_t>& off) {
    int best = 0;
    double bestRise = -1e9;
    for (int i = 0; i < m.pixelCount(); ++i) {
        const double rise = double(on[m.firstPixel + i]) - off[m.firstPixel + i];
        if (rise > bestRise) bestRise = rise, best = i;
    }
    return best;
}

double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

// The shifts come from the float32 calibration file, as the program would read it.
TEST(SimModelTest, LargeCalibrationsCoverTheirDisplayRangeMonotonically) {
    struct Case {
        SimModel model;
        double low, high;
    };
    for (const Case& c : {Case{SimModelLarge2500(), 400, 4000}, Case{SimModelLarge2048(), 400, 3000}}) {
        SCOPED_TRACE(c.model.label);
        const auto cal = c.model.calibrationFile();
        ASSERT_EQ(cal.size(), 24u);
        for (int k = 0; k < 5; ++k)
            EXPECT_EQ(f32At(cal, 4 * k), static_cast<float>(c.model.optics[k])) << k;
        EXPECT_EQ(f32At(cal, 20), 0.0f);
        EXPECT_LT(c.model.lastPixel, c.model.frameLength);
        const int n = c.model.pixelCount();
        EXPECT_LT(pixelShift(c.model, 0), c.low);
        EXPECT_GT(pixelShift(c.model, n - 1), c.high);
        for (int i = 1; i < n; ++i)
            ASSERT_GT(pixelShift(c.model, i), pixelShift(c.model, i - 1)) << i;
    }
    EXPECT_EQ(SimModelLarge2500().pixelCount(), 2500);
    EXPECT_EQ(SimModelLarge2048().pixelCount(), 2048);
}

TEST(SimModelTest, SmallModelFollowsTheBuiltInQuintic) {
    const double quintic[] = {323.124139860483,     2.3858233731047,     -0.867423647505312e-3,
                              -5.50503390300192e-6, 4.51235935677212e-9, 7.35313283236453e-12};
    const SimModel m = SimModelSmall256();
    for (int i = 0; i < 256; ++i) {
        double expected = 0.0, ours = 0.0;
        for (int k = 5; k >= 0; --k)
            expected = expected * i + quintic[k];
        for (int k = 4; k >= 0; --k)
            ours = ours * i + m.optics[k];
        ASSERT_NEAR(ours, expected, 0.05) << "pixel " << i;
    }
}

TEST(SimModelTest, PresetsByNameAndSerialLengths) {
    EXPECT_EQ(SimModelByName("2500")->deviceType, 179);
    EXPECT_EQ(SimModelByName("2048")->deviceType, 180);
    EXPECT_EQ(SimModelByName("256")->deviceType, 165);
    EXPECT_EQ(SimModelByName("UNKNOWN")->deviceType, SimModelUnknown().deviceType);
    EXPECT_FALSE(SimModelByName("4096").has_value());
    for (const SimModel& m : {SimModelLarge2500(), SimModelLarge2048(), SimModelSmall256(), SimModelUnknown()})
        EXPECT_LE(m.opticsSerial.size(), 20u) << m.label; // the device record has room for 20
}

TEST(SampleSpectrumTest, StrongestBandsAndBackgrounds) {
    struct Case {
        SimSample sample;
        double strongest;
    };
    for (const Case& c : {Case{SimSample::Polystyrene, 1001}, Case{SimSample::Cyclohexane, 801},
                          Case{SimSample::Paracetamol, 857}, Case{SimSample::Ethanol, 882}}) {
        SCOPED_TRACE(SimSampleName(c.sample));
        EXPECT_EQ(SimSampleByName(SimSampleName(c.sample)), c.sample);
        double bestShift = 0, best = 0;
        for (double s = 150; s <= 3600; s += 0.5)
            if (SampleRamanIntensity(c.sample, s) > best) best = SampleRamanIntensity(c.sample, s), bestShift = s;
        EXPECT_NEAR(bestShift, c.strongest, 2.0);
        EXPECT_NEAR(best, 1.0, 0.15);
    }

    // 560 nm is about 940 cm-1 from a 532 nm laser: on the fluorescing side.
    EXPECT_GT(SampleFluorescence(SimSample::Paracetamol, 560, 532),
              5 * SampleFluorescence(SimSample::Cyclohexane, 560, 532));
    // At the same Raman shift, a shorter laser excites more fluorescence.
    auto at1000 = [](double laser) {
        return SampleFluorescence(SimSample::Polystyrene, 1e7 / (1e7 / laser - 1000), laser);
    };
    EXPECT_GT(at1000(405), 1.5 * at1000(532));
    EXPECT_GT(at1000(532), 1.5 * at1000(785));
    EXPECT_LT(SampleFluorescence(SimSample::Polystyrene, 500, 532), 1e-3);
}

TEST(FrameSynthesizerTest, RamanPeakLandsOnItsPixelOnlyWithLaser) {
    for (const SimModel& m : {SimModelLarge2500(), SimModelLarge2048(), SimModelSmall256()}) {
        SCOPED_TRACE(m.label);
        FrameSynthesizer on(m, SimSample::Polystyrene, 11), off(m, SimSample::Polystyrene, 12);
        const auto lit = on.frame(1000, true);
        const auto dark = off.frame(1000, false);
        ASSERT_EQ(lit.size(), m.frameLength);
        ASSERT_EQ(dark.size(), m.frameLength);
        EXPECT_NEAR(peakPixel(m, lit, dark), pixelNearestShift(m, 1001.4), 3);
        std::vector<double> litValid, darkValid;
        for (int i = 0; i < m.pixelCount(); ++i) {
            litValid.push_back(lit[m.firstPixel + i]);
            darkValid.push_back(dark[m.firstPixel + i]);
        }
        const double rise = *std::max_element(litValid.begin(), litValid.end()) - median(litValid);
        EXPECT_GT(rise, 2000);
        EXPECT_LT(rise, 20000);
        EXPECT_LT(median(litValid), 2000);
        // Without the laser only dark level, pattern and noise remain.
        EXPECT_NEAR(median(darkValid), m.darkOffset + m.darkCurrentPerS, 15);
        EXPECT_LT(*std::max_element(darkValid.begin(), darkValid.end()) - median(darkValid), 80);
    }
}

TEST(FrameSynthesizerTest, SetSampleMovesThePeak) {
    const SimModel m = SimModelLarge2500();
    FrameSynthesizer s(m, SimSample::Polystyrene, 5), off(m, SimSample::Polystyrene, 6);
    s.setSample(SimSample::Cyclohexane);
    EXPECT_NEAR(peakPixel(m, s.frame(1000, true), off.frame(1000, false)), pixelNearestShift(m, 801.3), 3);
}

TEST(FrameSynthesizerTest, NoiseFollowsTheSeedAndGrowsWithTheLight) {
    const SimModel m = SimModelLarge2500();
    FrameSynthesizer a(m, SimSample::Ethanol, 42), b(m, SimSample::Ethanol, 42), c(m, SimSample::Ethanol, 43);
    const auto fa = a.frame(500, true);
    EXPECT_EQ(fa, b.frame(500, true));
    EXPECT_NE(fa, c.frame(500, true));
    EXPECT_NE(fa, a.frame(500, true)); // the generator moves on between frames

    // Per-frame spread from two independent frames: read noise of a few
    // counts in the dark, shot noise on top once light falls on the sensor.
    auto frameNoise = [&](bool laserOn) {
        FrameSynthesizer x(m, SimSample::Polystyrene, 21), y(m, SimSample::Polystyrene, 22);
        const auto fx = x.frame(1000, laserOn), fy = y.frame(1000, laserOn);
        double sum = 0;
        for (int p = m.firstPixel; p <= m.lastPixel; ++p)
            sum += (double(fx[p]) - fy[p]) * (double(fx[p]) - fy[p]);
        return std::sqrt(sum / m.pixelCount() / 2);
    };
    const double dark = frameNoise(false);
    EXPECT_GT(dark, 4);
    EXPECT_LT(dark, 15);
    EXPECT_GT(frameNoise(true), 2.5 * dark);
}

TEST(FrameSynthesizerTest, MaskedPixelsCarryDarkOnly) {
    const SimModel m = SimModelLarge2500();
    FrameSynthesizer on(m, SimSample::Paracetamol, 7), off(m, SimSample::Paracetamol, 8);
    const auto lit = on.frame(2000, true);
    const auto dark = off.frame(2000, false);
    double litSum = 0, darkSum = 0;
    int masked = 0;
    for (int p = 0; p < m.frameLength; ++p)
        if (p < m.firstPixel || p > m.lastPixel) litSum += lit[p], darkSum += dark[p], ++masked;
    ASSERT_EQ(masked, m.frameLength - m.pixelCount());
    EXPECT_NEAR(litSum / masked, darkSum / masked, 10);
    EXPECT_NEAR(litSum / masked, m.darkOffset + 2 * m.darkCurrentPerS, 15);
}

TEST(FrameSynthesizerTest, LongExposuresSaturateInsteadOfWrapping) {
    const SimModel m = SimModelLarge2500();
    FrameSynthesizer s(m, SimSample::Polystyrene, 9);
    const auto f = s.frame(60000, true);
    EXPECT_EQ(f[m.firstPixel + pixelNearestShift(m, 1001.4)], 65535);
    for (int i = 0; i < m.pixelCount(); ++i)
        ASSERT_GT(f[m.firstPixel + i], m.darkOffset) << i;
    const auto longest = s.frame(0xFFFFFFFFu, false);
    EXPECT_TRUE(std::all_of(longest.begin(), longest.end(), [](std::uint16_t v) { return v == 65535; }));
}

// As on hardware: the light grows with the integration time and the laser's
// power, the dark with the time alone, every run of the program draws other
// noise, and the converter clips where the program expects it to.
TEST(FrameSynthesizerTest, LightFollowsTimeAndPowerDarkFollowsTime) {
    const SimModel m = SimModelLarge2500();
    // Summed over the valid pixels, so the noise averages out.
    auto total = [&](std::uint32_t ms, bool laserOn, double power, std::uint64_t seed) {
        FrameSynthesizer s(m, SimSample::Polystyrene, seed);
        s.setLaserPower(power);
        const auto f = s.frame(ms, laserOn);
        double sum = 0;
        for (int p = m.firstPixel; p <= m.lastPixel; ++p)
            sum += f[p];
        return sum / m.pixelCount();
    };
    const double dark1 = total(1000, false, 100, 1), dark9 = total(9000, false, 100, 2);
    EXPECT_NEAR(dark9 - dark1, 8 * m.darkCurrentPerS, 2.0);
    const double light1 = total(1000, true, 100, 3) - dark1;
    EXPECT_NEAR((total(9000, true, 100, 4) - dark9) / light1, 9.0, 0.1);
    EXPECT_NEAR((total(1000, true, 25, 5) - dark1) / light1, 0.25, 0.02);
    EXPECT_NEAR(total(1000, false, 25, 6), dark1, 1.0);

    EXPECT_NE(FreshSimSeed(), FreshSimSeed());
    // The 256-pixel model reports its own type code; identification makes it type 1.
    EXPECT_EQ(SimModelSmall256().fullScale(), SensorLimitsOf(1).fullScale);
    for (const SimModel& model : {SimModelLarge2500(), SimModelLarge2048()})
        EXPECT_EQ(model.fullScale(), SensorLimitsOf(model.deviceType).fullScale) << model.label;
}

TEST(SampleLibraryRecordTest, HeaderLayoutAndNameTermination) {
    auto record = [](std::size_t nameLength) {
        return MakeSampleLibraryRecord(std::string(nameLength, 'a'), SimSample::Polystyrene, 0x01B3, 400, 4000, 2024,
                                       11, 28, 17, 5, 59);
    };
    const auto rec = record(63);
    ASSERT_EQ(rec.size(), 5120u);
    EXPECT_EQ(rec[62], 'a');
    EXPECT_EQ(rec[63], 0);
    EXPECT_EQ(GetI32(rec.data() + 64), 2024);
    EXPECT_EQ(GetI16(rec.data() + 68), 11);
    EXPECT_EQ(GetI16(rec.data() + 70), 28);
    EXPECT_EQ(GetI32(rec.data() + 72), 17);
    EXPECT_EQ(GetI16(rec.data() + 76), 5);
    EXPECT_EQ(GetI16(rec.data() + 78), 59);
    EXPECT_EQ(u16At(rec, 112), 0x01B3);
    EXPECT_TRUE(std::all_of(rec.begin() + 80, rec.begin() + 112, [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::all_of(rec.begin() + 114, rec.begin() + 120, [](std::uint8_t b) { return b == 0; }));
    // A name of 64 bytes or more fills the field with no terminator in front of the year.
    for (std::size_t length : {64u, 70u}) {
        const auto r = record(length);
        EXPECT_EQ(r[63], 'a');
        EXPECT_EQ(GetI32(r.data() + 64), 2024);
    }
}

TEST(SampleLibraryRecordTest, SpectrumAndShiftAxis) {
    const auto rec = MakeSampleLibraryRecord("PS", SimSample::Polystyrene, 179, 412.34, 3200, 2024, 1, 1, 0, 0, 0);
    EXPECT_EQ(u16At(rec, 2620), 4123);
    EXPECT_EQ(u16At(rec, 2620 + 2 * 1249), 32000);
    int peak = 0;
    for (int k = 1; k < 1250; ++k) {
        ASSERT_GT(u16At(rec, 2620 + 2 * k), u16At(rec, 2620 + 2 * (k - 1)));
        if (u16At(rec, 120 + 2 * k) > u16At(rec, 120 + 2 * peak)) peak = k;
    }
    EXPECT_NEAR(u16At(rec, 2620 + 2 * peak) / 10.0, 1001.4, 3.0);
    EXPECT_NEAR(u16At(rec, 120 + 2 * peak), 30000, 3000);
    EXPECT_LT(u16At(rec, 120 + 2 * 1249), 5000); // well off any band: only the baseline
}

} // namespace
} // namespace veltrane
