#include <gtest/gtest.h>

#include <cmath>

#include "shared/axis_ticks.h"
#include "shared/peak_finder.h"

namespace veltrane {
namespace {

TEST(AxisTicks, RoundStepsAboutNinetyPixelsApart) {
    struct Case {
        double minimum, maximum, pixels;
        double step, first;
        int count;
    };
    const Case cases[] = {
        {1597.0, 15914.0, 600.0, 2000.0, 2000.0, 7}, // 84 px apart, not 13825.6-style labels
        {400.0, 4000.0, 600.0, 500.0, 500.0, 8},     // 83 px, not 167 px with 1000
        {400.0, 4000.0, 1000.0, 500.0, 500.0, 8},    // 139 px beats 56 px with 200
        {0.0, 65535.0, 450.0, 10000.0, 0.0, 7},      // intensities
        {-20.5, 4539.0, 300.0, 1000.0, 0.0, 5},      // a negative start ticks from 0
        {0.0, 1.0, 450.0, 0.2, 0.0, 6},              // below one: decimal steps
        {402.1, 402.7, 400.0, 0.1, 402.1, 7},        // a deep zoom
        {-3e6, -1e6, 800.0, 200000.0, -3e6, 11},     // all negative
    };
    for (const Case& c : cases) {
        AxisTicks t = ChooseAxisTicks(c.minimum, c.maximum, c.pixels);
        SCOPED_TRACE(testing::Message() << c.minimum << ".." << c.maximum << " at " << c.pixels << " px");
        EXPECT_NEAR(t.step, c.step, c.step * 1e-12);
        EXPECT_NEAR(t.first, c.first, c.step * 1e-9);
        EXPECT_EQ(t.count, c.count);
        // Every tick a whole multiple of the step, inside the range.
        EXPECT_GE(t.first, c.minimum - c.step * 1e-9);
        EXPECT_LE(t.first + (t.count - 1) * t.step, c.maximum + c.step * 1e-9);
    }
    // Nothing to tick: an empty, reversed or non-finite range, or no length.
    for (auto [lo, hi, px] : {std::tuple{5.0, 5.0, 600.0}, {10.0, 0.0, 600.0}, {0.0, NAN, 600.0}, {0.0, 1.0, 0.0}})
        EXPECT_EQ(ChooseAxisTicks(lo, hi, px).count, 0);
}

TEST(AxisTicks, AutomaticTopLeavesHeadroomAboveTheHighestPoint) {
    EXPECT_DOUBLE_EQ(WithHeadroom(0.0, 1000.0), 1050.0);
    EXPECT_DOUBLE_EQ(WithHeadroom(-20.0, 80.0), 85.0);
    EXPECT_DOUBLE_EQ(WithHeadroom(7.0, 7.0), 7.0); // a flat curve: nothing to scale by
}

TEST(PeakFinder, StrongestByProminenceNotByHeight) {
    // A tall band on a rising background with a noise spike on its flank,
    // and a small band standing alone on low ground.
    std::vector<double> y = {0, 1, 2, 10, 3, 4, 40, 38, 39, 6, 5, 5, 9, 5, 4};
    //                       0  1  2  3   4  5  6   7   8   9  10 11 12 13 14
    // Prominences: 6 -> 36 (above the end at 4), 3 -> 7, 12 -> 4, 8 -> 1.
    EXPECT_EQ(ProminentPeaks(y, 10, 0.0), (std::vector<std::size_t>{3, 6, 8, 12}));
    EXPECT_EQ(ProminentPeaks(y, 2, 0.0), (std::vector<std::size_t>{3, 6}));
    EXPECT_EQ(ProminentPeaks(y, 10, 4.0), (std::vector<std::size_t>{3, 6, 12}));
    // A flat top is one peak; ends and a monotonic curve are none.
    EXPECT_EQ(ProminentPeaks({1, 5, 5, 5, 1}, 10, 0.0), std::vector<std::size_t>{1});
    EXPECT_TRUE(ProminentPeaks({1, 2, 3, 4}, 10, 0.0).empty());
    EXPECT_TRUE(ProminentPeaks({}, 10, 0.0).empty());
}

} // namespace
} // namespace veltrane
