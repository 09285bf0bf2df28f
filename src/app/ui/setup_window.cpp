#include "app/ui/setup_window.h"

#include "shared/ui/dialog_keys.h"
#include "shared/ui/window_flags.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/hotkeys.h"
#include "app/ui/main_window.h"
#include "axis_check/ui/axis_check_window.h"
#include "identify/ui/identify_controller.h"
#include "shared/window_rules.h"

namespace veltrane {

namespace {
// The grid's row of the Identify key, below the eight of the hotkey record.
constexpr int kIdentifyRow = static_cast<int>(kHotkeyCount) + 1;
} // namespace

TForm_setup::TForm_setup(TForm_main& main) : QWidget(nullptr, kFixedDialogFlags), m_main(main) {
    setObjectName("TForm_setup");
    setWindowTitle("Setup");
    setFixedSize(340, 330);
    auto* layout = new QVBoxLayout(this);
    m_pages = new QTabWidget(this);
    m_pages->setObjectName("PageControl1");
    layout->addWidget(m_pages);

    auto* screen = new QWidget;
    screen->setObjectName("Screen");
    auto* screenLayout = new QVBoxLayout(screen);
    auto* resolution = new QGroupBox("Resolution Set", screen);
    resolution->setObjectName("GroupBox_resolution");
    auto* resolutionLayout = new QVBoxLayout(resolution);
    m_sizes = new QComboBox(resolution);
    m_sizes->setObjectName("ComboBox_form_size");
    for (const char* name : kScreenSizeNames)
        m_sizes->addItem(name);
    m_sizes->setCurrentIndex(0);
    resolutionLayout->addWidget(m_sizes);
    m_sizeInForce = new QLabel(resolution);
    m_sizeInForce->setObjectName("Label_size_in_force");
    resolutionLayout->addWidget(m_sizeInForce);
    screenLayout->addWidget(resolution);
    auto* buttons = new QHBoxLayout;
    auto* apply = new QPushButton("Apply", screen);
    apply->setObjectName("Button_screen_set");
    auto* cancel = new QPushButton("Cancel", screen);
    cancel->setObjectName("Button_screen_cancel");
    buttons->addStretch(1);
    buttons->addWidget(apply);
    buttons->addWidget(cancel);
    screenLayout->addLayout(buttons);
    screenLayout->addStretch(1);
    m_pages->addTab(screen, "Screen");
    connect(apply, &QPushButton::clicked, this, &TForm_setup::Button_screen_setClick);
    connect(cancel, &QPushButton::clicked, this, &TForm_setup::Button_screen_cancelClick);

    auto* hotkeyPage = new QWidget;
    hotkeyPage->setObjectName("hotkey");
    auto* hotkeyLayout = new QVBoxLayout(hotkeyPage);
    hotkeyLayout->setContentsMargins(0, 0, 0, 0);
    m_grid = new QTableWidget(hotkeyPage);
    m_grid->setObjectName("StringGrid_hotkey");
    auto* hint = new QLabel("Select a function, then press the key for it.", hotkeyPage);
    hint->setObjectName("Label_hotkey_hint");
    hint->setContentsMargins(4, 4, 4, 0);
    hotkeyLayout->addWidget(hint);
    hotkeyLayout->addWidget(m_grid);
    m_pages->addTab(hotkeyPage, "Hotkey");
    auto* closeRow = new QHBoxLayout;
    m_checkAxis = new QPushButton("Check Raman Axis…", this);
    m_checkAxis->setObjectName("Button_check_axis");
    m_checkAxis->setToolTip("Check the instrument's Raman-shift axis against a reference standard");
    auto* closeButton = new QPushButton("Close", this);
    closeButton->setObjectName("Button_setup_close");
    closeRow->addWidget(m_checkAxis);
    closeRow->addStretch(1);
    closeRow->addWidget(closeButton);
    layout->addLayout(closeRow);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    UseDialogKeys(this, nullptr);

    // The grid as the hotkey record describes it: a title row, then one row per
    // function with its key.
    HOTKEY& hotkey = m_main.state().hotkey;
    hotkey.count = kHotkeyCount;
    m_grid->setColumnCount(2);
    // The Identify key follows the eight of the record, in a row of its own.
    m_grid->setRowCount(hotkey.count + 2);
    m_grid->horizontalHeader()->setVisible(false);
    m_grid->verticalHeader()->setVisible(false);
    m_grid->verticalHeader()->setDefaultSectionSize(24);
    m_grid->setColumnWidth(0, 230);
    m_grid->setColumnWidth(1, 80);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto title = [](const char* text) {
        auto* item = new QTableWidgetItem(text);
        item->setFlags(Qt::ItemIsEnabled);
        item->setBackground(QColor(0xF0, 0xF0, 0xF0));
        return item;
    };
    m_grid->setItem(0, 0, title("Function"));
    m_grid->setItem(0, 1, title("Hot Key"));
    for (int row = 1; row <= hotkey.count; ++row) {
        auto f = static_cast<HotkeyFunction>(row - 1);
        m_grid->setItem(row, 0, new QTableWidgetItem(HotkeyFunctionText(f)));
        m_grid->setItem(row, 1, new QTableWidgetItem(QString::fromStdString(hotkey.keys[row - 1])));
    }
    m_grid->setItem(kIdentifyRow, 0, new QTableWidgetItem("Identify"));
    m_grid->setItem(kIdentifyRow, 1, new QTableWidgetItem(QString::fromStdString(m_main.identify().hotkey())));
    m_grid->setCurrentCell(1, 0);
    m_grid->installEventFilter(this);
    m_main.refreshHotkeyHints();
}

void TForm_setup::selectScreenPage() {
    m_pages->setCurrentIndex(0);
    // The list offers sizes to choose; what the window has now may be none of
    // them, so it is said beside the list, and picked in it when it is one.
    QSize now = m_main.frameGeometry().size();
    QString text = QString("%1x%2").arg(now.width()).arg(now.height());
    m_sizeInForce->setText("Size now: " + text);
    int index = m_sizes->findText(text);
    if (index >= 0) m_sizes->setCurrentIndex(index);
}

void TForm_setup::attachAxisCheck(TForm_axis_check* axisCheck) {
    if (!axisCheck) return;
    // Setup closes first: the check then waits over the main window alone.
    connect(m_checkAxis, &QPushButton::clicked, this, &QWidget::close);
    connect(m_checkAxis, &QPushButton::clicked, axisCheck, &TForm_axis_check::open);
}

void TForm_setup::Button_screen_setClick() {
    QScreen* screen = m_main.screen();
    QRect usable = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 768);
    // The usable area already leaves room for a caption, which is what the
    // full-screen height plus caption height amounts to.
    ScreenFit fit = FitScreenSize(m_sizes->currentIndex(), usable.width(), usable.height());
    QSize frameExtra = m_main.frameGeometry().size() - m_main.size();
    m_main.resize(std::max(fit.width - frameExtra.width(), m_main.minimumWidth()),
                  std::max(fit.height - frameExtra.height(), m_main.minimumHeight()));
    m_main.move(usable.left() + fit.left, usable.top() + fit.top);
    m_main.setEnabled(true);
    close();
}

void TForm_setup::Button_screen_cancelClick() {
    m_main.setEnabled(true);
    close();
}

void TForm_setup::StringGrid_hotkeyKeyPress(const std::string& upperText) {
    int row = m_grid->currentRow();
    if (row < 1 || row > kIdentifyRow) return;
    HOTKEY& hotkey = m_main.state().hotkey;
    IdentifyController& identify = m_main.identify();
    const bool clearing = upperText == " ";
    if (row == kIdentifyRow) {
        bool taken = false;
        for (const std::string& key : hotkey.keys)
            taken = taken || (!clearing && key == upperText);
        if (taken) {
            m_main.services().dialogs.message(kHotkeyExistedMessage, kMessageCaption, MessageIcon::Error);
            return;
        }
        identify.setHotkey(upperText);
        m_grid->item(row, 1)->setText(QString::fromStdString(upperText));
        return;
    }
    if ((!clearing && identify.hotkey() == upperText) || !AssignHotkey(hotkey, row, upperText)) {
        m_main.services().dialogs.message(kHotkeyExistedMessage, kMessageCaption, MessageIcon::Error);
        return;
    }
    m_grid->item(row, 1)->setText(QString::fromStdString(upperText));
    m_main.refreshHotkeyHints();
}

void TForm_setup::closeEvent(QCloseEvent* event) {
    m_main.setEnabled(true);
    event->accept();
}

bool TForm_setup::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_grid && event->type() == QEvent::KeyPress) {
        QString text = static_cast<QKeyEvent*>(event)->text();
        if (!text.isEmpty() && text.at(0).isPrint()) {
            StringGrid_hotkeyKeyPress(text.toUpper().toStdString());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace veltrane
