#include "markers/ui/marker_windows.h"

#include "shared/ui/rename_form.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "shared/ui/dialog_keys.h"
#include "shared/ui/window_flags.h"

namespace veltrane {

namespace {

constexpr int kGridSize = 209;
constexpr int kRowHeight = 24;
constexpr int kColourColumnWidth = 50;
constexpr int kNameColumnWidth = 150;

QToolButton* TableButton(QWidget* parent, const char* name, const QString& caption, const QString& hint) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(caption);
    button->setToolTip(hint);
    button->setMinimumWidth(60);
    return button;
}

} // namespace

TForm_mark_info::TForm_mark_info(WindowHost& main, MarkerSet& markers, MeasurementSession& session,
                                 const DeviceInfo& device)
    : QWidget(nullptr, kFixedDialogFlags), m_main(main), m_markers(markers), m_session(session), m_device(device) {
    setObjectName("TForm_mark_info");
    setWindowTitle("Mark Set");
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    m_grid = new QTableWidget(2, 2, this);
    m_grid->setObjectName("StringGrid_mark_info");
    m_grid->setFixedSize(kGridSize, kGridSize);
    // Row 0 is the title row and there is no fixed column, so the grid shows
    // no headers of its own: grid rows keep the numbers the slots use.
    m_grid->horizontalHeader()->hide();
    m_grid->verticalHeader()->hide();
    m_grid->verticalHeader()->setDefaultSectionSize(kRowHeight);
    m_grid->verticalHeader()->setMinimumSectionSize(kRowHeight);
    m_grid->setColumnWidth(0, kColourColumnWidth);
    m_grid->setColumnWidth(1, kNameColumnWidth);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setCellText(0, 0, "Color");
    setCellText(0, 1, "Name");
    layout->addWidget(m_grid);

    // The swatches sit in the client area over column 0, inset 2 pixels from
    // the row's top and bottom. Qt draws grid lines inside the rows, so the
    // row pitch is the row height itself, with no extra pixel per line.
    int rowHeight = m_grid->rowHeight(1);
    for (int i = 1; i <= kMaxMarkers; ++i) {
        auto* panel = new QFrame(m_grid->viewport());
        panel->setObjectName(QString("Panel%1").arg(i));
        panel->setAutoFillBackground(true);
        // A child of the viewport inherits its Base role and would fill with
        // the table's white whatever colour the swatch is given.
        panel->setBackgroundRole(QPalette::Window);
        panel->setGeometry(0, i * rowHeight + 2, m_grid->columnWidth(0), rowHeight - 4);
        // Clicks go to the row underneath, so a swatch selects its marker.
        panel->setAttribute(Qt::WA_TransparentForMouseEvents);
        panel->hide();
        m_panels[i - 1] = panel;
    }

    auto* buttons = new QHBoxLayout;
    QToolButton* rename = TableButton(this, "SpeedButton_rename", "Rename", "Rename");
    QToolButton* remove = TableButton(this, "SpeedButton_delete", "Delete", "Delete");
    QToolButton* removeAll = TableButton(this, "SpeedButton_delete_all", "Delete All", "Delete All");
    buttons->addWidget(rename);
    buttons->addWidget(remove);
    buttons->addWidget(removeAll);
    layout->addLayout(buttons);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("Button_cancel");
    layout->addWidget(cancel, 0, Qt::AlignRight);

    connect(rename, &QToolButton::clicked, this, &TForm_mark_info::SpeedButton_renameClick);
    connect(remove, &QToolButton::clicked, this, &TForm_mark_info::SpeedButton_deleteClick);
    connect(removeAll, &QToolButton::clicked, this, &TForm_mark_info::SpeedButton_delete_allClick);
    connect(cancel, &QPushButton::clicked, this, &TForm_mark_info::Button_cancelClick);
    UseDialogKeys(this, nullptr);
}

void TForm_mark_info::setCellText(int row, int column, const QString& text) {
    auto* item = new QTableWidgetItem(text);
    // The title row stays out of the selection, as a fixed row would.
    item->setFlags(row == 0 ? Qt::ItemIsEnabled : Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    m_grid->setItem(row, column, item);
}

int TForm_mark_info::selectedRow() const {
    int top = 0;
    for (const QTableWidgetSelectionRange& range : m_grid->selectedRanges())
        if (top == 0 || range.topRow() < top) top = range.topRow();
    return top;
}

void TForm_mark_info::SpeedButton_markerClick() {
    if (!TakeMarker(m_markers, m_session, m_device, m_main.spectrumChart(), m_series))
        m_main.dialogs().message(kMaxMarkersMessage, kMessageCaption, MessageIcon::Error);
}

void TForm_mark_info::SpeedButton_mark_infoClick() {
    FillTable();
    m_main.PlaceDialog(this, m_main.mainWindow());
}

void TForm_mark_info::FillTable() {
    // Cutting back to the title row also drops the selection: after a fill
    // the user picks a row again rather than acting on whichever marker moved
    // into the old one.
    m_grid->setRowCount(1);
    MarkerTableContent content = FillMarkerTable(m_markers, m_main.spectrumChart());
    m_grid->setRowCount(static_cast<int>(content.rows.size()) + 1);
    for (std::size_t i = 0; i < content.rows.size(); ++i) {
        int row = static_cast<int>(i) + 1;
        setCellText(row, 0, QString());
        setCellText(row, 1, QString::fromStdString(content.rows[i].title));
    }
    for (std::size_t i = 0; i < kMaxMarkers; ++i) {
        QFrame* panel = m_panels[i];
        if (!content.swatchShown[i]) {
            panel->hide();
            continue;
        }
        QPalette palette = panel->palette();
        palette.setColor(QPalette::Window, QColor::fromRgb(content.swatchColour[i]));
        panel->setPalette(palette);
        panel->show();
        panel->raise();
    }
}

void TForm_mark_info::SpeedButton_renameClick() {
    int row = selectedRow();
    if (row == 0) {
        m_main.dialogs().message(kNotSelectItemMessage, kMessageCaption, MessageIcon::Error);
        return;
    }
    if (!m_rename) return;
    m_markers.markerRenameRow = static_cast<std::uint8_t>(row);
    m_main.PlaceDialog(m_rename, this);
    QTableWidgetItem* item = m_grid->item(row, 1);
    m_rename->begin(item ? item->text() : QString());
}

void TForm_mark_info::renameRow(int row, const std::string& name) {
    if (row <= 0 || row >= m_grid->rowCount()) return;
    setCellText(row, 1, QString::fromStdString(name));
    RenameMarker(m_main.spectrumChart(), row, name);
}

void TForm_mark_info::SpeedButton_deleteClick() {
    if (!DeleteMarker(m_markers, m_main.spectrumChart(), m_series, selectedRow())) return;
    FillTable();
}

void TForm_mark_info::SpeedButton_delete_allClick() {
    DeleteAllMarkers(m_markers, m_main.spectrumChart(), m_series);
    m_main.mainWindow()->setEnabled(true);
    close();
}

void TForm_mark_info::Button_cancelClick() {
    m_main.mainWindow()->setEnabled(true);
    close();
}

void TForm_mark_info::closeEvent(QCloseEvent* event) {
    // A rename left open would act on a table nobody sees any more.
    if (m_rename && m_rename->isVisible()) m_rename->close();
    m_main.mainWindow()->setEnabled(true);
    event->accept();
}

TForm_mark_rename::TForm_mark_rename(WindowHost& main, TForm_mark_info& owner, MarkerSet& markers)
    : QWidget(nullptr, kFixedDialogFlags), m_main(main), m_owner(owner), m_markers(markers) {
    setObjectName("TForm_mark_rename");
    setWindowTitle("Mark Rename");
    setFixedSize(300, 130);
    RenameForm form = BuildRenameForm(this, QString(), QString());
    m_oldName = form.oldName;
    m_newName = form.newName;
    connect(form.rename, &QPushButton::clicked, this, &TForm_mark_rename::Button_renameClick);
    connect(form.cancel, &QPushButton::clicked, this, &TForm_mark_rename::Button_cancelClick);
    UseDialogKeys(this, form.rename);
}

void TForm_mark_rename::begin(const QString& oldName) {
    m_oldName->setText(oldName);
    m_newName->setText("NewName");
    m_newName->setFocus();
    m_newName->selectAll();
}

void TForm_mark_rename::Button_renameClick() {
    // Any text is taken, empty or already used: a marker name is only a label.
    m_owner.renameRow(m_markers.markerRenameRow, m_newName->text().toStdString());
    m_owner.setEnabled(true);
    close();
}

void TForm_mark_rename::Button_cancelClick() {
    m_owner.setEnabled(true);
    close();
}

void TForm_mark_rename::closeEvent(QCloseEvent* event) {
    m_owner.setEnabled(true);
    event->accept();
}

} // namespace veltrane
