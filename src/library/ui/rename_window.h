#pragma once

#include <QObject>
#include <QWidget>
#include <string>

#include "library/library_state.h"
#include "library/ui/library_controller.h"
#include "shared/ui/window_host.h"

class QAction;
class QLabel;
class QLineEdit;

namespace veltrane {

// "Rename": a new name for one ticked library.
class TForm_rename : public QWidget {
    Q_OBJECT

public:
    TForm_rename(WindowHost& main, LibraryState& library, LibraryController& libraries);

    // The library to rename: the name its row shows (header bytes, shown
    // decoded) and the file the row was listed from, which the rename acts on.
    void setOldLibrary(const std::string& nameBytes, const std::string& fileName);
    void Button_renameClick();
    void Button_cancelClick();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    WindowHost& m_main;
    LibraryState& m_library;
    LibraryController& m_libraryController;
    QLabel* m_oldName;
    std::string m_oldFile;
    QLineEdit* m_newName;
};

// The grid's pop-up menu: "Delete" and "Rename" of the ticked libraries.
class LibraryMaintenance : public QObject {
    Q_OBJECT

public:
    LibraryMaintenance(WindowHost& main, TForm_rename& rename, LibraryState& library, LibraryController& libraries);

    void DeleteClick();
    void RenameClick();
    // Before the menu opens: its entries say which rows they act on (the
    // ticked ones, not the one under the pointer) and are off when none is.
    void PopupMenu1Popup();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    WindowHost& m_main;
    QAction* m_delete = nullptr;
    QAction* m_renameAction = nullptr;
    TForm_rename& m_rename;
    LibraryState& m_library;
    LibraryController& m_libraryController;
    bool refusedDuringTransfer();
};

} // namespace veltrane
