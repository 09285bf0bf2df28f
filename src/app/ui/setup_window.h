#pragma once

#include <QWidget>

class QComboBox;
class QPushButton;
class QLabel;
class QTabWidget;
class QTableWidget;

namespace veltrane {

class TForm_main;
class TForm_axis_check;

// "Setup": the main window's size on its "Screen" page and the eight hotkeys
// on its "Hotkey" page.
class TForm_setup : public QWidget {
    Q_OBJECT

public:
    explicit TForm_setup(TForm_main& main);

    void selectScreenPage();
    // Wires the "Check Raman Axis…" button to that window.
    void attachAxisCheck(TForm_axis_check* axisCheck);
    QTableWidget* hotkeyGrid() const { return m_grid; }

    void Button_screen_setClick();
    void Button_screen_cancelClick();
    // A key typed on the hotkey grid, already turned into upper-case text.
    void StringGrid_hotkeyKeyPress(const std::string& upperText);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TForm_main& m_main;
    QTabWidget* m_pages;
    QComboBox* m_sizes;
    QLabel* m_sizeInForce;
    QTableWidget* m_grid;
    QPushButton* m_checkAxis;
};

} // namespace veltrane
