#pragma once

#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace veltrane {

// The controls both rename windows share: "Old Name:" with the current name,
// "New Name:" with an edit box, and the Rename and Cancel buttons, laid out
// in the window under the names the program gives them.
struct RenameForm {
    QLabel* oldName;
    QLineEdit* newName;
    QPushButton* rename;
    QPushButton* cancel;
};
RenameForm BuildRenameForm(QWidget* window, const QString& oldText, const QString& newText);

} // namespace veltrane
