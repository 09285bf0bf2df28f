#include "library/ui/library_controller.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTableWidget>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>

#include "library/library_file.h"
#include "platform/folder_listing.h"
#include "shared/window_rules.h"

namespace veltrane {

namespace {

constexpr int kNameColumn = 1;
// The top row is the one 40 pixels down a grid whose 25-pixel title row is
// part of it; here the title row is the header, so that is 15 pixels into the
// viewport, well inside the first data row shown.
constexpr int kTopRowProbeY = 40 - kRowPitch;
// The grid's name column keeps the header's own bytes beside the text shown
// (which is decoded for the eye), and the file the row was listed from.
constexpr int kNameBytesRole = Qt::UserRole;
constexpr int kFileNameRole = Qt::UserRole + 1;

QByteArray Bytes(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

LibraryController::LibraryController(WindowHost& main, LibraryState& library, const DeviceInfo& device)
    : QObject(nullptr), m_main(main), m_library(library), m_device(device), m_grid(main.libraryGrid()),
      m_page(main.mainWindow()->findChild<QWidget*>("Lib_manager")) {
    for (int k = 0; k < kRowBoxCount; ++k)
        m_boxes[k] = m_page->findChild<QCheckBox*>(QString("CheckBox%1").arg(k));

    // The grid takes the keyboard once clicked, for its arrow keys and the
    // type-ahead, but stays out of the Tab order.
    m_grid->setFocusPolicy(Qt::ClickFocus);
    // Whole rows under the boxes: the boxes are 25 pixels apart, like the rows.
    m_grid->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    // The title row selects nothing.
    m_grid->horizontalHeader()->setSectionsClickable(false);
    m_grid->installEventFilter(this);
    m_grid->viewport()->installEventFilter(this);

    connect(m_grid, &QTableWidget::currentCellChanged, this,
            [this](int row, int column, int, int) { StringGrid_libSelectCell(column, row < 0 ? 0 : row + 1); });
    connect(m_grid, &QTableWidget::cellClicked, this, [this](int, int) { StringGrid_libClick(); });
    connect(m_grid->verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this](int) { StringGrid_libTopLeftChanged(); });
    connect(m_boxes[0], &QCheckBox::clicked, this, [this](bool) { CheckBox0Click(); });
    connect(main.mainWindow()->findChild<QToolButton*>("SpeedButton_import_pc"), &QToolButton::clicked, this,
            &LibraryController::SpeedButton_import_pcClick);
    connect(main.mainWindow()->findChild<QToolButton*>("SpeedButton_draw"), &QToolButton::clicked, this,
            &LibraryController::SpeedButton_drawClick);
}

LibraryController::~LibraryController() = default;

void LibraryController::tell(const std::string& text, MessageIcon icon) {
    m_main.dialogs().message(text, kMessageCaption, icon);
}

RowBoxStates LibraryController::boxStates() const {
    RowBoxStates boxes;
    for (int k = 0; k < kRowBoxCount; ++k) {
        boxes.shown[k] = !m_boxes[k]->isHidden();
        boxes.checked[k] = m_boxes[k]->isChecked();
    }
    return boxes;
}

void LibraryController::showBoxStates(const RowBoxStates& boxes) {
    for (int k = 0; k < kRowBoxCount; ++k) {
        m_boxes[k]->setChecked(boxes.checked[k]);
        m_boxes[k]->setVisible(boxes.shown[k]);
    }
}

int LibraryController::topRow() const {
    int row = m_grid->rowAt(kTopRowProbeY);
    // Rows scroll whole, so the scroll position is the top row as well; it
    // answers when the grid is too low for the probe or has no rows.
    if (row < 0) row = m_grid->verticalScrollBar()->value();
    return row + 1;
}

std::string LibraryController::rowName(int row) const {
    if (row < 1 || row > m_grid->rowCount()) return {};
    QTableWidgetItem* item = m_grid->item(row - 1, kNameColumn);
    if (!item) return {};
    QVariant bytes = item->data(kNameBytesRole);
    if (bytes.isValid()) return bytes.toByteArray().toStdString();
    return item->text().toUtf8().toStdString();
}

std::string LibraryController::rowFile(int row) const {
    if (row < 1 || row > m_grid->rowCount()) return {};
    QTableWidgetItem* item = m_grid->item(row - 1, kNameColumn);
    return item ? item->data(kFileNameRole).toByteArray().toStdString() : std::string();
}

std::vector<std::string> LibraryController::rowNames() const {
    std::vector<std::string> names;
    int count = std::min<int>(m_library.lib.libraryCount, m_grid->rowCount());
    names.reserve(static_cast<std::size_t>(count));
    for (int r = 1; r <= count; ++r)
        names.push_back(rowName(r));
    return names;
}

std::vector<int> LibraryController::tickedRows() const {
    return TickedRows(m_library);
}

void LibraryController::FillLibraryRow(int row, const CatalogueRow& cells) {
    if (m_grid->rowCount() < row) m_grid->setRowCount(row);
    auto* name = new QTableWidgetItem(QString::fromUtf8(Bytes(DisplayName(cells.name))));
    name->setData(kNameBytesRole, Bytes(cells.name));
    name->setData(kFileNameRole, Bytes(cells.fileName));
    m_grid->setItem(row - 1, kNameColumn, name);
    m_grid->setItem(row - 1, 2, new QTableWidgetItem(QString::fromStdString(cells.model)));
    m_grid->setItem(row - 1, 3, new QTableWidgetItem(QString::fromStdString(cells.date)));
}

void LibraryController::RefreshLibraryList(LibraryView view) {
    std::string folder = LibraryFolderPath(m_main.paths().libraryRoot, view);
    std::vector<CatalogueRow> rows = ListLibraryFolder(folder, m_device.brandVariant);
    m_library.lib.libraryCount = static_cast<std::uint16_t>(rows.size());

    // The grid takes its final size at once rather than growing by one row
    // per file; that also cuts the rows of a longer previous listing.
    m_grid->setUpdatesEnabled(false);
    m_grid->setRowCount(static_cast<int>(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i)
        FillLibraryRow(static_cast<int>(i) + 1, rows[i]);
    m_grid->setUpdatesEnabled(true);
    m_grid->scrollToTop();

    ClearTicks(m_library);
    ResetRowBoxes(m_library.lib.libraryCount);
    // The same panel shows the measuring time in the Spectrum mode; the
    // switch to the Linker mode shows the quantity itself.
    if (m_main.activeMode() == ActiveMode::Linker) m_main.UpdateStatusBar(0, m_library.lib.libraryCount);
}

void LibraryController::ResetRowBoxes(int count) {
    RowBoxStates boxes = boxStates();
    veltrane::ResetRowBoxes(boxes, count, m_library.fitRows);
    showBoxStates(boxes);
}

void LibraryController::LayoutRowBoxes() {
    QPoint topLeft = m_grid->mapTo(m_page, QPoint(0, 0));
    RowBoxLayout layout = veltrane::LayoutRowBoxes(topLeft.y(), m_grid->height(), m_library.lib.libraryCount);
    m_library.fitRows = layout.fitRows;
    for (int i = 0; i < kRowBoxCount; ++i) {
        QCheckBox* box = m_boxes[i];
        box->move(topLeft.x() + (i == 0 ? 7 : 22), layout.top[i]);
        box->setVisible(layout.visible[i]);
        box->raise();
    }
}

void LibraryController::SyncRowBoxes() {
    RowBoxStates boxes = boxStates();
    veltrane::SyncRowBoxes(boxes, m_library, topRow());
    showBoxStates(boxes);
}

void LibraryController::EmptyDeviceFolder() {
    veltrane::EmptyDeviceFolder(m_main.paths().libraryRoot);
}

void LibraryController::SpeedButton_import_pcClick() {
    if (m_library.transferState.load(std::memory_order_acquire) != 0) {
        tell(kMeasureProcessingMessage, MessageIcon::Error);
        return;
    }
    std::string folder = LibraryFolderPath(m_main.paths().libraryRoot, LibraryView::Pc);
    m_library.lib.libraryFolder = folder;
    m_library.lib.libraryView = LibraryView::Pc;
    m_grid->horizontalHeaderItem(kNameColumn)->setText(kPcNameTitle);
    if (!EnsureFolder(folder)) {
        tell(kFolderNotCreatedMessage, MessageIcon::Warning);
        return;
    }
    RefreshLibraryList(LibraryView::Pc);
}

void LibraryController::LinkerModeEntered() {
    if (m_library.lib.libraryView == LibraryView::Pc && m_library.lib.libraryMade) {
        SpeedButton_import_pcClick();
        m_library.lib.libraryMade = 0;
    }
}

void LibraryController::SpeedButton_drawClick() {
    DrawResult result = DrawTickedLibraries(m_main.libraryChart(), m_library, [this](int row) {
        return ListedRow{rowName(row), rowFile(row)};
    });
    if (result.code == DrawCode::Drawn) {
        m_curves.fill(kNoSeries);
        std::copy(result.curves.begin(), result.curves.end(), m_curves.begin());
        m_curveFiles = result.files;
        m_curveFiles.resize(m_curves.size());
    }
    std::string message = DrawMessage(result);
    if (!message.empty())
        tell(message, result.code == DrawCode::Transferring ? MessageIcon::Error : MessageIcon::Warning);
}

void LibraryController::RemoveCurvesOf(const std::vector<std::string>& files) {
    ChartModel& chart = m_main.libraryChart();
    bool anyLeft = false;
    for (std::size_t i = 0; i < m_curves.size(); ++i) {
        SeriesHandle& curve = m_curves[i];
        if (curve == kNoSeries) continue;
        if (std::find(files.begin(), files.end(), m_curveFiles[i]) != files.end()) {
            chart.removeSeries(curve);
            curve = kNoSeries;
        } else {
            anyLeft = true;
        }
    }
    if (!anyLeft) chart.setLegendVisible(false);
}

void LibraryController::StringGrid_libSelectCell(int /*column*/, int row) {
    SelectLibraryRow(m_library, row);
}

void LibraryController::StringGrid_libClick() {
    RowBoxStates boxes = boxStates();
    ClickLibraryRow(m_library, boxes, topRow());
    showBoxStates(boxes);
}

void LibraryController::StringGrid_libMouseWheelDown() {
    IgnoreNextClick(m_library);
}

void LibraryController::StringGrid_libMouseWheelUp() {
    IgnoreNextClick(m_library);
}

void LibraryController::StringGrid_libKeyDown() {
    IgnoreNextClick(m_library);
}

void LibraryController::StringGrid_libKeyUp() {
    IgnoreNextClick(m_library);
}

void LibraryController::StringGrid_libKeyPress(const std::string& text) {
    std::optional<int> row = TypeAheadRow(m_library.lib.libraryFolder, text, rowNames());
    if (!row || *row > m_grid->rowCount()) return;
    m_grid->setCurrentCell(*row - 1, kNameColumn);
}

void LibraryController::StringGrid_libTopLeftChanged() {
    SyncRowBoxes();
}

void LibraryController::CheckBox0Click() {
    RowBoxStates boxes = boxStates();
    TickAllRows(m_library, boxes, m_boxes[0]->isChecked());
    showBoxStates(boxes);
}

void LibraryController::Splitter1Moved() {
    LayoutRowBoxes();
    SyncRowBoxes();
}

bool LibraryController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_grid->viewport() && event->type() == QEvent::Wheel) {
        int turn = static_cast<QWheelEvent*>(event)->angleDelta().y();
        if (turn < 0)
            StringGrid_libMouseWheelDown();
        else if (turn > 0)
            StringGrid_libMouseWheelUp();
        // The grid scrolls rather than moving its selection and raises no
        // click for it; the click a moving grid raises, which the flag is
        // there to swallow, is given here, so the user's next click ticks.
        if (turn != 0) StringGrid_libClick();
        return false;
    }
    if (watched != m_grid) return false;
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        StringGrid_libKeyDown();
        QString text = key->text();
        if (!text.isEmpty() && text.at(0).isPrint()) {
            // Characters are the type-ahead's while the pointer is over the
            // grid (the key preview is off then); otherwise they were the
            // hotkeys'. Either way the grid's own search does not run.
            if (!m_main.keyPreview()) StringGrid_libKeyPress(text.toUtf8().toStdString());
            return true;
        }
    } else if (event->type() == QEvent::KeyRelease && !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
        StringGrid_libKeyUp();
    }
    return false;
}

} // namespace veltrane
