#pragma once

class QPushButton;
class QWidget;

namespace veltrane {

// Enter presses the window's default button and Escape closes the window, as
// in any dialog. The secondary windows are plain top-level widgets, which Qt
// gives neither, so each one asks for them here. `defaultButton` may be null
// for a window that only closes.
void UseDialogKeys(QWidget* window, QPushButton* defaultButton);

} // namespace veltrane
