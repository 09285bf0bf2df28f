#include "shared/axis_ticks.h"

#include <array>
#include <cmath>

namespace veltrane {

namespace {
constexpr double kPixelsPerTick = 90.0;
// Far more ticks than any screen shows: a range too narrow for doubles to
// step through, or a step lost in rounding.
constexpr int kMostTicks = 1000;
} // namespace

AxisTicks ChooseAxisTicks(double minimum, double maximum, double pixels) {
    AxisTicks ticks;
    const double range = maximum - minimum;
    if (!(range > 0.0) || !std::isfinite(range) || !(pixels > 0.0) || !std::isfinite(pixels)) return ticks;
    // The round step whose spacing on screen comes nearest to the aim, judged
    // by ratio: 84 px beats 210 px, 83 px beats 167 px.
    const double ideal = range * kPixelsPerTick / pixels;
    const double decade = std::pow(10.0, std::floor(std::log10(ideal)));
    double best = 0.0;
    double bestMiss = INFINITY;
    for (double scale : {0.1, 1.0, 10.0}) {
        for (double mantissa : {1.0, 2.0, 5.0}) {
            const double step = mantissa * decade * scale;
            const double miss = std::abs(std::log(step / ideal));
            if (miss < bestMiss) {
                bestMiss = miss;
                best = step;
            }
        }
    }
    const double first = std::ceil(minimum / best) * best;
    const double count = std::floor((maximum - first) / best + 1e-9) + 1.0;
    if (!(count >= 1.0) || count > kMostTicks) return ticks;
    ticks.step = best;
    // -0 would print as "-0".
    ticks.first = first == 0.0 ? 0.0 : first;
    ticks.count = static_cast<int>(count);
    return ticks;
}

double WithHeadroom(double lowest, double highest) {
    if (!(highest > lowest)) return highest;
    return highest + (highest - lowest) * kHeadroomFraction;
}

} // namespace veltrane
