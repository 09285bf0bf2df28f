#pragma once

namespace veltrane {

// Where an axis puts its ticks when nobody asked for a step: at whole
// multiples of a round step (1, 2 or 5 times a power of ten), about one tick
// per 80 to 100 pixels of axis, so labels read 500, 1000, 1500 rather than
// 402.1, 1121.5.
struct AxisTicks {
    double step = 0.0;  // 0 when the range or the length gives nothing to tick
    double first = 0.0; // the lowest multiple of step at or above the minimum
    int count = 0;      // ticks from first up to the maximum
};
AxisTicks ChooseAxisTicks(double minimum, double maximum, double pixels);

// The top of an automatic axis: a little above the highest point, so the
// tallest peak does not touch the frame.
constexpr double kHeadroomFraction = 0.05;
double WithHeadroom(double lowest, double highest);

} // namespace veltrane
