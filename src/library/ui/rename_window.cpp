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

#include "app/ui/main_window.h"
#include "library/library_file.h"
#include "library/maintenance.h"
#include "library/ui/library_controller.h"

namespace veltrane {

TForm_rename::TForm_rename(TForm_main& main) : QWidget(nullptr, kFixedDialogFlags), m_main(main) {
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
    UserDialogs& dialogs = m_main.services().dialogs;
    if (newName.size() > kNameFieldSize) {
        dialogs.message("File name over 64 word", kMessageCaption, MessageIcon::Error);
        return;
    }
    ProgramState& state = m_main.state();
    LibraryView view = state.library.lib.libraryView;
    RenameResult result = RenameLibrary(state.library.lib.libraryFolder, view, m_oldFile, newName);
    if (result != RenameResult::Done) {
        dialogs.message(RenameMessage(result), kMessageCaption, MessageIcon::Error);
        return;
    }
    m_main.library().RemoveCurvesOf({state.library.lib.libraryFolder + m_oldFile});
    m_main.library().RefreshLibraryList(view);
    dialogs.message(RenameMessage(result), kMessageCaption, MessageIcon::None);
    m_main.setEnabled(true);
    close();
}

void TForm_rename::Button_cancelClick() {
    m_main.setEnabled(true);
    close();
}

void TForm_rename::closeEvent(QCloseEvent* event) {
    m_main.setEnabled(true);
    event->accept();
}

LibraryMaintenance::LibraryMaintenance(TForm_main& main, TForm_rename& rename)
    : QObject(nullptr), m_main(main), m_rename(rename) {
    QTableWidget* grid = main.libraryGrid();
    auto* remove = new QAction("Delete", grid);
    remove->setObjectName("Delete");
    auto* renameAction = new QAction("Rename", grid);
    renameAction->setObjectName("Rename");
    grid->addAction(remove);
    grid->addAction(renameAction);
    connect(remove, &QAction::triggered, this, &LibraryMaintenance::DeleteClick);
    connect(renameAction, &QAction::triggered, this, &LibraryMaintenance::RenameClick);
}

bool LibraryMaintenance::refusedDuringTransfer() {
    // A file deleted or renamed under a running export would be pulled from
    // under the worker.
    if (m_main.state().library.transferState.load(std::memory_order_acquire) == 0) return false;
    m_main.services().dialogs.message(kMeasureProcessingMessage, kMessageCaption, MessageIcon::Error);
    return true;
}

void LibraryMaintenance::DeleteClick() {
    if (refusedDuringTransfer()) return;
    LibraryController& library = m_main.library();
    std::vector<int> rows = library.tickedRows();
    UserDialogs& dialogs = m_main.services().dialogs;
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
    ProgramState& state = m_main.state();
    std::vector<std::string> paths;
    for (const std::string& file : files)
        paths.push_back(state.library.lib.libraryFolder + file);
    DeleteLibraries(state.library.lib.libraryFolder, files);
    library.RefreshLibraryList(state.library.lib.libraryView);
    library.RemoveCurvesOf(paths);
}

void LibraryMaintenance::RenameClick() {
    if (refusedDuringTransfer()) return;
    LibraryController& library = m_main.library();
    std::vector<int> rows = library.tickedRows();
    UserDialogs& dialogs = m_main.services().dialogs;
    if (rows.empty()) {
        dialogs.message(kNotSelect, kMessageCaption, MessageIcon::Warning);
        return;
    }
    if (rows.size() > 1) {
        dialogs.message(kRenameOneAtOnce, kMessageCaption, MessageIcon::Warning);
        return;
    }
    m_main.PlaceDialog(&m_rename, &m_main);
    m_rename.setOldLibrary(library.rowName(rows.front()), library.rowFile(rows.front()));
}

} // namespace veltrane
