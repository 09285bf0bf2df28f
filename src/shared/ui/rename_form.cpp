#include "shared/ui/rename_form.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace veltrane {

RenameForm BuildRenameForm(QWidget* window, const QString& oldText, const QString& newText) {
    auto* grid = new QGridLayout(window);
    auto* oldLabel = new QLabel("Old Name:", window);
    oldLabel->setObjectName("Label2");
    RenameForm form{};
    form.oldName = new QLabel(oldText, window);
    form.oldName->setObjectName("Label_old_name");
    auto* newLabel = new QLabel("New Name:", window);
    newLabel->setObjectName("Label1");
    form.newName = new QLineEdit(newText, window);
    form.newName->setObjectName("Edit_new_name");
    grid->addWidget(oldLabel, 0, 0);
    grid->addWidget(form.oldName, 0, 1);
    grid->addWidget(newLabel, 1, 0);
    grid->addWidget(form.newName, 1, 1);
    auto* buttons = new QHBoxLayout;
    form.rename = new QPushButton("Rename", window);
    form.rename->setObjectName("Button_rename");
    form.cancel = new QPushButton("Cancel", window);
    form.cancel->setObjectName("Button_cancel");
    buttons->addStretch(1);
    buttons->addWidget(form.rename);
    buttons->addWidget(form.cancel);
    grid->addLayout(buttons, 2, 0, 1, 2);
    return form;
}

} // namespace veltrane
