#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "measure/smoothing.h"

namespace veltrane {
namespace {

std::vector<float> Smooth(int level, const std::vector<float>& input) {
    std::vector<float> output(input.size(), -1.0f);
    SmoothSpectrum(SmoothCoefficients(level), kSmoothWindow, input.data(), output.data(),
                   static_cast<std::uint16_t>(input.size()));
    return output;
}

TEST(Smoothing, LevelsMapToCoefficientCounts) {
    EXPECT_EQ(SmoothCoefficients(0), 1);
    EXPECT_EQ(SmoothCoefficients(1), 20);
    EXPECT_EQ(SmoothCoefficients(4), 14);
    EXPECT_EQ(SmoothCoefficients(10), 2);
    EXPECT_EQ(SmoothCoefficients(15), 2);
    EXPECT_EQ(SmoothCoefficients(-3), 1);
}

// Every level passes a polynomial of its own degree (22 - 2 x level
// coefficients) through unchanged, the ten points at either end included.
// The polynomial is random and lives on [-1, 1] over the spectrum, so its
// values stay of order one and float32 precision is the only limit.
TEST(Smoothing, EveryLevelReproducesPolynomialsOfItsDegree) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> coefficient(-1.0, 1.0);
    for (int level = 1; level <= 10; ++level) {
        int degree = SmoothCoefficients(level) - 1;
        for (int count : {21, 60, 2500}) {
            std::vector<double> c(degree + 1);
            for (double& v : c) v = coefficient(random);
            std::vector<float> input(count);
            for (int i = 0; i < count; ++i) {
                double t = count == 1 ? 0.0 : 2.0 * i / (count - 1) - 1.0;
                double y = 0.0;
                for (int d = degree; d >= 0; --d) y = y * t + c[d];
                input[i] = static_cast<float>(y + 10.0);
            }
            std::vector<float> output = Smooth(level, input);
            // A degree-19 fit over a 2500-point spectrum: each 21-point window
            // sees the polynomial almost as a straight line; the tolerance is
            // a few float32 steps of values around 10.
            for (int i = 0; i < count; ++i)
                ASSERT_NEAR(output[i], input[i], 2e-5 * std::max(1.0f, std::fabs(input[i])))
                    << "level " << level << ", count " << count << ", point " << i;
        }
    }
}

TEST(Smoothing, ConstantsLinesParabolasAndCubicsPassWhereTheDegreeAllows) {
    std::vector<float> constant(300, 1234.5f), line(300), parabola(300), cubic(300);
    for (int i = 0; i < 300; ++i) {
        double t = i / 100.0;
        line[i] = static_cast<float>(100.0 + 30.0 * t);
        parabola[i] = static_cast<float>(50.0 - 10.0 * t + 4.0 * t * t);
        cubic[i] = static_cast<float>(5.0 + t - 2.0 * t * t + 0.75 * t * t * t);
    }
    for (int level = 1; level <= 10; ++level) {
        auto near = [&](const std::vector<float>& in) {
            std::vector<float> out = Smooth(level, in);
            for (std::size_t i = 0; i < in.size(); ++i)
                if (std::fabs(out[i] - in[i]) > 1e-5f * std::max(1.0f, std::fabs(in[i]))) return false;
            return true;
        };
        EXPECT_TRUE(near(constant)) << level;
        EXPECT_TRUE(near(line)) << level;
        EXPECT_EQ(near(parabola), level <= 9) << level; // level 10 fits straight lines
        EXPECT_EQ(near(cubic), level <= 9) << level;
    }
}

TEST(Smoothing, LevelTenIsThePlainMeanOfTwentyOneNeighbours) {
    for (int j = 0; j < kSmoothWindow; ++j) EXPECT_NEAR(SmoothWeights(2, 10)[j], 1.0 / 21.0, 1e-15);
    std::mt19937 random(5);
    std::uniform_real_distribution<float> value(0.0f, 1000.0f);
    std::vector<float> input(100);
    for (float& v : input) v = value(random);
    std::vector<float> output = Smooth(10, input);
    for (int i = 10; i < 90; ++i) {
        double mean = 0.0;
        for (int j = i - 10; j <= i + 10; ++j) mean += input[j];
        EXPECT_NEAR(output[i], mean / 21.0, 1e-3) << i;
    }
}

TEST(Smoothing, LevelZeroAndShortSpectraCopy) {
    std::vector<float> noisy = {5, -1, 7, 2, 9};
    EXPECT_EQ(Smooth(5, noisy), noisy); // fewer than 21 points
    std::vector<float> longer(50);
    for (int i = 0; i < 50; ++i) longer[i] = static_cast<float>((i * 37) % 11);
    EXPECT_EQ(Smooth(0, longer), longer);
    EXPECT_NE(Smooth(3, longer), longer);
}

} // namespace
} // namespace veltrane
