#pragma once

#include <QWidget>

class QLineEdit;

namespace veltrane {

class TForm_main;

// "Save to Library": names the shown spectrum and stores it as a PC library.
// It also owns the tool bar's Make Library button (SpeedButton_save_libClick),
// so the checks, the window and the save sit together; the main window only
// wires the button to it.
class TForm_make_lib : public QWidget {
    Q_OBJECT

public:
    explicit TForm_make_lib(TForm_main& main);

    void SpeedButton_save_libClick();
    void Button_saveClick();
    void Button_exitClick();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    TForm_main& m_main;
    QLineEdit* m_fileName = nullptr;
};

} // namespace veltrane
