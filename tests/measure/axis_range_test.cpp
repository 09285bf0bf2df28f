#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "measure/axis_range.h"

namespace veltrane {
namespace {

TEST(AxisRangeParse, TakesNumbersAsTypedAndNothingElse) {
    const std::pair<const char*, double> good[] = {{"400", 400.0},   {"  12\t", 12.0},  {"+3.5", 3.5},
                                                   {"-0.25", -0.25}, {"5.", 5.0},       {".5", 0.5},
                                                   {"1e3", 1000.0},  {"2.5E-2", 0.025}, {"-1e+2", -100.0}};
    for (auto [text, value] : good) {
        std::optional<double> got = ParseDecimal(text);
        ASSERT_TRUE(got.has_value()) << text;
        EXPECT_DOUBLE_EQ(*got, value) << text;
    }
    for (const char* text : {"", "   ", "abc", "1,5", "1.2.3", ".", "-", "+-1", "- 1", "1 2", "e5", "1e", "1e+",
                             "12abc", "0x10", "inf", "-nan", "1e999"})
        EXPECT_FALSE(ParseDecimal(text).has_value()) << text;
    EXPECT_EQ(ConversionErrorText(" 12a"), "' 12a' is not a valid floating point value");
}

// A chart as a device set-up leaves it: both axes fixed, a coarse Y step.
struct AxisRangeApply : ::testing::Test {
    ChartModel chart;
    SeriesHandle series = chart.createLineSeries();

    void SetUp() override {
        for (ChartAxis axis : {ChartAxis::Bottom, ChartAxis::Left}) {
            chart.setAxisAutomaticMinimum(axis, false);
            chart.setAxisAutomaticMaximum(axis, false);
        }
        chart.setAxisMinimum(ChartAxis::Bottom, 100);
        chart.setAxisMaximum(ChartAxis::Bottom, 2000);
        chart.setAxisMinimum(ChartAxis::Left, 0);
        chart.setAxisMaximum(ChartAxis::Left, 65535);
        chart.setAxisDesiredIncrement(ChartAxis::Left, 5000);
    }
    void expectFixed(ChartAxis axis, double low, double high) {
        EXPECT_FALSE(chart.axisAutomaticMinimum(axis));
        EXPECT_FALSE(chart.axisAutomaticMaximum(axis));
        EXPECT_EQ(chart.currentAxisMinimum(axis), low);
        EXPECT_EQ(chart.currentAxisMaximum(axis), high);
    }
    static AxisRangeInput fixed(std::string xs, std::string xe, std::string ys, std::string ye) {
        return {false, false, std::move(xs), std::move(xe), std::move(ys), std::move(ye)};
    }
};

TEST_F(AxisRangeApply, FixedRangesAreTruncatedTowardZero) {
    AxisRangeOutcome out = ApplyAxisRange(chart, fixed("400.9", "4000.2", "-12.7", "800.99"));
    EXPECT_TRUE(!out.conversionError && out.rangeMessages.empty() && out.closeWindow);
    expectFixed(ChartAxis::Bottom, 400, 4000);
    expectFixed(ChartAxis::Left, -12, 800);
    EXPECT_EQ(chart.axisDesiredIncrement(ChartAxis::Left), 0);

    // Equal ends are a range like any other, also once truncated.
    out = ApplyAxisRange(chart, fixed("500", "500.7", "7", "7"));
    EXPECT_TRUE(out.rangeMessages.empty());
    expectFixed(ChartAxis::Bottom, 500, 500);
    expectFixed(ChartAxis::Left, 7, 7);
}

TEST_F(AxisRangeApply, AReversedRangeLeavesItsAxisAndTheOtherIsStillApplied) {
    AxisRangeOutcome out = ApplyAxisRange(chart, fixed("3000", "400", "10", "20"));
    EXPECT_EQ(out.rangeMessages, std::vector<std::string>{"X_max<X_min"});
    EXPECT_TRUE(out.closeWindow);
    expectFixed(ChartAxis::Bottom, 100, 2000);
    expectFixed(ChartAxis::Left, 10, 20);

    // Reversal is judged after truncation: 5.9 and 5.1 are the same range.
    out = ApplyAxisRange(chart, fixed("5.9", "5.1", "9", "-3"));
    EXPECT_EQ(out.rangeMessages, std::vector<std::string>{"Y_max<Y_min"});
    expectFixed(ChartAxis::Bottom, 5, 5);
    expectFixed(ChartAxis::Left, 10, 20);

    out = ApplyAxisRange(chart, fixed("9", "1", "9", "1"));
    EXPECT_EQ(out.rangeMessages, (std::vector<std::string>{"X_max<X_min", "Y_max<Y_min"}));
}

TEST_F(AxisRangeApply, ABoxThatIsNoNumberStopsEverythingButTheIncrementReset) {
    AxisRangeOutcome out = ApplyAxisRange(chart, fixed("300", "3000", "0", "12a"));
    ASSERT_TRUE(out.conversionError);
    EXPECT_EQ(*out.conversionError, "'12a' is not a valid floating point value");
    EXPECT_FALSE(out.closeWindow);
    EXPECT_TRUE(out.rangeMessages.empty());
    expectFixed(ChartAxis::Bottom, 100, 2000); // X was fine, yet not applied
    expectFixed(ChartAxis::Left, 0, 65535);
    EXPECT_EQ(chart.axisDesiredIncrement(ChartAxis::Left), 0);

    // The first bad box is the one named, and a reversed X is not reported
    // when a later box fails.
    out = ApplyAxisRange(chart, fixed("9", "x", "", ""));
    EXPECT_EQ(*out.conversionError, "'x' is not a valid floating point value");
    out = ApplyAxisRange(chart, fixed("9", "1", "", "5"));
    EXPECT_EQ(*out.conversionError, "'' is not a valid floating point value");
    EXPECT_TRUE(out.rangeMessages.empty());
}

TEST_F(AxisRangeApply, AutomaticAxesIgnoreTheirBoxesAndFollowTheData) {
    chart.addPoints(series, {{150.5, -3.0}, {2900.0, 812.0}});
    AxisRangeOutcome out = ApplyAxisRange(chart, {true, true, "abc", "", "1", "0"});
    EXPECT_TRUE(!out.conversionError && out.rangeMessages.empty());
    for (ChartAxis axis : {ChartAxis::Bottom, ChartAxis::Left}) {
        EXPECT_TRUE(chart.axisAutomaticMinimum(axis));
        EXPECT_TRUE(chart.axisAutomaticMaximum(axis));
    }
    chart.redrawNow();
    EXPECT_EQ(chart.currentAxisMinimum(ChartAxis::Bottom), 150.5);
    EXPECT_EQ(chart.currentAxisMaximum(ChartAxis::Left), 852.75); // 812 and 5 % headroom

    // Only one axis automatic: the other is still read and fixed.
    out = ApplyAxisRange(chart, {false, true, "200", "1000", "junk", "junk"});
    EXPECT_FALSE(out.conversionError);
    expectFixed(ChartAxis::Bottom, 200, 1000);
    EXPECT_TRUE(chart.axisAutomaticMaximum(ChartAxis::Left));
}

TEST_F(AxisRangeApply, FillShowsTheBoundsInForceAsWholeNumbers) {
    chart.setAxisMinimum(ChartAxis::Bottom, -12.7);
    chart.setAxisMaximum(ChartAxis::Bottom, 3999.9);
    chart.setAxisAutomaticMinimum(ChartAxis::Left, true);
    chart.setAxisAutomaticMaximum(ChartAxis::Left, true);
    chart.addPoints(series, {{1.0, -0.4}, {2.0, 250.6}});
    chart.redrawNow();
    AxisRangeTexts texts = CurrentAxisRangeTexts(chart);
    EXPECT_EQ(texts.xStart, "-12");
    EXPECT_EQ(texts.xEnd, "3999");
    EXPECT_EQ(texts.yStart, "0"); // never "-0"
    EXPECT_EQ(texts.yEnd, "263"); // 250.6 and 5 % headroom, 263.15
    EXPECT_EQ(WholeNumberText(-1e20), "-100000000000000000000");
}

} // namespace
} // namespace veltrane
