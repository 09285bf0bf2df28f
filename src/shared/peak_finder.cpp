#include "shared/peak_finder.h"

#include <algorithm>
#include <utility>

namespace veltrane {

std::vector<std::size_t> ProminentPeaks(const std::vector<double>& y, std::size_t most, double smallest) {
    const std::size_t n = y.size();
    std::vector<std::pair<double, std::size_t>> found; // prominence, index
    for (std::size_t i = 1; i + 1 < n; ++i) {
        // A flat top counts once, at its first point.
        if (!(y[i] > y[i - 1])) continue;
        std::size_t right = i + 1;
        while (right < n && y[right] == y[i])
            ++right;
        if (right == n || !(y[right] < y[i])) continue;
        // Walk out to the first taller point on each side; the lowest point
        // on the way is that side's saddle.
        double leftLow = y[i];
        for (std::size_t j = i; j-- > 0 && !(y[j] > y[i]);)
            leftLow = std::min(leftLow, y[j]);
        double rightLow = y[i];
        for (std::size_t j = right; j < n && !(y[j] > y[i]); ++j)
            rightLow = std::min(rightLow, y[j]);
        const double prominence = y[i] - std::max(leftLow, rightLow);
        if (prominence >= smallest) found.emplace_back(prominence, i);
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    if (found.size() > most) found.resize(most);
    std::vector<std::size_t> indices;
    for (const auto& f : found)
        indices.push_back(f.second);
    std::sort(indices.begin(), indices.end());
    return indices;
}

} // namespace veltrane
