#include "library/ui/make_library_window.h"

#include "shared/ui/dialog_keys.h"
#include "shared/ui/window_flags.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "library/library_file.h"
#include "library/make_library.h"

namespace veltrane {

TForm_make_lib::TForm_make_lib(WindowHost& main, MeasurementSession& session, const DeviceInfo& device,
                               LibraryState& library)
    : QWidget(nullptr, kFixedDialogFlags), m_main(main), m_session(session), m_device(device), m_library(library) {
    setObjectName("TForm_make_lib");
    setWindowTitle("Save to Library");
    setFont(QFont("Calibri", 10));
    setFixedSize(340, 112);

    auto* label = new QLabel("File_name:", this);
    label->setObjectName("Label1");
    label->setGeometry(16, 22, 72, 24);
    m_fileName = new QLineEdit("File_name", this);
    m_fileName->setObjectName("Edit_file_name");
    m_fileName->setGeometry(92, 22, 232, 24);

    auto* save = new QPushButton("Save", this);
    save->setObjectName("Button_save");
    save->setGeometry(92, 66, 100, 30);
    auto* exit = new QPushButton("Cancel", this);
    exit->setObjectName("Button_exit");
    exit->setGeometry(224, 66, 100, 30);
    connect(save, &QPushButton::clicked, this, &TForm_make_lib::Button_saveClick);
    connect(exit, &QPushButton::clicked, this, &TForm_make_lib::Button_exitClick);
    UseDialogKeys(this, save);
}

void TForm_make_lib::SpeedButton_save_libClick() {
    if (const char* refusal = MakeLibraryRefusal(m_session, m_device)) {
        m_main.dialogs().message(refusal, kMessageCaption, MessageIcon::Error);
        return;
    }
    m_main.PlaceDialog(this, m_main.mainWindow());
}

void TForm_make_lib::Button_saveClick() {
    // Linux's code page is UTF-8, so the name's bytes are its UTF-8 form and
    // the 64-byte limit counts those.
    std::string name = m_fileName->text().toStdString();
    std::string folder = LibraryFolderPath(m_main.paths().libraryRoot, LibraryView::Pc);
    MakeLibraryResult result = MakeLibrary(name, m_session, m_device, m_library, folder, CurrentLocalDateTime());
    LibraryMessage shown = MakeLibraryMessage(result);
    std::string text = shown.text;
    // The chart shows every point of an opened spectrum; the entry is where
    // they are given up, so this is where it is said.
    if (result == MakeLibraryResult::Made) {
        if (std::string resampled = ResampledForLibraryNotice(m_session); !resampled.empty()) text += "\n" + resampled;
    }
    m_main.dialogs().message(text, kMessageCaption, shown.icon);
    // On a refusal the typed name stays for the user to correct.
    if (result != MakeLibraryResult::Made) return;
    m_main.showNotice(QString("Library %1 made").arg(QString::fromStdString(name)));
    m_main.mainWindow()->setEnabled(true);
    close();
}

void TForm_make_lib::Button_exitClick() {
    close();
    m_main.mainWindow()->setEnabled(true);
}

void TForm_make_lib::closeEvent(QCloseEvent* event) {
    m_main.mainWindow()->setEnabled(true);
    event->accept();
}

} // namespace veltrane
