#pragma once

#include <cstddef>
#include <vector>

namespace veltrane {

// The strongest peaks of a curve by prominence: how far a peak stands above
// the higher of the two lowest points that separate it from taller ground on
// either side (or from the curve's end). A tall band on a sloping background
// wins over a noise spike on its flank, which height alone would not tell.
// Returns at most `most` indices, those with prominence of at least
// `smallest`, in ascending index order.
std::vector<std::size_t> ProminentPeaks(const std::vector<double>& y, std::size_t most, double smallest);

} // namespace veltrane
