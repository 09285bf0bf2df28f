#pragma once

#include <QObject>
#include <QWidget>
#include <string>

class QAction;
class QLabel;
class QLineEdit;

namespace veltrane {

class TForm_main;

// "Rename": a new name for one ticked library.
class TForm_rename : public QWidget {
    Q_OBJECT

public:
    explicit TForm_rename(TForm_main& main);

    // The library to rename: the name its row shows (header bytes, shown
    // decoded) and the file the row was listed from, which the rename acts on.
    void setOldLibrary(const std::string& nameBytes, const std::string& fileName);
    void Button_renameClick();
    void Button_cancelClick();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    TForm_main& m_main;
    QLabel* m_oldName;
    std::string m_oldFile;
    QLineEdit* m_newName;
};

// The grid's pop-up menu: "Delete" and "Rename" of the ticked libraries.
class LibraryMaintenance : public QObject {
    Q_OBJECT

public:
    LibraryMaintenance(TForm_main& main, TForm_rename& rename);

    void DeleteClick();
    void RenameClick();

private:
    TForm_main& m_main;
    TForm_rename& m_rename;
    bool refusedDuringTransfer();
};

} // namespace veltrane
