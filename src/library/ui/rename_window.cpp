#include "library/ui/rename_window.h"

#include "shared/ui/rename_form.h"

#include "shared/ui/dialog_keys.h"
#include "shared/ui/window_flags.h"

#include <QAction>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "library/library_file.h"
#include "library/maintenance.h"
#include "library/ui/library_controller.h"

namespace veltrane {

TForm_rename::TForm_rename(WindowHost& main, LibraryState& library, LibraryController& libraries)
    : QWidget(nullptr, kFixedDialogFlags), m_main(main), m_library(library), m_libraryController(libraries) {
    setObjectName("TForm_rename");
    setWindowTitle("Rename");
    setFont(QFont("Calibri", 10));
    setFixedSize(360, 130);
    RenameForm form = BuildRenameForm(this, "old_name", "New Name");
    m_oldName = form.oldName;
    m_newName = form.newName;
    connect(form.rename, &QPushButton::clicked, this, &TForm_rename::Button_renameClick);
    connect(form.cancel, &QPushButton::clicked, this, &TForm_rename::Button_cancelClick);
    UseDialogKeys(this, form.rename);
}

void TForm_rename::setOldLibrary(const std::string& nameBytes, const std::string& fileName) {
    // The label is for the eye only: a Windows-1252 name would not survive
    // the way back from its text.
    m_oldName->setText(QString::fromStdString(DisplayName(nameBytes)));
    m_oldFile = fileName;
}

void TForm_rename::Button_renameClick() {
    std::string newName = m_newName->text().toStdString();
    UserDialogs& dialogs = m_main.dialogs();
    if (newName.size() > kNameFieldSize) {
        dialogs.message("File name over 64 word", kMessageCaption, MessageIcon::Error);
        return;
    }
    LibraryView view = m_library.lib.libraryView;
    RenameResult result = RenameLibrary(m_library.lib.libraryFolder, view, m_oldFile, newName);
    if (result != RenameResult::Done) {
        dialogs.message(RenameMessage(result), kMessageCaption, MessageIcon::Error);
        return;
    }
    m_libraryController.RemoveCurvesOf({m_library.lib.libraryFolder + m_oldFile});
    m_libraryController.RefreshLibraryList(view);
    dialogs.message(RenameMessage(result), kMessageCaption, MessageIcon::None);
    m_main.mainWindow()->setEnabled(true);
    close();
}

void TForm_rename::Button_cancelClick() {
    m_main.mainWindow()->setEnabled(true);
    close();
}

void TForm_rename::closeEvent(QCloseEvent* event) {
    m_main.mainWindow()->setEnabled(true);
    event->accept();
}

LibraryMaintenance::LibraryMaintenance(WindowHost& main, TForm_rename& rename, LibraryState& library,
                                       LibraryController& libraries)
    : QObject(nullptr), m_main(main), m_rename(rename), m_library(library), m_libraryController(libraries) {
    QTableWidget* grid = main.libraryGrid();
    auto* remove = new QAction("Delete", grid);
    remove->setObjectName("Delete");
    auto* renameAction = new QAction("Rename", grid);
    renameAction->setObjectName("Rename");
    grid->addAction(remove);
    grid->addAction(renameAction);
    m_delete = remove;
    m_renameAction = renameAction;
    connect(remove, &QAction::triggered, this, &LibraryMaintenance::DeleteClick);
    connect(renameAction, &QAction::triggered, this, &LibraryMaintenance::RenameClick);
    // A right click lands on the grid's viewport, the menu key on the grid.
    grid->installEventFilter(this);
    grid->viewport()->installEventFilter(this);
}

bool LibraryMaintenance::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ContextMenu) PopupMenu1Popup();
    return QObject::eventFilter(watched, event);
}

void LibraryMaintenance::PopupMenu1Popup() {
    std::vector<int> rows = m_libraryController.tickedRows();
    std::string name = rows.size() == 1 ? DisplayName(m_libraryController.rowName(rows.front())) : std::string();
    MaintenanceMenuTexts texts = MaintenanceMenuCaptions(rows.size(), name);
    // A name's "&" is no mnemonic.
    m_delete->setText(QString::fromStdString(texts.remove).replace('&', "&&"));
    m_renameAction->setText(QString::fromStdString(texts.rename).replace('&', "&&"));
    m_delete->setEnabled(!rows.empty());
    m_renameAction->setEnabled(!rows.empty());
}

bool LibraryMaintenance::refusedDuringTransfer() {
    // A file deleted or renamed under a running export would be pulled from
    // under the worker.
    if (m_library.transferState.load(std::memory_order_acquire) == 0) return false;
    m_main.dialogs().message(kMeasureProcessingMessage, kMessageCaption, MessageIcon::Error);
    return true;
}

void LibraryMaintenance::DeleteClick() {
    if (refusedDuringTransfer()) return;
    LibraryController& library = m_libraryController;
    std::vector<int> rows = library.tickedRows();
    UserDialogs& dialogs = m_main.dialogs();
    if (rows.empty()) {
        dialogs.message(kNotSelect, kMessageCaption, MessageIcon::Warning);
        return;
    }
    std::vector<std::string> names, files;
    for (int row : rows) {
        names.push_back(DisplayName(library.rowName(row)));
        files.push_back(library.rowFile(row));
    }
    if (dialogs.message(DeleteQuestion(names), kMessageCaption, MessageIcon::Warning, MessageButtons::OkCancel) !=
        DialogAnswer::Ok)
        return;
    std::vector<std::string> paths;
    for (const std::string& file : files)
        paths.push_back(m_library.lib.libraryFolder + file);
    DeleteLibraries(m_library.lib.libraryFolder, files);
    library.RefreshLibraryList(m_library.lib.libraryView);
    library.RemoveCurvesOf(paths);
}

void LibraryMaintenance::RenameClick() {
    if (refusedDuringTransfer()) return;
    LibraryController& library = m_libraryController;
    std::vector<int> rows = library.tickedRows();
    UserDialogs& dialogs = m_main.dialogs();
    if (rows.empty()) {
        dialogs.message(kNotSelect, kMessageCaption, MessageIcon::Warning);
        return;
    }
    if (rows.size() > 1) {
        dialogs.message(kRenameOneAtOnce, kMessageCaption, MessageIcon::Warning);
        return;
    }
    m_main.PlaceDialog(&m_rename, m_main.mainWindow());
    m_rename.setOldLibrary(library.rowName(rows.front()), library.rowFile(rows.front()));
}

} // namespace veltrane
