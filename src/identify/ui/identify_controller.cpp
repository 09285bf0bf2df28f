#include "identify/ui/identify_controller.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPageSize>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>

#include "axis_check/axis_check_log.h"
#include "identify/hit_table.h"
#include "identify/identify_settings.h"
#include "identify/verdict.h"
#include "library/library_file.h"
#include "measure/raw_spectrum_file.h"
#include "measure/saturation.h"
#include "platform/file_io.h"
#include "identify/ui/report_page.h"

namespace veltrane {

namespace {

constexpr const char* kColumns[] = {"Rank", "HQI", "Name", "Model", "Date", "Folder"};
constexpr int kTopHits = 20;
// The panel's first width, and the least it and the chart keep when it
// opens: at 1024 pixels the chart still shows a spectrum worth reading.
constexpr int kDefaultPanelWidth = 320;
constexpr int kSmallestPanelWidth = 240;
constexpr int kSmallestChartWidth = 480;
constexpr const char* kHitsFilter = "CSV(*.csv)|*.csv";

// A magnifier over a spectrum line, drawn like the other tool glyphs.
QIcon IdentifyIcon() {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 90, 160), 3));
    QPolygonF line;
    for (int x = 4; x <= 44; x += 2)
        line << QPointF(x, 40 - 18 * std::exp(-std::pow((x - 24) / 4.0, 2)));
    p.drawPolyline(line);
    p.setPen(QPen(QColor(60, 60, 60), 5));
    p.drawEllipse(QPointF(28, 28), 16, 16);
    p.drawLine(QPointF(40, 40), QPointF(58, 58));
    return QIcon(pixmap);
}

QString HqiText(double hqi) {
    return QString::number(hqi, 'f', 2);
}

// Green, amber and grey, the colours of go, check and nothing found.
QColor VerdictColour(Verdict verdict) {
    switch (verdict) {
    case Verdict::Match:
        return QColor(0, 128, 0);
    case Verdict::PossibleMatch:
        return QColor(196, 120, 0);
    case Verdict::NoMatch:
        break;
    }
    return QColor(110, 110, 110);
}

} // namespace

struct IdentifyController::Search {
    std::vector<double> x, y;
    std::shared_ptr<const IndexedLibrary> previous;
    std::shared_ptr<const IndexedLibrary> library;
    UnknownSpectrum unknown;
    Ranking ranking;
    IdentifyVerdict verdict;
    std::string runnerUpName;
    std::optional<MixtureResult> mixture;
    bool indexOk = true;
    std::string message;   // said instead of a verdict
    std::string notKept;   // why the index file was not used
};

IdentifyController::IdentifyController(WindowHost& main, MeasurementSession& session, const DeviceInfo& device)
    : m_main(main), m_session(session), m_device(device), m_hotkey(kDefaultIdentifyHotkey) {
    // The button joins the Spectrum mode's function buttons.
    QWidget* functions = main.mainWindow()->findChild<QWidget*>("Panel_function_ground");
    m_button = new QToolButton(functions);
    m_button->setObjectName("SpeedButton_identify");
    m_button->setIcon(IdentifyIcon());
    m_button->setIconSize(QSize(32, 32));
    m_button->setText("Identify");
    m_button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_button->setAutoRaise(true);
    m_button->setFixedSize(64, 64);
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->setEnabled(false);
    if (functions && functions->layout()) {
        auto* row = static_cast<QHBoxLayout*>(functions->layout());
        // After Make Library, the last of the Spectrum mode's buttons.
        QWidget* makeLibrary = main.mainWindow()->findChild<QWidget*>("SpeedButton_save_lib");
        int at = makeLibrary ? row->indexOf(makeLibrary) : -1;
        row->insertWidget(at + 1, m_button);
    }
    setHotkey(m_hotkey);
    connect(m_button, &QToolButton::clicked, this, &IdentifyController::SpeedButton_identifyClick);

    // The panel, beside the chart on the spectrum page, shown once used.
    m_panel = new QWidget();
    m_panel->setObjectName("Panel_identify");
    m_panel->setMinimumWidth(kSmallestPanelWidth);
    auto* layout = new QVBoxLayout(m_panel);
    layout->setContentsMargins(4, 4, 4, 4);
    // Above the verdict: a clipped spectrum has lost the true height of its
    // strongest bands, and a score computed from it can mislead.
    m_saturated = new QLabel(m_panel);
    m_saturated->setObjectName("Label_identify_saturated");
    m_saturated->setStyleSheet("color: #dc0000; font-weight: bold;");
    m_saturated->setWordWrap(true);
    m_saturated->setVisible(false);
    layout->addWidget(m_saturated);
    auto* top = new QHBoxLayout;
    m_verdict = new QLabel(m_panel);
    m_verdict->setObjectName("Label_identify_verdict");
    QFont bold = m_verdict->font();
    bold.setBold(true);
    m_verdict->setFont(bold);
    m_verdict->setWordWrap(true);
    top->addWidget(m_verdict, 1);
    m_close = new QToolButton(m_panel);
    m_close->setObjectName("Button_identify_close");
    m_close->setText(QString::fromUtf8("\u2715"));
    m_close->setToolTip("Close");
    m_close->setAutoRaise(true);
    m_close->setFocusPolicy(Qt::NoFocus);
    top->addWidget(m_close, 0, Qt::AlignTop);
    layout->addLayout(top);
    connect(m_close, &QToolButton::clicked, this, &IdentifyController::Button_identify_closeClick);
    m_table = new QTableWidget(0, static_cast<int>(std::size(kColumns)), m_panel);
    m_table->setObjectName("StringGrid_identify");
    QStringList headers;
    for (const char* c : kColumns)
        headers << c;
    m_table->setHorizontalHeaderLabels(headers);
    m_table->verticalHeader()->setVisible(false);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_table, 1);
    auto* copy = new QAction("Copy", m_table);
    copy->setObjectName("Action_copy_hits");
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, &IdentifyController::copyHits);
    auto* exportCsv = new QAction("Export to CSV…", m_table);
    exportCsv->setObjectName("Action_export_hits");
    connect(exportCsv, &QAction::triggered, this, &IdentifyController::exportHits);
    m_table->addAction(copy);
    m_table->addAction(exportCsv);
    m_table->setContextMenuPolicy(Qt::ActionsContextMenu);
    // The table view copies only its current cell on its own.
    m_table->installEventFilter(this);
    m_mixtureButton = new QToolButton(m_panel);
    m_mixtureButton->setObjectName("Button_identify_mixture");
    m_mixtureButton->setAutoRaise(true);
    m_mixtureButton->setToolTip("Show the sample, the fitted mixture and its components on the chart");
    m_mixtureButton->setVisible(false);
    layout->insertWidget(layout->indexOf(m_table), m_mixtureButton);
    connect(m_mixtureButton, &QToolButton::clicked, this, &IdentifyController::Button_identify_mixtureClick);
    m_skipped = new QLabel(m_panel);
    m_skipped->setObjectName("Label_identify_skipped");
    layout->addWidget(m_skipped);
    // A record of the result: the page as a PDF, or on paper.
    auto* records = new QHBoxLayout;
    m_report = new QToolButton(m_panel);
    m_report->setObjectName("Button_identify_report");
    m_report->setText("Report…");
    m_report->setToolTip("Write a one-page PDF report of this result");
    m_print = new QToolButton(m_panel);
    m_print->setObjectName("Button_identify_print");
    m_print->setText("Print…");
    m_print->setToolTip("Print the report of this result");
    m_paper = new QComboBox(m_panel);
    m_paper->setObjectName("ComboBox_report_paper");
    m_paper->addItems({"A4", "Letter"});
    m_paper->setToolTip("The paper the report is laid out for");
    for (QWidget* w : {static_cast<QWidget*>(m_report), static_cast<QWidget*>(m_print), static_cast<QWidget*>(m_paper)})
        records->addWidget(w);
    records->addStretch(1);
    layout->addLayout(records);
    m_report->setEnabled(false);
    m_print->setEnabled(false);
    connect(m_report, &QToolButton::clicked, this, &IdentifyController::Button_identify_reportClick);
    connect(m_print, &QToolButton::clicked, this, &IdentifyController::Button_identify_printClick);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &IdentifyController::StringGrid_identifySelect);
    m_splitter = main.mainWindow()->findChild<QSplitter*>("Splitter2");
    if (m_splitter) {
        m_splitter->addWidget(m_panel);
        m_splitter->setCollapsible(m_splitter->indexOf(m_panel), false);
        connect(m_splitter, &QSplitter::splitterMoved, this, [this] {
            if (m_panel->isVisible()) m_panelWidth = m_splitter->sizes().value(m_splitter->indexOf(m_panel));
        });
    }
    m_panel->setVisible(false);

    m_timer = new QTimer(this);
    m_timer->setObjectName("Timer_identify");
    m_timer->setInterval(50);
    connect(m_timer, &QTimer::timeout, this, &IdentifyController::Timer_identifyTimer);
    m_timer->start();
}

IdentifyController::~IdentifyController() {
    m_stop.store(true);
    if (m_worker.joinable()) m_worker.join();
}

void IdentifyController::setHotkey(const std::string& key) {
    m_hotkey = key;
    bool none = key.empty() || key == " ";
    m_button->setToolTip(none ? QString("Identify") : QString("Identify (%1)").arg(QString::fromStdString(key)));
}

bool IdentifyController::isHotkey(const std::string& upperText, ActiveMode mode) const {
    if (mode != ActiveMode::Spectrum || m_hotkey.empty() || m_hotkey == " ") return false;
    return QString::fromStdString(m_hotkey).toUpper().toStdString() == upperText;
}

void IdentifyController::showInMode(ActiveMode mode) {
    m_button->setVisible(mode == ActiveMode::Spectrum);
}

bool IdentifyController::spectrumShown() const {
    return (m_session.spectrum.haveMeasured || m_session.spectrum.haveFileData) && m_session.measureState.load() == 0;
}

// Changes whenever another spectrum is shown: a capture starting, a file opened.
std::uint64_t IdentifyController::spectrumStamp() const {
    std::uint64_t h = 1469598103934665603ull ^ m_session.measureState.load();
    auto mix = [&h](const void* p, std::size_t n) {
        const auto* b = static_cast<const unsigned char*>(p);
        for (std::size_t i = 0; i < n; ++i)
            h = (h ^ b[i]) * 1099511628211ull;
    };
    mix(m_session.spectrum.signal.data(), sizeof(float) * m_device.pixelCount);
    mix(m_session.spectrum.dark.data(), sizeof(float) * m_device.pixelCount);
    mix(m_session.spectrum.axis.data(), sizeof(float) * m_device.pixelCount);
    // An opened spectrum of more points is in the arrays resampled; its own
    // length tells two such files apart as well, without hashing megabytes
    // at every tick.
    const std::size_t opened = ShowsForeignSpectrum(m_session.spectrum) ? m_session.spectrum.foreignAxis.size() : 0;
    mix(&opened, sizeof opened);
    return h;
}

void IdentifyController::SpeedButton_identifyClick() {
    if (m_worker.joinable() || !spectrumShown()) return;
    if (!m_session.spectrum.haveFileData && !m_device.waveCalValid) {
        m_main.dialogs().message(kNoWaveCalibration, "", MessageIcon::Error);
        return;
    }
    // What the chart shows: the dark-corrected signal over the drawn window.
    auto search = std::make_unique<Search>();
    const SeriesHandle shown = m_main.measuredSeries();
    for (const ChartPoint& p : m_main.spectrumChart().seriesPoints(shown)) {
        search->x.push_back(p.x);
        search->y.push_back(p.y);
    }
    search->previous = m_library;
    clearOverlay();
    clearResult();
    m_spectrumStamp = spectrumStamp();
    showPanel();
    m_verdict->setText("Searching...");
    m_button->setEnabled(false);
    m_search = std::move(search);
    m_workerDone.store(false);
    m_stop.store(false);
    m_progress.total.store(0);
    m_progress.done.store(0);
    Search* job = m_search.get();
    std::vector<std::string> folders = {m_main.paths().pcLibraryFolder(), m_main.paths().deviceLibraryFolder()};
    std::string database = IdentifyIndexPath(m_main.paths());
    m_started = std::chrono::steady_clock::now();
    m_worker = std::thread([this, job, folders, database] {
        job->unknown = PrepareUnknown(job->x, job->y);
        job->library = std::make_shared<IndexedLibrary>();
        if (job->unknown.grid.values.empty()) {
            job->message = kNoUsableSignal;
            m_workerDone.store(true, std::memory_order_release);
            return;
        }
        LibraryIndex index(database);
        IndexUpdate report =
            index.update(folders, std::max(1u, std::thread::hardware_concurrency()), &m_progress, &m_stop);
        bool unchanged = report.ok && report.processed == 0 && report.dropped == 0 && !report.rebuilt &&
                         report.notKept.empty();
        if (unchanged && job->previous) {
            job->library = job->previous;
        } else {
            auto fresh = std::make_shared<IndexedLibrary>();
            IndexUpdate again;
            job->indexOk = report.ok && (index.load(folders, *fresh) ||
                                         index.refresh(folders, *fresh, 1, nullptr, nullptr, &again));
            if (!again.notKept.empty()) report.notKept = again.notKept;
            job->library = fresh;
        }
        job->notKept = report.notKept;
        if (report.foreign) {
            job->message = kNotLibraryIndex + database;
        } else if (!job->indexOk) {
            job->message = "Can not write the library index!";
        } else if (job->library->prepared.size() == 0) {
            job->message = kNoLibraryEntries;
        }
        if (!job->message.empty()) {
            m_workerDone.store(true, std::memory_order_release);
            return;
        }
        // The whole library is ranked: the verdict looks past the listed
        // hits for the best one of another name.
        job->ranking = RankLibrary(job->unknown, job->library->prepared, SearchRange{});
        const IndexedLibrary& lib = *job->library;
        job->verdict = DecideVerdict(job->ranking.hits,
                                     [&lib](std::size_t entry) -> const std::string& { return lib.info[entry].name; });
        if (job->verdict.runnerUp) job->runnerUpName = lib.info[job->ranking.hits[*job->verdict.runnerUp].entry].name;
        // A mixture is offered only when it fits clearly better than any
        // one entry (the search's own rule for adding a component).
        MixtureSettings mixture;
        mixture.sameMaterial = [&lib](std::size_t a, std::size_t b) {
            return SameMaterial(lib.info[a].name, lib.info[b].name);
        };
        job->mixture = FindMixture(job->unknown, lib.prepared, job->ranking, SearchRange{}, mixture);
        if (job->mixture && !job->mixture->isMixture()) job->mixture.reset();
        if (job->ranking.hits.size() > static_cast<std::size_t>(kTopHits)) job->ranking.hits.resize(kTopHits);
        m_workerDone.store(true, std::memory_order_release);
    });
}

void IdentifyController::Timer_identifyTimer() {
    if (m_worker.joinable()) {
        std::size_t total = m_progress.total.load(std::memory_order_relaxed);
        if (total > 0 && m_session.measureState.load() == 0)
            m_main.progressBar()->setValue(
                static_cast<int>(100 * m_progress.done.load(std::memory_order_relaxed) / total));
        if (total > 0 && m_session.measureState.load() == 0) showPreparation(total);
        if (!m_workerDone.load(std::memory_order_acquire)) return;
        m_worker.join();
        if (total > 0 && m_session.measureState.load() == 0) {
            m_main.progressBar()->setValue(0);
            m_main.showNotice(QString());
        }
        showResult();
    }
    // A new capture or file makes the result and its overlay out of date.
    if ((!m_hits.empty() || m_overlayUnknown != kNoSeries || !m_overlayMixture.empty()) &&
        spectrumStamp() != m_spectrumStamp) {
        clearOverlay();
        clearResult();
    }
    m_button->setEnabled(spectrumShown());
}

// Preparing a large library takes a while: how far it got and how long it
// will still take, from the pace so far.
void IdentifyController::showPreparation(std::size_t total) {
    std::size_t done = std::min(total, m_progress.done.load(std::memory_order_relaxed));
    std::size_t left = total - done;
    QString text = QString("Preparing libraries: %1 of %2 files done, %3 left").arg(done).arg(total).arg(left);
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    if (done > 0 && left > 0) {
        long seconds = std::lround(elapsed / static_cast<double>(done) * static_cast<double>(left));
        text += seconds >= 60 ? QString(", about %1 min %2 s left").arg(seconds / 60).arg(seconds % 60)
                              : QString(", about %1 s left").arg(std::max(1L, seconds));
    }
    m_main.showNotice(text);
}

void IdentifyController::showResult() {
    std::unique_ptr<Search> search = std::move(m_search);
    if (!search) return;
    m_library = search->library;
    m_unknown = std::move(search->unknown);
    m_hits = search->ranking.hits;
    m_mixture = search->mixture;
    const IndexedLibrary& library = *m_library;
    if (m_mixture) {
        m_mixtureButton->setText(QString::fromStdString(
            MixtureText(*m_mixture, [&library](std::size_t entry) { return library.info[entry].name; })));
    }
    m_mixtureButton->setVisible(m_mixture.has_value());
    const bool saturated = SaturatedPixelCount(m_session.spectrum, m_device.pixelCount) != 0;
    m_saturated->setText(saturated ? kSaturatedIdentifyWarning : "");
    m_saturated->setVisible(saturated);
    if (!search->notKept.empty())
        m_main.showNotice(
            QString::fromStdString(IdentifyIndexPath(m_main.paths()) + ": " + IndexNotKeptText(search->notKept)));
    if (!search->message.empty()) {
        m_verdict->setText(QString::fromStdString(search->message));
        m_verdict->setStyleSheet(QString("color: %1").arg(VerdictColour(Verdict::NoMatch).name()));
    } else {
        const IdentifyVerdict& v = search->verdict;
        // The runner-up of another name may lie beyond the listed hits; its
        // score is the best one's less the margin.
        std::string best = v.best ? library.info[m_hits[*v.best].entry].name : std::string();
        m_verdict->setText(QString::fromStdString(VerdictText(v, best, search->runnerUpName, v.hqi - v.margin)));
        m_verdictNames = {v, best, search->runnerUpName, v.hqi - v.margin};
        m_verdict->setStyleSheet(QString("color: %1").arg(VerdictColour(v.verdict).name()));
    }
    m_table->setRowCount(static_cast<int>(m_hits.size()));
    for (std::size_t r = 0; r < m_hits.size(); ++r) {
        const IndexedEntryInfo& info = library.info[m_hits[r].entry];
        QString cells[] = {QString::number(r + 1),
                           HqiText(m_hits[r].hqi),
                           QString::fromStdString(info.name),
                           QString::fromStdString(LibraryModelName(info.modelCode, m_device.brandVariant)),
                           QString::fromStdString(info.date),
                           QString::fromStdString(info.folder())};
        for (int c = 0; c < static_cast<int>(std::size(cells)); ++c)
            m_table->setItem(static_cast<int>(r), c, new QTableWidgetItem(cells[c]));
    }
    m_table->resizeColumnsToContents();
    std::size_t skipped = library.skipped.size() + search->ranking.tooFewPoints.size();
    QStringList reasons;
    for (const IndexSkip& skip : library.skipped)
        reasons << QString::fromStdString(skip.path + ": " + skip.reason);
    for (std::size_t e : search->ranking.tooFewPoints)
        reasons << QString::fromStdString(library.info[e].path + ": too few points in common");
    m_skipped->setText(skipped ? QString("%1 files not searched").arg(skipped) : QString());
    m_skipped->setToolTip(reasons.join('\n'));
    m_report->setEnabled(!m_hits.empty());
    m_print->setEnabled(!m_hits.empty());
    m_button->setEnabled(spectrumShown());
}

void IdentifyController::StringGrid_identifySelect() {
    clearOverlay();
    int row = m_table->currentRow();
    if (!m_library || row < 0 || row >= static_cast<int>(m_hits.size())) return;
    if (m_table->selectedItems().isEmpty()) return;
    ChartModel& chart = m_main.spectrumChart();
    // Both curves reach the height of the shown spectrum, so they sit on
    // its scale.
    double height = 0.0;
    for (const ChartPoint& p : chart.seriesPoints(m_main.measuredSeries()))
        height = std::max(height, p.y);
    if (!(height > 0.0)) height = 1.0;
    const RankedHit& hit = m_hits[static_cast<std::size_t>(row)];
    const IndexedLibrary& library = *m_library;
    std::optional<HitOverlay> overlay = OverlayOf(m_unknown, library, hit.entry, height);
    if (!overlay) return;
    m_overlayUnknown = chart.createLineSeries();
    chart.setSeriesTitle(m_overlayUnknown, "Sample, baseline removed");
    chart.addPoints(m_overlayUnknown, overlay->sample);
    m_overlayHit = chart.createLineSeries();
    chart.setSeriesTitle(m_overlayHit, library.info[hit.entry].name);
    chart.addPoints(m_overlayHit, overlay->hit);
    chart.setLegendVisible(true);
    chart.redrawNow();
}

void IdentifyController::Button_identify_mixtureClick() {
    clearOverlay();
    if (!m_library || !m_mixture || m_unknown.grid.values.empty()) return;
    m_table->clearSelection();
    ChartModel& chart = m_main.spectrumChart();
    double height = 0.0;
    for (const ChartPoint& p : chart.seriesPoints(m_main.measuredSeries()))
        height = std::max(height, p.y);
    if (!(height > 0.0)) height = 1.0;
    // Everything in the sample's prepared intensity (the square of the
    // comparison form), scaled so the sample reaches the shown spectrum's
    // height: the components then add up to the fitted sum.
    const GridSpectrum& u = m_unknown.grid;
    const std::int32_t first = std::max(u.start, SearchRange{}.low);
    double top = 0.0;
    for (std::int32_t x = first; x < u.end(); ++x) {
        const double v = u.values[static_cast<std::size_t>(x - u.start)];
        top = std::max(top, v * v);
    }
    const double scale = top > 0.0 ? height / top : height;
    std::vector<ChartPoint> sample, sum;
    for (std::int32_t x = first; x < u.end(); ++x) {
        const double v = u.values[static_cast<std::size_t>(x - u.start)];
        sample.push_back({static_cast<double>(x), v * v * scale});
        sum.push_back({static_cast<double>(x), 0.0});
    }
    std::vector<std::size_t> entries;
    for (const MixtureComponent& c : m_mixture->components)
        entries.push_back(c.entry);
    std::vector<std::vector<float>> full;
    m_library->prepared.fullValues(entries, full);
    auto add = [&](const std::string& title, std::vector<ChartPoint> points) {
        SeriesHandle h = chart.createLineSeries();
        chart.setSeriesTitle(h, title);
        chart.addPoints(h, std::move(points));
        m_overlayMixture.push_back(h);
    };
    add("Sample, baseline removed", sample);
    std::vector<std::pair<std::string, std::vector<ChartPoint>>> parts;
    for (std::size_t i = 0; i < entries.size() && i < full.size(); ++i) {
        const MixtureComponent& c = m_mixture->components[i];
        const std::int32_t start = m_library->prepared.start(c.entry);
        std::vector<ChartPoint> part;
        for (std::size_t k = 0; k < sum.size(); ++k) {
            const std::int32_t at = first + static_cast<std::int32_t>(k) - start;
            double v = at >= 0 && at < static_cast<std::int32_t>(full[i].size()) ? full[i][static_cast<std::size_t>(at)] : 0.0;
            v = c.weight * v * v * scale;
            part.push_back({sum[k].x, v});
            sum[k].y += v;
        }
        char share[32];
        std::snprintf(share, sizeof share, " (%.0f %%)", 100.0 * c.share);
        parts.emplace_back(m_library->info[c.entry].name + share, std::move(part));
    }
    add("Fitted mixture", sum);
    for (auto& [title, points] : parts)
        add(title, std::move(points));
    chart.setLegendVisible(true);
    chart.redrawNow();
}

void IdentifyController::clearOverlay() {
    ChartModel& chart = m_main.spectrumChart();
    for (SeriesHandle* h : {&m_overlayUnknown, &m_overlayHit}) {
        if (*h != kNoSeries && chart.seriesIndex(*h) >= 0) chart.removeSeries(*h);
        *h = kNoSeries;
    }
    for (SeriesHandle h : m_overlayMixture)
        if (chart.seriesIndex(h) >= 0) chart.removeSeries(h);
    m_overlayMixture.clear();
}

void IdentifyController::clearResult() {
    m_hits.clear();
    m_verdictNames = {};
    m_report->setEnabled(false);
    m_print->setEnabled(false);
    m_mixture.reset();
    m_mixtureButton->setVisible(false);
    m_table->setRowCount(0);
    m_verdict->clear();
    m_verdict->setStyleSheet(QString());
    m_saturated->clear();
    m_saturated->setVisible(false);
    m_skipped->clear();
    m_skipped->setToolTip(QString());
}

void IdentifyController::showPanel() {
    if (m_panel->isVisible()) return;
    m_panel->setVisible(true);
    if (!m_splitter) return;
    // The panel's room comes from the chart, never from the parameters.
    QList<int> sizes = m_splitter->sizes();
    const int at = m_splitter->indexOf(m_panel);
    const int chart = at - 1;
    if (chart < 0 || at >= sizes.size()) return;
    const int room = sizes[chart] + sizes[at];
    if (room <= kSmallestPanelWidth) return; // not laid out yet: a zero would fold the chart away
    int width = m_panelWidth > 0 ? m_panelWidth : kDefaultPanelWidth;
    width = std::max(kSmallestPanelWidth, std::min(width, room - kSmallestChartWidth));
    sizes[chart] = std::max(0, room - width);
    sizes[at] = width;
    m_splitter->setSizes(sizes);
}

void IdentifyController::Button_identify_closeClick() {
    m_table->clearSelection();
    clearOverlay();
    m_panel->setVisible(false);
}

std::vector<std::vector<std::string>> IdentifyController::hitRows() const {
    std::vector<std::vector<std::string>> rows;
    rows.emplace_back(std::begin(kColumns), std::end(kColumns));
    for (int r = 0; r < m_table->rowCount(); ++r) {
        std::vector<std::string> row;
        for (int c = 0; c < m_table->columnCount(); ++c) {
            const QTableWidgetItem* item = m_table->item(r, c);
            row.push_back(item ? item->text().toStdString() : std::string());
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void IdentifyController::copyHits() {
    if (m_table->rowCount() == 0) return;
    QApplication::clipboard()->setText(QString::fromStdString(HitTableText(hitRows(), HitTableForm::Tabs)));
}

void IdentifyController::exportHits() {
    if (m_table->rowCount() == 0) return;
    std::optional<std::string> path = m_main.dialogs().saveFile(kHitsFilter, "*.csv");
    if (!path) return;
    if (!WriteFileAtomically(*path, HitTableText(hitRows(), HitTableForm::Csv))) {
        m_main.dialogs().message(kSaveFailed, kMessageCaption, MessageIcon::Error);
        return;
    }
    m_main.showNotice(QString("Saved %1").arg(QString::fromStdString(*path)));
}

bool IdentifyController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_table && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        copyHits();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool IdentifyController::letterPaper() const {
    return m_paper->currentIndex() == 1;
}

void IdentifyController::setLetterPaper(bool letter) {
    m_paper->setCurrentIndex(letter ? 1 : 0);
}

IdentificationReport IdentifyController::currentReport() const {
    ReportMeasurement m;
    m.sample = m_session.sample;
    m.brand = m_device.brandVariant;
    // How the shown spectrum was measured, as its capture ended or as its
    // file (a raw file's sidecar) says.
    const CaptureSettings& capture = m_session.shownCapture;
    m.serial = capture.serial;
    m.integrationMs = capture.integrationMs;
    if (capture.averages > 0) m.averages = capture.averages;
    if (m_session.spectrum.haveMeasured) {
        if (m_session.capturedAt) m.measured = ReportTimeText(m_session.capturedAt);
        m.instrument = m_device.modelName;
        if (m_device.laserWavelength > 0.0f) m.laserNm = m_device.laserWavelength;
        m.saturatedPixels = SaturatedPixelCount(m_session.spectrum, m_device.pixelCount);
    } else if (ShowsForeignSpectrum(m_session.spectrum)) {
        m.source = m_session.rawFile.header.name();
    } else {
        // An opened raw file tells its date, model and laser.
        const RawFileRecord& raw = m_session.rawFile;
        m.measured = raw.header.dateText();
        m.instrument = LibraryModelName(raw.header.modelCode(), m_device.brandVariant);
        if (raw.laserWavelength > 0.0f) m.laserNm = raw.laserWavelength;
        m.source = raw.header.name();
        m.saturatedPixels = SaturatedPixelCount(raw);
    }
    if (const auto* smooth = m_main.mainWindow()->findChild<QLineEdit*>("Edit_smooth")) {
        bool ok = false;
        const int level = smooth->text().toInt(&ok);
        if (ok) m.smoothing = level;
    }
    if (!m.serial.empty()) {
        const std::string& settings = m_main.paths().settingsFile;
        m.axisCheck =
            AxisCheckSummary(AxisCheckLog(settings).last(m.serial), AxisCorrectionStore(settings).find(m.serial));
    }
    static const IndexedLibrary kNoLibrary;
    const IndexedLibrary& library = m_library ? *m_library : kNoLibrary;
    return AssembleReport(m, m_unknown, library, m_hits, m_verdictNames,
                          {m_main.paths().pcLibraryFolder(), m_main.paths().deviceLibraryFolder()},
                          std::time(nullptr));
}

void IdentifyController::Button_identify_reportClick() {
    if (m_hits.empty()) return;
    std::string name = m_session.sample.sampleName.empty() ? "report" : m_session.sample.sampleName;
    for (char& c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '_';
    const std::string suggested =
        m_reportFolder.empty() ? name + ".pdf" : (std::filesystem::path(m_reportFolder) / (name + ".pdf")).string();
    std::optional<std::string> path = m_main.dialogs().saveFile("PDF report(*.pdf)|*.pdf", suggested);
    if (!path) return;
    const std::string pdf = ReportPdf(currentReport(), letterPaper() ? ReportPaper::Letter : ReportPaper::A4);
    if (pdf.empty() || !WriteFileAtomically(*path, pdf)) {
        m_main.dialogs().message(kSaveFailed, kMessageCaption, MessageIcon::Error);
        return;
    }
    m_reportFolder = std::filesystem::path(*path).parent_path().string();
    m_main.showNotice(QString::fromStdString("Saved " + *path));
    if (m_main.dialogs().message("Saved " + *path + ". Open it now?", "Report", MessageIcon::None,
                                 MessageButtons::OkCancel) == DialogAnswer::Ok)
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(*path)));
}

bool IdentifyController::printTo(QPrinter& printer) const {
    printer.setPageSize(QPageSize(letterPaper() ? QPageSize::Letter : QPageSize::A4));
    printer.setFullPage(true);
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    // The page is laid out in points; the printer counts its own dots.
    const QSizeF page = ReportPageSize(letterPaper() ? ReportPaper::Letter : ReportPaper::A4);
    const double scale = printer.pageRect(QPrinter::DevicePixel).width() / page.width();
    painter.scale(scale, scale);
    PaintReport(painter, page, currentReport());
    return painter.end();
}

void IdentifyController::Button_identify_printClick() {
    if (m_hits.empty()) return;
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, m_main.mainWindow());
    if (dialog.exec() != QDialog::Accepted) return;
    if (!printTo(printer)) m_main.dialogs().message("The report could not be printed.", kMessageCaption, MessageIcon::Error);
}

} // namespace veltrane
