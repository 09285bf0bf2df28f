#include <gtest/gtest.h>

#include "platform/clock.h"

namespace veltrane {
namespace {

TEST(Clocks, VirtualClockSleepAdvancesAndWrapsAt32Bits) {
    VirtualClock clock(0xFFFFFFF0u);
    clock.sleep(0x20);
    EXPECT_EQ(clock.tickCount(), 0x10u);
    EXPECT_EQ(TicksSince(0xFFFFFFF0u, clock.tickCount()), 0x20u);
    EXPECT_EQ(clock.sleptMs(), 0x20u);
    clock.advance(5); // time passing without a sleep is not counted as slept
    EXPECT_EQ(clock.sleptMs(), 0x20u);
}

TEST(Clocks, SteadyAndScaledClocksMoveForwardAtTheirRate) {
    SteadyClock steady(0xFFFFFFFFu);
    ScaledClock scaled(200);
    std::uint32_t s0 = steady.tickCount();
    std::uint32_t c0 = scaled.tickCount();
    scaled.sleep(2000); // 10 ms of real time
    std::uint32_t steadyElapsed = TicksSince(s0, steady.tickCount());
    std::uint32_t scaledElapsed = TicksSince(c0, scaled.tickCount());
    EXPECT_GE(steadyElapsed, 9u);
    EXPECT_GE(scaledElapsed, 2000u);
    // The scaled clock runs 200 times faster than the steady one; allow for
    // scheduling noise on a loaded machine.
    EXPECT_GE(scaledElapsed, steadyElapsed * 100);
}

} // namespace
} // namespace veltrane
