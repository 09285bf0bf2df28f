#pragma once

#include <Qt>

namespace veltrane {

// The secondary windows: top-level, fixed size, a title bar with the close
// box only.
inline constexpr Qt::WindowFlags kFixedDialogFlags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint |
                                                     Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                                     Qt::WindowTitleHint;

} // namespace veltrane
