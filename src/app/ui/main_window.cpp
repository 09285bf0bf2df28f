#include "app/ui/main_window.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/chart_setup.h"
#include "app/connection_check.h"
#include "app/settings.h"
#include "app/ui/about_window.h"
#include "app/ui/import_spectra_controller.h"
#include "app/ui/setup_window.h"
#include "axis_check/ui/axis_correction_controller.h"
#include "identify/identify_settings.h"
#include "identify/ui/identify_controller.h"
#include "interchange/ui/interchange_controller.h"
#include "library/row_boxes.h"
#include "library/ui/library_controller.h"
#include "library/ui/make_library_window.h"
#include "markers/ui/marker_windows.h"
#include "measure/spectral_axis.h"
#include "measure/ui/coordinate_window.h"
#include "measure/ui/measure_controller.h"
#include "platform/ini_file.h"
#include "shared/ui/artwork.h"
#include "shared/ui/chart_view.h"
#include "shared/ui/status_panels.h"
#include "transfer/ui/transfer_controller.h"

namespace veltrane {

namespace {

constexpr int kDesignClientWidth = 1264;
constexpr int kDesignClientHeight = 730;
constexpr int kDeviceCheckMs = 1500;
constexpr const char* kStopMeasurementQuestion = "A measurement is running. Stop it and close?";

QToolButton* ToolButton(QWidget* parent, const char* name, ToolGlyph glyph, const QString& caption,
                        const QString& hint) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setIcon(ToolIcon(glyph));
    button->setIconSize(QSize(32, 32));
    button->setText(caption);
    button->setToolTip(hint);
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    button->setFixedSize(64, 64);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QToolButton* ChartButton(QWidget* parent, const char* name, const QString& caption, const QString& hint) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(caption);
    button->setToolTip(hint);
    button->setAutoRaise(true);
    button->setMinimumWidth(56);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

// Every box of the page holds a whole number: letters never get in, and
// what is out of range is still told by Capture's own messages.
QLineEdit* EditBox(QWidget* parent, const char* name, const QString& text) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(name);
    edit->setFixedWidth(80);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,10}"), edit));
    return edit;
}

bool IsTextEntry(const QWidget* widget) {
    if (!widget) return false;
    if (qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget) ||
        qobject_cast<const QTextEdit*>(widget) || qobject_cast<const QPlainTextEdit*>(widget))
        return true;
    auto* combo = qobject_cast<const QComboBox*>(widget);
    return combo && combo->isEditable();
}

QLabel* Caption(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

} // namespace

TForm_main::TForm_main(AppServices services) : QMainWindow(nullptr), m_services(std::move(services)) {
    setObjectName("TForm_main");
    resize(kDesignClientWidth, kDesignClientHeight);
    setMinimumSize(1008, 612);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    setCentralWidget(central);
    buildToolBar();
    layout->addWidget(m_toolBar);
    m_pages = new QTabWidget(central);
    m_pages->setObjectName("PageControl1");
    layout->addWidget(m_pages, 1);
    buildMeasurePage();
    buildLibraryPage();
    buildStatusBar();
    for (ChartView* view : {m_spectrumView, m_libraryView})
        connect(view, &ChartView::readoutChanged, m_statusPanels, &StatusPanels::setReadout);

    m_deviceTimer = new QTimer(this);
    m_deviceTimer->setObjectName("Timer_auto_get_device");
    m_deviceTimer->setInterval(kDeviceCheckMs);
    connect(m_deviceTimer, &QTimer::timeout, this, &TForm_main::Timer_auto_get_deviceTimer);
    m_measureTimer = new QTimer(this);
    m_measureTimer->setObjectName("MSR_Timer");
    m_measureTimer->setInterval(50);
    m_transferTimer = new QTimer(this);
    m_transferTimer->setObjectName("trans_Timer");
    m_transferTimer->setInterval(50);

    ProgramState& st = state();
    m_library = std::make_unique<LibraryController>(*this, st.library, st.device);
    m_transfer = std::make_unique<TransferController>(*this, m_services.link, st.library, st.device, *m_library);
    m_measure = std::make_unique<MeasureController>(
        *this, m_services.link, st.measurement, st.device,
        ForeignSpectra{kOpenSpectrumFilter, &InterchangeController::IsForeignSpectrum,
                       [this](const std::string& path) { return m_interchange->openForeign(path); }});
    m_interchange = new InterchangeController(*this, st.measurement, st.device);
    m_identify = std::make_unique<IdentifyController>(*this, st.measurement, st.device);
    m_axisCorrection = std::make_unique<AxisCorrectionController>(*this, st.measurement, st.device, *m_measure);
    m_import = std::make_unique<ImportSpectraController>(*this, st.library, *m_library);
    runStartupSequence();
    qApp->installEventFilter(this);
    m_deviceTimer->start();
}

TForm_main::~TForm_main() {
    qApp->removeEventFilter(this);
    m_import.reset();
    m_identify.reset();
    m_axisCorrection.reset();
    m_measure.reset();
    m_transfer.reset();
}

void TForm_main::applyAxisRange() {
    // A new curve gets the ranges its settings give, not a zoom or pan made
    // on the last one, under which it could lie off screen.
    m_spectrumView->resetZoom();
    if (m_coordinate) m_coordinate->Button_coordinate_setClick();
}

void TForm_main::buildToolBar() {
    m_toolBar = new QWidget(this);
    m_toolBar->setObjectName("Panel_top_background");
    m_toolBar->setFixedHeight(72);
    m_toolBar->setAutoFillBackground(true);
    auto* row = new QHBoxLayout(m_toolBar);
    row->setContentsMargins(4, 4, 4, 4);
    row->setSpacing(2);

    auto* modePanel = new QWidget(m_toolBar);
    modePanel->setObjectName("Panel_mode_background");
    auto* modeRow = new QHBoxLayout(modePanel);
    modeRow->setContentsMargins(0, 0, 8, 0);
    m_spectrumModeButton =
        ToolButton(modePanel, "SpeedButton_spectrum_mode", ToolGlyph::SpectrumMode, "Spectrum", "Spectrum Mode (S)");
    m_linkerModeButton =
        ToolButton(modePanel, "SpeedButton_linker_mode", ToolGlyph::LinkerMode, "Linker", "Linker Mode (L)");
    for (QToolButton* b : {m_spectrumModeButton, m_linkerModeButton}) {
        b->setCheckable(true);
        modeRow->addWidget(b);
    }
    row->addWidget(modePanel);

    auto* functions = new QWidget(m_toolBar);
    functions->setObjectName("Panel_function_ground");
    auto* functionRow = new QHBoxLayout(functions);
    functionRow->setContentsMargins(0, 0, 0, 0);
    m_spectrumButtons = {
        ToolButton(functions, "SpeedButton_msr", ToolGlyph::Capture, "Capture", "Capture (C)"),
        ToolButton(functions, "SpeedButton_setup", ToolGlyph::Setup, "Setup", "Setup"),
        ToolButton(functions, "SpeedButton_open_raw", ToolGlyph::OpenRaw, "Open", "Open Raw Data (O)"),
        ToolButton(functions, "SpeedButton_save_raw", ToolGlyph::SaveRaw, "Save", "Save Raw Data"),
        ToolButton(functions, "SpeedButton_save_lib", ToolGlyph::MakeLibrary, "Library", "Make Library (M)"),
    };
    m_linkerButtons = {
        ToolButton(functions, "SpeedButton_import_dev", ToolGlyph::ImportDevice, "Device", "Import Device Library "),
        ToolButton(functions, "SpeedButton_import_pc", ToolGlyph::ImportPc, "PC", "Import PC Library "),
        ToolButton(functions, "SpeedButton_export", ToolGlyph::Export, "Export", "Export Library (E)"),
        ToolButton(functions, "SpeedButton_draw", ToolGlyph::Draw, "Draw", "Draw Library (D)"),
    };
    for (QToolButton* b : m_spectrumButtons)
        functionRow->addWidget(b);
    for (QToolButton* b : m_linkerButtons)
        functionRow->addWidget(b);
    row->addWidget(functions);

    m_helpButton = ToolButton(m_toolBar, "SpeedButton_help", ToolGlyph::Help, "About", QString());
    row->addWidget(m_helpButton);
    row->addStretch(1);
    m_logoKorvel = new QLabel(m_toolBar);
    m_logoKorvel->setObjectName("Image_main_korvel");
    m_logoKorvel->setPixmap(ToolbarLogo(BrandVariant::Korvel));
    m_logoBrenmor = new QLabel(m_toolBar);
    m_logoBrenmor->setObjectName("Image_main_brenmor");
    m_logoBrenmor->setPixmap(ToolbarLogo(BrandVariant::Brenmor));
    row->addWidget(m_logoKorvel);
    row->addWidget(m_logoBrenmor);

    connect(m_spectrumModeButton, &QToolButton::clicked, this, &TForm_main::SpeedButton_spectrum_modeClick);
    connect(m_linkerModeButton, &QToolButton::clicked, this, &TForm_main::SpeedButton_linker_modeClick);
    connect(m_helpButton, &QToolButton::clicked, this, &TForm_main::SpeedButton_helpClick);
    connect(m_spectrumButtons[1], &QToolButton::clicked, this, &TForm_main::SpeedButton_setupClick);
}

void TForm_main::buildMeasurePage() {
    m_measurePage = new QWidget;
    m_measurePage->setObjectName("Measure");
    auto* pageLayout = new QHBoxLayout(m_measurePage);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    auto* splitter = new QSplitter(Qt::Horizontal, m_measurePage);
    splitter->setObjectName("Splitter2");
    pageLayout->addWidget(splitter);

    auto* info = new QWidget(splitter);
    info->setObjectName("Panel_info");
    info->setMinimumWidth(185);
    auto* infoLayout = new QVBoxLayout(info);
    infoLayout->setContentsMargins(4, 4, 4, 4);

    auto* modeBox = new QGroupBox("Measure Mode", info);
    modeBox->setObjectName("GroupBox_msr_mode");
    auto* modeLayout = new QVBoxLayout(modeBox);
    auto* modeCombo = new QComboBox(modeBox);
    modeCombo->setObjectName("ComboBox_msr_mode");
    modeCombo->addItem("Cuvette Mode");
    modeCombo->setCurrentIndex(0);
    modeLayout->addWidget(modeCombo);
    infoLayout->addWidget(modeBox);

    auto* paramPanel = new QWidget(info);
    paramPanel->setObjectName("Panel_para_set");
    auto* paramLayout = new QVBoxLayout(paramPanel);
    paramLayout->setContentsMargins(0, 0, 0, 0);
    auto* spectrometer = new QGroupBox("Spectrometer", paramPanel);
    spectrometer->setObjectName("GroupBox_spectrom_set");
    auto* grid = new QGridLayout(spectrometer);
    m_editExp = EditBox(spectrometer, "Edit_exp", "3000");
    m_editAvg = EditBox(spectrometer, "Edit_avg_cnt", "1");
    m_editSmooth = EditBox(spectrometer, "Edit_smooth", "0");
    auto* avgArrows = new UpDown(spectrometer);
    avgArrows->setObjectName("UpDown_avg");
    auto* smoothArrows = new UpDown(spectrometer);
    smoothArrows->setObjectName("UpDown_smooth");
    grid->addWidget(Caption(spectrometer, "Label8", "Int.time(ms):"), 0, 0);
    grid->addWidget(m_editExp, 0, 1);
    grid->addWidget(Caption(spectrometer, "Label10", "Average:"), 1, 0);
    grid->addWidget(m_editAvg, 1, 1);
    grid->addWidget(avgArrows, 1, 2);
    grid->addWidget(Caption(spectrometer, "Label1", "Smooth:"), 2, 0);
    grid->addWidget(m_editSmooth, 2, 1);
    grid->addWidget(smoothArrows, 2, 2);
    auto* dark = new QCheckBox("Dark", spectrometer);
    dark->setObjectName("CheckBox_do_dark");
    dark->setChecked(true);
    dark->setVisible(false);
    grid->addWidget(dark, 3, 0);
    paramLayout->addWidget(spectrometer);

    auto* laser = new QGroupBox("Laser", paramPanel);
    laser->setObjectName("GroupBox_laser_set");
    auto* laserGrid = new QGridLayout(laser);
    m_editPreheat = EditBox(laser, "Edit_laser_preheat", "20000");
    m_editPower = EditBox(laser, "Edit_laser_power", "100");
    auto* powerLabel = Caption(laser, "Label41", "Power(%):");
    laserGrid->addWidget(Caption(laser, "Label7", "Preheat(ms):"), 0, 0);
    laserGrid->addWidget(m_editPreheat, 0, 1);
    laserGrid->addWidget(powerLabel, 1, 0);
    laserGrid->addWidget(m_editPower, 1, 1);
    // The laser power is kept and validated but never sent: the instrument
    // switches its laser only on and off.
    powerLabel->setVisible(false);
    m_editPower->setVisible(false);
    paramLayout->addWidget(laser);
    infoLayout->addWidget(paramPanel);

    auto* deviceBox = new QGroupBox("Device Information", info);
    deviceBox->setObjectName("GroupBox_devinfo");
    auto* deviceLayout = new QVBoxLayout(deviceBox);
    m_deviceTree = new QTreeWidget(deviceBox);
    m_deviceTree->setObjectName("TreeView1");
    m_deviceTree->setHeaderHidden(true);
    m_deviceTree->setSelectionMode(QAbstractItemView::NoSelection);
    m_deviceTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Serial numbers are long; the column grows to them and the tree scrolls.
    m_deviceTree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_deviceTree->header()->setStretchLastSection(false);
    m_deviceTree->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    deviceLayout->addWidget(m_deviceTree);
    infoLayout->addWidget(deviceBox, 1);

    auto* chartPanel = new QWidget(splitter);
    chartPanel->setObjectName("Panel_chart");
    auto* chartLayout = new QVBoxLayout(chartPanel);
    chartLayout->setContentsMargins(0, 0, 0, 0);
    chartLayout->setSpacing(0);
    auto* chartBar = new QWidget(chartPanel);
    chartBar->setObjectName("Panel_chart_set");
    auto* chartBarLayout = new QHBoxLayout(chartBar);
    chartBarLayout->setContentsMargins(4, 2, 4, 2);
    chartBarLayout->addWidget(ChartButton(chartBar, "SpeedButton_horizontal", "Hori.", "Auto Horizontal"));
    chartBarLayout->addWidget(ChartButton(chartBar, "SpeedButton_vertical", "Vert.", "Auto Vertical"));
    chartBarLayout->addWidget(ChartButton(chartBar, "SpeedButton_coordinate_set", "Coor.", "Coordinate Set"));
    chartBarLayout->addWidget(ChartButton(chartBar, "SpeedButton_marker", "Marker", "Marker (A)"));
    chartBarLayout->addWidget(ChartButton(chartBar, "SpeedButton_mark_info", "Mark Set", "Marker Set"));
    QToolButton* peaks = ChartButton(chartBar, "SpeedButton_peaks", "Peaks", "Label the strongest peaks");
    peaks->setCheckable(true);
    chartBarLayout->addWidget(peaks);
    chartBarLayout->addStretch(1);
    auto* chartHint =
        Caption(chartBar, "Label_chart_hint", "Drag to zoom, wheel to zoom, right-drag to pan, double-click to reset");
    chartHint->setStyleSheet("color: #606060;");
    // The hint gives way first when the chart narrows (a panel beside it, a
    // small screen); it must not hold the chart to its own length.
    chartHint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    chartHint->setMinimumWidth(0);
    chartBarLayout->addWidget(chartHint);
    chartLayout->addWidget(chartBar);
    m_spectrumView = new ChartView(m_spectrumChart, chartPanel);
    m_spectrumView->setObjectName("Chart_measure");
    chartLayout->addWidget(m_spectrumView, 1);
    connect(peaks, &QToolButton::toggled, m_spectrumView, &ChartView::setPeakLabels);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({230, 1030});
    // Panels added beside the chart take their room from the chart, never
    // from the parameter column, whose labels and boxes would be cut.
    info->setMinimumWidth(230);

    m_pages->addTab(m_measurePage, "Spectrum");

    for (QLineEdit* edit : {m_editExp, m_editAvg, m_editPreheat})
        edit->installEventFilter(this);
}

void TForm_main::buildLibraryPage() {
    m_libraryPage = new QWidget;
    m_libraryPage->setObjectName("Lib_manager");
    auto* layout = new QVBoxLayout(m_libraryPage);
    layout->setContentsMargins(0, 0, 0, 0);
    m_librarySplitter = new QSplitter(Qt::Vertical, m_libraryPage);
    m_librarySplitter->setObjectName("Splitter1");
    layout->addWidget(m_librarySplitter);
    m_libraryView = new ChartView(m_libraryChart, m_librarySplitter);
    m_libraryView->setObjectName("Chart_library");
    m_grid = new QTableWidget(m_librarySplitter);
    m_grid->setObjectName("StringGrid_lib");
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setFocusPolicy(Qt::NoFocus);
    m_grid->verticalHeader()->setVisible(false);
    m_grid->verticalHeader()->setMinimumSectionSize(10);
    m_grid->verticalHeader()->setDefaultSectionSize(kRowPitch);
    m_grid->horizontalHeader()->setFixedHeight(kRowPitch);
    m_grid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_grid->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_grid->installEventFilter(this);
    m_librarySplitter->setStretchFactor(0, 1);
    m_librarySplitter->setSizes({500, 201});
    connect(m_librarySplitter, &QSplitter::splitterMoved, this, [this] { m_library->Splitter1Moved(); });

    for (int i = 0; i < kRowBoxCount; ++i) {
        auto* box = new QCheckBox(m_libraryPage);
        box->setObjectName(QString("CheckBox%1").arg(i));
        box->setGeometry(i == 0 ? 7 : 22, 0, 15, 17);
        // A row's box only shows its tick: clicks pass through to the grid,
        // whose click toggles the row. It is not disabled, which would grey
        // the tick out.
        if (i != 0) box->setAttribute(Qt::WA_TransparentForMouseEvents);
        box->setFocusPolicy(Qt::NoFocus);
        box->setVisible(i <= 7);
        box->raise();
        m_rowBoxes[i] = box;
    }
    int index = m_pages->addTab(m_libraryPage, "Linker");
    (void)index;
}

void TForm_main::buildStatusBar() {
    auto* bar = new QStatusBar(this);
    bar->setObjectName("StatusBar1");
    bar->setSizeGripEnabled(false);
    m_statusPanels = new StatusPanels(bar);
    bar->addWidget(m_statusPanels, 1);
    setStatusBar(bar);
}

void TForm_main::SetUpLibraryGrid() {
    m_grid->setColumnCount(4);
    m_grid->setRowCount(1);
    m_grid->setHorizontalHeaderLabels({"    All", "Library Name", "Model", "Date"});
    // The "All" box sits at the left of this title; the word keeps to the right.
    m_grid->horizontalHeaderItem(0)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const int widths[] = {50, 780, 100, 180};
    for (int c = 0; c < 4; ++c)
        m_grid->setColumnWidth(c, widths[c]);
    state().library.lib.libraryCount = 0;
}

void TForm_main::runStartupSequence() {
    ProgramState& s = state();
    // 1. Placement on the primary screen.
    QScreen* screen = QGuiApplication::primaryScreen();
    QSize screenSize = screen ? screen->size() : QSize(1280, 768);
    s.shell.screenWidth = screenSize.width();
    s.shell.screenHeight = screenSize.height();
    s.shell.mainWidth = frameGeometry().width();
    s.shell.mainHeight = frameGeometry().height();
    WindowPosition at = StartupPlacement(s.shell.screenWidth, s.shell.screenHeight);
    move(at.left, at.top);
    // 2. Caption.
    setWindowTitle(QString("Veltrane_") + kVersionText);
    // 3. Brand logo at the right end of the tool bar.
    m_logoKorvel->setVisible(s.device.brandVariant == BrandVariant::Korvel);
    m_logoBrenmor->setVisible(s.device.brandVariant == BrandVariant::Brenmor);
    // 4. Settings.
    readSettings();
    // 5. Bridge time-outs.
    m_services.link.InitLink();
    // 6. Start-up values.
    ApplyStartupValues(s);
    // 7. Charts, library grid, progress bar.
    SetUpCharts(0);
    SetUpCharts(1);
    SetUpLibraryGrid();
    progressBar()->setValue(0);
    // 8. Spectrum mode, reached from the Linker mode.
    s.shell.activeMode = ActiveMode::Linker;
    SpeedButton_spectrum_modeClick();
    m_spectrumModeButton->setChecked(true);
    m_linkerModeButton->setChecked(false);
    // 9. Empty the device folder.
    m_library->EmptyDeviceFolder();
}

void TForm_main::readSettings() {
    IniFile ini(m_services.paths.settingsFile);
    MeasureBoxTexts boxes{m_editExp->text().toStdString(), m_editAvg->text().toStdString(),
                          m_editPreheat->text().toStdString(), m_editPower->text().toStdString()};
    ReadSettings(ini, state(), boxes);
    m_editExp->setText(QString::fromStdString(boxes.exposure));
    m_editAvg->setText(QString::fromStdString(boxes.average));
    m_editPreheat->setText(QString::fromStdString(boxes.preheat));
    m_editPower->setText(QString::fromStdString(boxes.power));
    if (m_measure) {
        m_measure->setAutoExposure(ReadAutoExposure(ini));
        const SampleSettings sample = ReadSampleSettings(ini);
        m_measure->setOperatorName(sample.operatorName);
        m_measure->setKeepSampleForNext(sample.keepForNext);
    }
    if (m_identify) {
        m_identify->setHotkey(ReadIdentifyHotkey(ini));
        m_identify->setPanelWidth(ReadIdentifyPanelWidth(ini));
        m_identify->setReportFolder(ReadReportFolder(ini));
        m_identify->setLetterPaper(ReadReportLetter(ini));
    }
}

bool TForm_main::writeSettings() {
    IniFile ini(m_services.paths.settingsFile);
    MeasureBoxTexts boxes{m_editExp->text().toStdString(), m_editAvg->text().toStdString(),
                          m_editPreheat->text().toStdString(), m_editPower->text().toStdString()};
    std::vector<IniFile::Entry> extra;
    if (m_measure) {
        extra.push_back(AutoExposureEntry(m_measure->autoExposure()));
        for (IniFile::Entry& entry : SampleSettingsEntries({m_measure->operatorName(), m_measure->keepSampleForNext()}))
            extra.push_back(std::move(entry));
    }
    if (m_identify) {
        extra.push_back(IdentifyHotkeyEntry(m_identify->hotkey()));
        if (m_identify->panelWidth() > 0) extra.push_back(IdentifyPanelWidthEntry(m_identify->panelWidth()));
        if (!m_identify->reportFolder().empty()) extra.push_back(ReportFolderEntry(m_identify->reportFolder()));
        extra.push_back(ReportPaperEntry(m_identify->letterPaper()));
    }
    return WriteSettings(ini, boxes, state().hotkey, extra);
}

void TForm_main::showFileName(const std::string& name) {
    QString caption = QString("Veltrane_") + kVersionText;
    if (!name.empty()) caption += " - " + QString::fromStdString(name);
    setWindowTitle(caption);
    // The legend (shown with markers or an identification overlay) names
    // the curve as the caption does.
    m_spectrumChart.setSeriesTitle(m_measuredSeries, name.empty() ? kMeasuredSeriesTitle : name);
}

void TForm_main::showNotice(const QString& text) {
    m_statusPanels->setNotice(text);
}

QProgressBar* TForm_main::progressBar() const {
    return m_statusPanels->progressBar();
}

QToolButton* TForm_main::hotkeyButton(HotkeyFunction function) const {
    switch (function) {
    case HotkeyFunction::SpectrumMode:
        return m_spectrumModeButton;
    case HotkeyFunction::LinkerMode:
        return m_linkerModeButton;
    case HotkeyFunction::Capture:
        return m_spectrumButtons[0];
    case HotkeyFunction::OpenRaw:
        return m_spectrumButtons[2];
    case HotkeyFunction::MakeLibrary:
        return m_spectrumButtons[4];
    case HotkeyFunction::LibraryExport:
        return m_linkerButtons[2];
    case HotkeyFunction::LibraryDraw:
        return m_linkerButtons[3];
    case HotkeyFunction::Marker:
        return findChild<QToolButton*>("SpeedButton_marker");
    }
    return nullptr;
}

void TForm_main::refreshHotkeyHints() {
    for (std::size_t i = 0; i < kHotkeyCount; ++i) {
        auto f = static_cast<HotkeyFunction>(i);
        if (QToolButton* b = hotkeyButton(f))
            b->setToolTip(QString::fromStdString(HotkeyHint(f, state().hotkey.keys[i])));
    }
}

void TForm_main::showMessage(const std::string& text, MessageIcon icon) {
    m_services.dialogs.message(text, kMessageCaption, icon);
}

void TForm_main::UpdateStatusBar(int kind, std::uint32_t value) {
    ActiveMode mode = state().shell.activeMode;
    StatusIcon icon;
    switch (kind) {
    case 0:
        m_statusPanels->setValueText(QString::fromStdString(StatusValueText(mode, value)));
        break;
    case 1:
        m_statusPanels->setLabelText(QString::fromStdString(StatusLabelText(mode)));
        if (StatusIconForRun(value, icon)) m_statusPanels->setStatusIcon(icon);
        break;
    case 2:
        if (StatusIconForConnection(value, icon)) m_statusPanels->setConnectionIcon(icon);
        break;
    default:
        break;
    }
}

void TForm_main::SetUpCharts(int which) {
    if (which == 0)
        m_measuredSeries = SetUpSpectrumChart(m_spectrumChart, state(), m_measuredSeries);
    else
        SetUpLibraryChart(m_libraryChart);
}

void TForm_main::PlaceDialog(QWidget* window, QWidget* owner) {
    ProgramState& s = state();
    QRect frame = frameGeometry();
    s.shell.mainLeft = frame.left();
    s.shell.mainTop = frame.top();
    s.shell.mainWidth = frame.width();
    s.shell.mainHeight = frame.height();
    auto centre = [&] {
        QRect own = window->frameGeometry();
        WindowPosition at = CentredOver(s.shell.mainLeft, s.shell.mainTop, s.shell.mainWidth, s.shell.mainHeight,
                                        own.width(), own.height());
        window->move(at.left, at.top);
    };
    centre();
    window->show();
    // A window shown for the first time only learns the size of its frame
    // now; centre it again on its full outer size.
    centre();
    window->raise();
    owner->setEnabled(false);
}

void TForm_main::showModeButtons(ActiveMode mode) {
    for (QToolButton* b : m_spectrumButtons)
        b->setVisible(mode == ActiveMode::Spectrum);
    for (QToolButton* b : m_linkerButtons)
        b->setVisible(mode == ActiveMode::Linker);
    if (m_identify) m_identify->showInMode(mode);
    if (m_measure) m_measure->showInMode(mode);
    if (m_import) m_import->showInMode(mode);
}

void TForm_main::SpeedButton_spectrum_modeClick() {
    ProgramState& s = state();
    switch (DecideSwitchToSpectrum(s)) {
    case ModeSwitch::Switch:
        m_pages->setTabVisible(1, false);
        m_pages->setTabVisible(0, true);
        m_pages->setCurrentIndex(0);
        s.shell.activeMode = ActiveMode::Spectrum;
        UpdateStatusBar(0, s.measurement.progress.measureTime.load(std::memory_order_relaxed));
        UpdateStatusBar(1, s.measurement.measureStatus.load(std::memory_order_relaxed));
        showModeButtons(ActiveMode::Spectrum);
        m_spectrumModeButton->setChecked(true);
        m_linkerModeButton->setChecked(false);
        break;
    case ModeSwitch::RefuseTransferring:
        m_linkerModeButton->setChecked(true);
        m_spectrumModeButton->setChecked(false);
        showMessage(kTransferProcessingMessage, MessageIcon::Error);
        break;
    default:
        // Already there: the button of the current mode stays down.
        m_spectrumModeButton->setChecked(true);
        m_linkerModeButton->setChecked(false);
        break;
    }
}

void TForm_main::SpeedButton_linker_modeClick() {
    ProgramState& s = state();
    switch (DecideSwitchToLinker(s)) {
    case ModeSwitch::Switch:
        m_pages->setTabVisible(1, true);
        m_pages->setCurrentIndex(1);
        m_pages->setTabVisible(0, false);
        m_library->LinkerModeEntered();
        s.shell.activeMode = ActiveMode::Linker;
        UpdateStatusBar(0, s.library.lib.libraryCount);
        UpdateStatusBar(1, s.library.lib.transferStatus.load(std::memory_order_relaxed));
        showModeButtons(ActiveMode::Linker);
        m_linkerModeButton->setChecked(true);
        m_spectrumModeButton->setChecked(false);
        LayoutRowBoxes();
        break;
    case ModeSwitch::RefuseMeasuring:
        m_spectrumModeButton->setChecked(true);
        m_linkerModeButton->setChecked(false);
        showMessage(kMeasureProcessingMessage, MessageIcon::Error);
        break;
    default:
        m_linkerModeButton->setChecked(true);
        m_spectrumModeButton->setChecked(false);
        break;
    }
}

void TForm_main::SpeedButton_helpClick() {
    if (m_about) PlaceDialog(m_about, this);
}

void TForm_main::SpeedButton_setupClick() {
    if (!m_setup) return;
    m_setup->selectScreenPage();
    PlaceDialog(m_setup, this);
}

void TForm_main::attachCoordinate(TForm_coordinate* coordinate) {
    m_coordinate = coordinate;
    if (!coordinate) return;
    // The window is the receiver, so the buttons fall silent once it is gone.
    if (auto* b = findChild<QToolButton*>("SpeedButton_coordinate_set"))
        connect(b, &QToolButton::clicked, coordinate, &TForm_coordinate::open);
    if (auto* b = findChild<QToolButton*>("SpeedButton_horizontal"))
        connect(b, &QToolButton::clicked, coordinate, &TForm_coordinate::SpeedButton_horizontalClick);
    if (auto* b = findChild<QToolButton*>("SpeedButton_vertical"))
        connect(b, &QToolButton::clicked, coordinate, &TForm_coordinate::SpeedButton_verticalClick);
}

void TForm_main::attachMakeLibrary(TForm_make_lib* makeLibrary) {
    if (!makeLibrary) return;
    // The window is the receiver, so the button falls silent once it is gone.
    if (auto* b = findChild<QToolButton*>("SpeedButton_save_lib"))
        connect(b, &QToolButton::clicked, makeLibrary, &TForm_make_lib::SpeedButton_save_libClick);
}

void TForm_main::attachMarkers(TForm_mark_info* markers) {
    if (!markers) return;
    // The window is the receiver, so the buttons fall silent once it is gone.
    // The hotkey clicks the Marker button, so it takes a marker in either mode.
    if (auto* b = findChild<QToolButton*>("SpeedButton_marker"))
        connect(b, &QToolButton::clicked, markers, &TForm_mark_info::SpeedButton_markerClick);
    if (auto* b = findChild<QToolButton*>("SpeedButton_mark_info"))
        connect(b, &QToolButton::clicked, markers, &TForm_mark_info::SpeedButton_mark_infoClick);
}

void TForm_main::FormKeyPress(const std::string& upperText) {
    std::optional<HotkeyFunction> f = DispatchHotkey(state().hotkey, state().shell.activeMode, upperText);
    if (!f) {
        if (m_identify && m_identify->isHotkey(upperText, state().shell.activeMode)) m_identify->button()->click();
        return;
    }
    if (*f == HotkeyFunction::SpectrumMode || *f == HotkeyFunction::LinkerMode) {
        bool spectrum = *f == HotkeyFunction::SpectrumMode;
        m_spectrumModeButton->setChecked(spectrum);
        m_linkerModeButton->setChecked(!spectrum);
        if (spectrum)
            SpeedButton_spectrum_modeClick();
        else
            SpeedButton_linker_modeClick();
        return;
    }
    if (QToolButton* b = hotkeyButton(*f)) b->click();
}

void TForm_main::ShowDeviceTree(DeviceConnection connection) {
    m_deviceTree->clear();
    if (connection != DeviceConnection::NewlyConnected) {
        m_axisCorrection->showInDeviceInfo();
        return;
    }
    DeviceTree tree = DeviceTreeLines(state().device);
    auto* root = new QTreeWidgetItem(m_deviceTree, {QString::fromStdString(tree.root)});
    root->setToolTip(0, root->text(0));
    for (const std::string& line : tree.children) {
        auto* item = new QTreeWidgetItem(root, {QString::fromStdString(line)});
        item->setToolTip(0, item->text(0));
    }
    m_axisCorrection->showInDeviceInfo();
    m_deviceTree->expandAll();
}

void TForm_main::Timer_auto_get_deviceTimer() {
    ProgramState& s = state();
    // A device found again while the last measurement's worker is still
    // finishing is identified once that worker has returned.
    CheckResult r =
        CheckConnection(m_services.link, m_services.clock, s, !m_measure->workerBusy() && !m_transfer->workerBusy());
    if (r.outcome == IdentifyOutcome::Postponed) return;
    if (r.newlyIdentified) {
        if (m_coordinate) m_coordinate->setXRange(s.device.displayLow, s.device.displayHigh);
        SetUpCharts(0);
        // The instrument's own correction, before its axis is computed.
        m_axisCorrection->instrumentIdentified();
        RefreshSpectralAxis(s.measurement.spectrum, s.device);
        m_spectrumChart.setAxisTitleCaption(ChartAxis::Bottom, SpectrumXAxisCaption(s.measurement, s.device));
        ShowDeviceTree(DeviceConnection::NewlyConnected);
        UpdateStatusBar(2, 0);
        UpdateStatusBar(1, 0);
        if (s.shell.activeMode == ActiveMode::Spectrum) UpdateStatusBar(0, 0);
        if (r.showCalibrationMissing) showMessage(kCalibrationMissingMessage, MessageIcon::Error);
        return;
    }
    if (r.state == DeviceConnection::Connected) {
        UpdateStatusBar(2, 0);
        UpdateStatusBar(1, s.shell.activeMode == ActiveMode::Spectrum
                               ? s.measurement.measureStatus.load(std::memory_order_relaxed)
                               : s.library.lib.transferStatus.load(std::memory_order_relaxed));
        return;
    }
    ShowDeviceTree(DeviceConnection::Disconnected);
    UpdateStatusBar(2, 1);
    if (r.showDeviceRefused) showMessage(kDeviceRefusedMessage, MessageIcon::Error);
    if (m_services.link.takeAccessDeniedNotice()) showMessage(kBridgeAccessDeniedMessage, MessageIcon::Error);
}

void TForm_main::LayoutRowBoxes() {
    // A resize can arrive before the catalogue exists, while the window is built.
    if (m_library) m_library->LayoutRowBoxes();
}

void TForm_main::FormResize() {
    ProgramState& s = state();
    QRect frame = frameGeometry();
    s.shell.mainWidth = frame.width();
    s.shell.mainHeight = frame.height();
    LayoutRowBoxes();
    s.shell.statusIconBase = StatusIconBaseFor(s.shell.mainWidth);
    m_statusPanels->setIconBase(s.shell.statusIconBase);
    m_grid->setColumnWidth(1, s.shell.mainWidth - 500);
}

void TForm_main::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TForm_main::closeAtOnce() {
    m_closeAtOnce = true;
    close();
}

void TForm_main::closeEvent(QCloseEvent* event) {
    // Closing the window by hand during a capture would throw the measurement
    // away unasked. A close from a signal or the session's logout goes on at
    // once: nobody is there to answer.
    if (!m_closing && !m_closeAtOnce && !qApp->isSavingSession() &&
        (state().measurement.measureState.load(std::memory_order_acquire) != 0 || m_measure->workerBusy())) {
        if (m_services.dialogs.message(kStopMeasurementQuestion, kMessageCaption, MessageIcon::Warning,
                                       MessageButtons::OkCancel) != DialogAnswer::Ok) {
            event->ignore();
            return;
        }
    }
    if (!m_closing) {
        m_closing = true;
        m_deviceTimer->stop();
        // Veltrane never leaves the laser on: a running measurement is ended
        // here, its worker switching the laser off before it returns.
        m_measure->shutdown();
        // A transfer ends at its next step, leaving the instrument's store as
        // it was rather than half written.
        m_transfer->shutdown();
        // An import ends after its current file, its entries flushed.
        m_import->shutdown();
        m_library->EmptyDeviceFolder();
        // The file keeps its earlier contents then; the user should know that
        // this run's settings are not in it.
        if (!writeSettings()) showMessage(kSettingsSaveFailed, MessageIcon::Warning);
    }
    event->accept();
    // The secondary windows have no parent; the program ends with this one.
    QApplication::closeAllWindows();
}

bool TForm_main::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || widget->window() != this || !m_keyPreview || !isEnabled()) break;
        // A key travels from the focus widget up to its parents; act on it once,
        // where it is first delivered.
        QWidget* target = QApplication::focusWidget();
        if (target ? widget != target : widget != this) break;
        // Letters typed into a box are text: "c" in the smoothing box must
        // not start a capture and switch the laser on.
        if (IsTextEntry(target)) break;
        QString text = static_cast<QKeyEvent*>(event)->text();
        if (text.isEmpty() || !text.at(0).isPrint()) break;
        FormKeyPress(text.toUpper().toStdString());
        break;
    }
    case QEvent::FocusIn:
        if (watched == m_editExp || watched == m_editAvg || watched == m_editPreheat) m_keyPreview = false;
        break;
    case QEvent::FocusOut:
        if (watched == m_editExp || watched == m_editAvg || watched == m_editPreheat) m_keyPreview = true;
        break;
    case QEvent::Enter:
        if (watched == m_grid) m_keyPreview = false;
        break;
    case QEvent::Leave:
        if (watched == m_grid) m_keyPreview = true;
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace veltrane
