#include "shared/ui/chart_view.h"

#include <QChart>
#include <QContextMenuEvent>
#include <QFont>
#include <QGraphicsLayout>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QRubberBand>
#include <QTextDocument>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "shared/axis_ticks.h"
#include "shared/peak_finder.h"

namespace veltrane {

namespace {

const QColor kAxisLineColour(0x40, 0x40, 0x40);
const QColor kGridLineColour(0xA9, 0xA9, 0xA9);
const QColor kBackgroundBottom(0xEA, 0xEA, 0xEA);
constexpr int kFontPointSize = 8;
constexpr double kTitleSlack = 32.0; // pixels a Start/End title keeps from the far end

// Beyond this many ticks a desired increment is a mistake (a step of 1 on a
// 0..65535 axis); Qt Charts would build a label item for each of them.
constexpr double kMostDynamicTicks = 200.0;

constexpr double kSelectedPenWidth = 2.5;
constexpr double kWheelZoomPerNotch = 0.8; // the range shrinks to this per notch
constexpr int kSmallestZoomDrag = 5;       // pixels; a shorter drag is a click
constexpr std::size_t kMostPeakLabels = 8;
// A peak must stand out by this share of the visible intensity range to be
// labelled at all, so a flat or noisy curve gets no labels on its noise.
constexpr double kSmallestPeakShare = 0.03;

QFont chartFont(bool bold = false) {
    QFont font(QStringLiteral("Verdana"), kFontPointSize);
    font.setStyleHint(QFont::SansSerif); // whatever sans the system has when Verdana is missing
    font.setBold(bold);
    return font;
}

// Whether every value shows as a whole number once rounded to one decimal.
bool allWhole(const std::vector<double>& values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::llround(v * 10.0) % 10 == 0; });
}

QColor toQColor(std::uint32_t rgb) {
    return QColor::fromRgb(static_cast<QRgb>(0xFF000000u | rgb));
}

} // namespace

// The chart is handed to the base at construction: a chart view made without
// one creates a default chart of its own, which setChart() later releases
// without deleting.
ChartView::ChartView(ChartModel& model, QWidget* parent) : QChartView(new QChart(), parent), m_model(model) {
    m_chart = chart();
    m_chart->setAnimationOptions(QChart::NoAnimation);
    m_chart->setBackgroundRoundness(0);
    m_chart->layout()->setContentsMargins(0, 0, 0, 0); // the gradient fills the whole view
    m_chart->setDropShadowEnabled(false);
    QLinearGradient background(0.0, 1.0, 0.0, 0.0);
    background.setCoordinateMode(QGradient::ObjectBoundingMode);
    background.setColorAt(0.0, kBackgroundBottom);
    background.setColorAt(1.0, Qt::white);
    m_chart->setBackgroundBrush(background);
    m_chart->setTitle(QString());
    m_chart->legend()->setFont(chartFont());
    m_chart->legend()->setVisible(false);

    m_bottomAxis = new QValueAxis(m_chart);
    m_leftAxis = new QValueAxis(m_chart);
    for (QValueAxis* axis : {m_bottomAxis, m_leftAxis}) {
        axis->setLinePenColor(kAxisLineColour);
        axis->setGridLineColor(kGridLineColour);
        axis->setMinorGridLineVisible(false);
        axis->setLabelsColor(Qt::black);
        axis->setLabelsFont(chartFont());
        axis->setTitleFont(chartFont(true));
        axis->setTitleBrush(Qt::black);
        axis->setTickAnchor(0.0);
    }
    m_chart->addAxis(m_bottomAxis, Qt::AlignBottom);
    m_chart->addAxis(m_leftAxis, Qt::AlignLeft);
    setFrameShape(QFrame::NoFrame);

    // Start/End title positions depend on the axis length.
    // Tick spacing depends on it too.
    connect(m_chart, &QChart::plotAreaChanged, this, [this] {
        placeAxisTitles();
        placeTicks();
    });
    m_band = new QRubberBand(QRubberBand::Rectangle, this);
    setMouseTracking(true);

    m_syncTimer.setSingleShot(true);
    m_syncTimer.setInterval(0);
    connect(&m_syncTimer, &QTimer::timeout, this, &ChartView::syncNow);

    // QPointer rather than a plain `this`: the model may outlive the view and
    // keep changing, and then the notice must fall on nothing.
    m_model.setListener([view = QPointer<ChartView>(this)](bool immediate) {
        if (view) view->onModelChanged(immediate);
    });
    syncNow();
}

// The model is not touched here: in a window that owns both, the model member
// is gone before child widgets are deleted.
ChartView::~ChartView() = default;

void ChartView::onModelChanged(bool immediate) {
    if (!immediate) {
        if (!m_syncTimer.isActive()) m_syncTimer.start();
        return;
    }
    m_syncTimer.stop();
    syncNow();
    if (isVisible()) viewport()->repaint();
}

void ChartView::syncNow() {
    m_syncTimer.stop();
    m_model.recomputeAutomaticBounds();
    if (m_zoomed && axisSettings() != m_zoomSettings) m_zoomed = false;
    if (m_selected != kNoSeries && m_model.seriesIndex(m_selected) < 0) m_selected = kNoSeries;
    // Axes before points, so the new points are laid out once, in the new
    // ranges.
    syncAxis(ChartAxis::Bottom, m_bottomAxis);
    syncAxis(ChartAxis::Left, m_leftAxis);
    syncSeries();
    m_chart->legend()->setVisible(m_model.legendVisible());
    placeAxisTitles();
    viewport()->update();
    if (m_pointerInside) showReadout(m_pointer);
}

void ChartView::syncSeries() {
    const std::size_t count = m_model.seriesCount();
    std::vector<SeriesHandle> wanted(count);
    for (std::size_t i = 0; i < count; ++i)
        wanted[i] = m_model.seriesByIndex(i);

    for (std::size_t i = m_handles.size(); i-- > 0;) {
        if (m_model.seriesIndex(m_handles[i]) >= 0) continue;
        m_chart->removeSeries(m_lines[i]);
        delete m_lines[i];
        m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(i));
        m_handles.erase(m_handles.begin() + static_cast<std::ptrdiff_t>(i));
    }
    // Removal and appending keep the surviving lines in model order; anything
    // else is rebuilt rather than reordered inside Qt Charts.
    if (!std::equal(m_handles.begin(), m_handles.end(), wanted.begin())) {
        m_chart->removeAllSeries(); // deletes the lines
        m_lines.clear();
        m_handles.clear();
    }
    for (std::size_t i = m_handles.size(); i < count; ++i) {
        auto* line = new QLineSeries();
        m_chart->addSeries(line);
        line->attachAxis(m_bottomAxis);
        line->attachAxis(m_leftAxis);
        m_lines.push_back(line);
        m_handles.push_back(wanted[i]);
        for (QLegendMarker* marker : m_chart->legend()->markers(line))
            connect(marker, &QLegendMarker::clicked, this, [this, handle = wanted[i]] { selectSeries(handle); });
    }
    for (std::size_t i = 0; i < count; ++i)
        syncLine(m_lines[i], m_handles[i]);
}

void ChartView::syncLine(QLineSeries* line, SeriesHandle handle) {
    const QString title = QString::fromStdString(m_model.seriesTitle(handle));
    if (line->name() != title) line->setName(title);
    const QColor colour = toQColor(m_model.seriesColour(handle));
    // A spectrum has fine structure; the default 2 px smears it. The curve
    // picked in the legend stands out.
    const double width = handle == m_selected ? kSelectedPenWidth : 1.0;
    if (line->pen().color() != colour || line->pen().widthF() != width) {
        QPen pen(colour);
        pen.setWidthF(width);
        line->setPen(pen);
    }
    for (QLegendMarker* marker : m_chart->legend()->markers(line)) {
        QFont font = chartFont(handle == m_selected);
        if (marker->font() != font) marker->setFont(font);
    }

    // Markers sit unchanged while the measured spectrum is redrawn: leave
    // their lines alone instead of laying them out again.
    const auto& points = m_model.seriesPoints(handle);
    const QList<QPointF> shown = line->points();
    bool same = shown.size() == static_cast<qsizetype>(points.size());
    for (qsizetype i = 0; same && i < shown.size(); ++i) {
        same = shown[i].x() == points[static_cast<std::size_t>(i)].x &&
               shown[i].y() == points[static_cast<std::size_t>(i)].y;
    }
    if (same) return;
    QList<QPointF> replacement;
    replacement.reserve(static_cast<qsizetype>(points.size()));
    for (const auto& p : points)
        replacement.append(QPointF(p.x, p.y));
    line->replace(replacement);
}

void ChartView::syncAxis(ChartAxis which, QValueAxis* axis) {
    double minimum = m_model.currentAxisMinimum(which);
    double maximum = m_model.currentAxisMaximum(which);
    if (m_zoomed) {
        const int at = which == ChartAxis::Bottom ? 0 : 2;
        minimum = m_zoom[at];
        maximum = m_zoom[at + 1];
    }
    if (!std::isfinite(minimum) || !std::isfinite(maximum)) return; // keep the last good range
    if (minimum > maximum) std::swap(minimum, maximum);
    if (minimum == maximum) {
        // Qt Charts cannot map an empty range; show a sliver around the value.
        const double pad = minimum == 0.0 ? 1.0 : std::abs(minimum) * 0.01;
        minimum -= pad;
        maximum += pad;
    }
    // Qt lays out the ticks of the old step over the new range at once, so a
    // step of 0.5 left from an empty chart would make 131070 labels on
    // 0..65535: a step that grows is set before the range, one that shrinks
    // after it.
    const QRectF plot = m_chart->plotArea();
    const double step = tickStep(which, minimum, maximum, which == ChartAxis::Bottom ? plot.width() : plot.height());
    if (step > axis->tickInterval()) applyTicks(axis, step, minimum, maximum);
    axis->setRange(minimum, maximum);
    applyTicks(axis, step, minimum, maximum);
    const QString caption = QString::fromStdString(m_model.axisTitleCaption(which));
    axis->setTitleVisible(!caption.isEmpty());
}

void ChartView::placeTicks() {
    const QRectF plot = m_chart->plotArea();
    placeTicks(ChartAxis::Bottom, m_bottomAxis, plot.width());
    placeTicks(ChartAxis::Left, m_leftAxis, plot.height());
}

void ChartView::placeTicks(ChartAxis which, QValueAxis* axis, double length) {
    applyTicks(axis, tickStep(which, axis->min(), axis->max(), length), axis->min(), axis->max());
}

// A step asked for is kept; otherwise round steps about 90 pixels apart.
double ChartView::tickStep(ChartAxis which, double minimum, double maximum, double length) const {
    const double asked = m_model.axisDesiredIncrement(which);
    if (asked > 0.0 && (maximum - minimum) / asked <= kMostDynamicTicks) return asked;
    // Before the first layout the plot has no size; a guess of 500 px keeps
    // the labels sensible until it has.
    return ChooseAxisTicks(minimum, maximum, length > 1.0 ? length : 500.0).step;
}

// Labels read like "#.#": at most one decimal and none on whole numbers. Qt
// applies one printf format to every label of an axis, so the choice is made
// per axis from the ticks it will show: "%.0f" when they are all whole,
// "%.1f" otherwise. Unlike "%g" this never switches to exponents on
// intensities and never shows more than one decimal.
void ChartView::applyTicks(QValueAxis* axis, double step, double minimum, double maximum) {
    if (!(step > 0.0)) return;
    std::vector<double> ticks;
    for (double k = std::ceil(minimum / step); k * step <= maximum && ticks.size() <= kMostDynamicTicks; k += 1.0)
        ticks.push_back(k * step);
    if (axis->tickType() != QValueAxis::TicksDynamic) axis->setTickType(QValueAxis::TicksDynamic);
    if (axis->tickInterval() != step) axis->setTickInterval(step);
    const QString format = allWhole(ticks) ? QStringLiteral("%.0f") : QStringLiteral("%.1f");
    if (axis->labelFormat() != format) axis->setLabelFormat(format);
}

void ChartView::placeAxisTitles() {
    const QRectF plot = m_chart->plotArea();
    placeAxisTitle(ChartAxis::Bottom, m_bottomAxis, plot.width());
    placeAxisTitle(ChartAxis::Left, m_leftAxis, plot.height());
}

// Qt Charts centres axis titles and has no alignment setting. Start and End
// are reached by padding the caption with no-break spaces up to the axis
// length, on the side away from where the text should sit; the left title is
// turned to read upwards, so for both axes Start means the padding goes after.
void ChartView::placeAxisTitle(ChartAxis which, QValueAxis* axis, double length) {
    const QString caption = QString::fromStdString(m_model.axisTitleCaption(which)).toHtmlEscaped();
    QString text = caption;
    const TitlePosition position = m_model.axisTitlePosition(which);
    if (position != TitlePosition::Centre && !caption.isEmpty() && length > 0.0) {
        // Measured the way the title item lays it out (rich text with document
        // margins), and kept short of the full length: Qt Charts takes the
        // label overhang off the room it grants a title and elides what does
        // not fit.
        QTextDocument document;
        document.setDefaultFont(axis->titleFont());
        document.setHtml(caption);
        const double captionWidth = document.size().width();
        document.setHtml(QString(10, QChar(0x00A0)) + caption);
        const double space = (document.size().width() - captionWidth) / 10.0;
        const double free = length - captionWidth - kTitleSlack;
        const int pad = space > 0.0 ? std::max(0, static_cast<int>(free / space)) : 0;
        const QString padding(pad, QChar(0x00A0));
        text = position == TitlePosition::Start ? caption + padding : padding + caption;
    }
    if (axis->titleText() != text) axis->setTitleText(text);
}

std::vector<double> ChartView::axisSettings() const {
    std::vector<double> settings;
    for (ChartAxis which : {ChartAxis::Bottom, ChartAxis::Left}) {
        settings.push_back(m_model.axisAutomaticMinimum(which));
        settings.push_back(m_model.axisAutomaticMaximum(which));
        if (!m_model.axisAutomaticMinimum(which)) settings.push_back(m_model.currentAxisMinimum(which));
        if (!m_model.axisAutomaticMaximum(which)) settings.push_back(m_model.currentAxisMaximum(which));
    }
    return settings;
}

void ChartView::zoomTo(double xMinimum, double xMaximum, double yMinimum, double yMaximum) {
    if (!(xMaximum > xMinimum) || !(yMaximum > yMinimum)) return;
    if (!m_zoomed) m_zoomSettings = axisSettings();
    m_zoomed = true;
    m_zoom[0] = xMinimum;
    m_zoom[1] = xMaximum;
    m_zoom[2] = yMinimum;
    m_zoom[3] = yMaximum;
    syncNow();
}

void ChartView::resetZoom() {
    m_zoomed = false;
    syncNow();
}

bool ChartView::valuesAt(QPoint at, double& x, double& y) const {
    const QRectF plot = m_chart->plotArea();
    const QPointF p = m_chart->mapFromScene(mapToScene(at));
    if (!plot.contains(p) || plot.width() <= 0.0 || plot.height() <= 0.0) return false;
    x = m_bottomAxis->min() + (p.x() - plot.left()) / plot.width() * (m_bottomAxis->max() - m_bottomAxis->min());
    y = m_leftAxis->max() - (p.y() - plot.top()) / plot.height() * (m_leftAxis->max() - m_leftAxis->min());
    return true;
}

QPointF ChartView::toView(double x, double y) const {
    const QRectF plot = m_chart->plotArea();
    const double xSpan = m_bottomAxis->max() - m_bottomAxis->min();
    const double ySpan = m_leftAxis->max() - m_leftAxis->min();
    return m_chart->mapToScene(QPointF(plot.left() + (x - m_bottomAxis->min()) / xSpan * plot.width(),
                                       plot.bottom() - (y - m_leftAxis->min()) / ySpan * plot.height()));
}

void ChartView::showReadout(QPoint at) {
    double x = 0.0, y = 0.0;
    if (!valuesAt(at, x, y)) {
        emit readoutChanged(QString());
        return;
    }
    // As many decimals as the visible range makes meaningful.
    const int yDecimals = m_leftAxis->max() - m_leftAxis->min() >= 100.0 ? 0 : 2;
    emit readoutChanged(QString("X: %1  Y: %2").arg(x, 0, 'f', 1).arg(y, 0, 'f', yDecimals));
}

void ChartView::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    // The menu waits for the release: on X11 a menu opened on the press
    // takes the release, and a right drag would never pan.
    if (event->button() == Qt::RightButton) {
        m_menuPending = true;
        m_menuFrom = at;
    }
    double x = 0.0, y = 0.0;
    if (m_drag != Drag::None) { // a second button during a drag
        event->accept();
        return;
    }
    if (!valuesAt(at, x, y)) {
        if (event->button() == Qt::RightButton)
            event->accept();
        else
            QChartView::mousePressEvent(event);
        return;
    }
    m_dragFrom = at;
    if (event->button() == Qt::LeftButton) {
        m_drag = Drag::Zoom;
        m_band->setGeometry(QRect(m_dragFrom, QSize()));
        m_band->show();
    } else if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
        m_drag = Drag::Pan;
        setCursor(Qt::ClosedHandCursor);
    }
    m_dragButton = m_drag == Drag::None ? Qt::NoButton : event->button();
    event->accept();
}

void ChartView::endDrag() {
    m_drag = Drag::None;
    m_dragButton = Qt::NoButton;
    m_band->hide();
    unsetCursor();
}

void ChartView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    m_pointerInside = true;
    m_pointer = at;
    showReadout(at);
    if (m_menuPending && (!(event->buttons() & Qt::RightButton) ||
                          (at - m_menuFrom).manhattanLength() >= kSmallestZoomDrag))
        m_menuPending = false;
    // A release that went elsewhere (a window opened over the chart, the
    // pointer let go outside) must not leave the chart following the pointer.
    if (m_drag != Drag::None && !(event->buttons() & m_dragButton)) endDrag();
    if (m_drag == Drag::Zoom) {
        m_band->setGeometry(QRect(m_dragFrom, at).normalized());
    } else if (m_drag == Drag::Pan && !m_menuPending) {
        const QRectF plot = m_chart->plotArea();
        if (plot.width() > 0.0 && plot.height() > 0.0) {
            const double dx = (at.x() - m_dragFrom.x()) / plot.width() * (m_bottomAxis->max() - m_bottomAxis->min());
            const double dy = (at.y() - m_dragFrom.y()) / plot.height() * (m_leftAxis->max() - m_leftAxis->min());
            m_dragFrom = at;
            zoomTo(m_bottomAxis->min() - dx, m_bottomAxis->max() - dx, m_leftAxis->min() + dy, m_leftAxis->max() + dy);
        }
    }
    event->accept();
}

void ChartView::mouseReleaseEvent(QMouseEvent* event) {
    const Drag drag = m_drag;
    const bool menu = m_menuPending && event->button() == Qt::RightButton;
    if (event->button() == Qt::RightButton) m_menuPending = false;
    if (drag != Drag::None && event->button() != m_dragButton) {
        event->accept();
        return;
    }
    endDrag();
    if (menu) {
        event->accept();
        showMenu(event->globalPosition().toPoint());
        return;
    }
    if (drag != Drag::Zoom) {
        if (drag == Drag::None) QChartView::mouseReleaseEvent(event);
        return;
    }
    const QRect rect = QRect(m_dragFrom, event->position().toPoint()).normalized();
    if (rect.width() < kSmallestZoomDrag || rect.height() < kSmallestZoomDrag) return;
    // The rectangle's corners, held inside the plot.
    const QRectF plot = m_chart->plotArea();
    auto clampTo = [&](QPoint p) {
        QPointF scene = m_chart->mapToScene(
            QPointF(std::clamp<double>(m_chart->mapFromScene(mapToScene(p)).x(), plot.left(), plot.right() - 0.5),
                    std::clamp<double>(m_chart->mapFromScene(mapToScene(p)).y(), plot.top(), plot.bottom() - 0.5)));
        return mapFromScene(scene);
    };
    double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;
    if (!valuesAt(clampTo(rect.topLeft()), x0, y1) || !valuesAt(clampTo(rect.bottomRight()), x1, y0)) return;
    zoomTo(x0, x1, y0, y1);
    event->accept();
}

void ChartView::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    // The mouse's menu comes with the release (mouseReleaseEvent); this one
    // is the keyboard's.
    if (event->reason() != QContextMenuEvent::Mouse) showMenu(event->globalPos());
}

void ChartView::showMenu(QPoint globalAt) {
    if (actions().isEmpty()) return;
    auto* menu = new QMenu(this);
    menu->setObjectName("ChartMenu");
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addActions(actions());
    menu->popup(globalAt);
}

void ChartView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        endDrag();
        resetZoom();
        event->accept();
        return;
    }
    QChartView::mouseDoubleClickEvent(event);
}

void ChartView::wheelEvent(QWheelEvent* event) {
    double x = 0.0, y = 0.0;
    const int turn = event->angleDelta().y();
    if (turn == 0 || !valuesAt(event->position().toPoint(), x, y)) {
        QChartView::wheelEvent(event);
        return;
    }
    // The point under the pointer stays where it is.
    const double factor = std::pow(kWheelZoomPerNotch, turn / 120.0);
    zoomTo(x - (x - m_bottomAxis->min()) * factor, x + (m_bottomAxis->max() - x) * factor,
           y - (y - m_leftAxis->min()) * factor, y + (m_leftAxis->max() - y) * factor);
    event->accept();
}

void ChartView::leaveEvent(QEvent* event) {
    m_pointerInside = false;
    emit readoutChanged(QString());
    QChartView::leaveEvent(event);
}

void ChartView::setPeakLabels(bool on) {
    m_peakLabels = on;
    if (!on) m_labelledPeaks.clear();
    viewport()->update();
}

void ChartView::selectSeries(SeriesHandle series) {
    m_selected = series == m_selected ? kNoSeries : series;
    syncNow();
}

void ChartView::drawForeground(QPainter* painter, const QRectF& rect) {
    QChartView::drawForeground(painter, rect);
    if (m_bottomAxis->max() <= m_bottomAxis->min() || m_leftAxis->max() <= m_leftAxis->min()) return;
    painter->save();
    painter->setClipRect(m_chart->mapRectToScene(m_chart->plotArea()));
    drawSelected(painter);
    drawMarks(painter);
    drawPeakLabels(painter);
    painter->restore();
}

// A marked point gets a red ring on its curve, where the converter clipped it.
void ChartView::drawMarks(QPainter* painter) {
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(QPen(QColor(220, 0, 0), 1.5));
    painter->setBrush(Qt::NoBrush);
    for (std::size_t index = 0; index < m_model.seriesCount(); ++index) {
        const SeriesHandle series = m_model.seriesByIndex(index);
        const auto& points = m_model.seriesPoints(series);
        for (double x : m_model.seriesMarks(series)) {
            auto at = std::lower_bound(points.begin(), points.end(), x,
                                       [](const ChartPoint& p, double value) { return p.x < value; });
            if (at == points.end() || at->x != x || !std::isfinite(at->y)) continue;
            painter->drawEllipse(toView(at->x, at->y), 3.0, 3.0);
        }
    }
}

// Qt Charts draws series in the order they were added and has no way to
// raise one; the picked curve is drawn again over all of them.
void ChartView::drawSelected(QPainter* painter) {
    if (m_selected == kNoSeries || m_model.seriesIndex(m_selected) < 0) return;
    const auto& points = m_model.seriesPoints(m_selected);
    QPolygonF line;
    line.reserve(static_cast<qsizetype>(points.size()));
    for (const ChartPoint& p : points)
        if (std::isfinite(p.x) && std::isfinite(p.y)) line.append(toView(p.x, p.y));
    QPen pen(toQColor(m_model.seriesColour(m_selected)));
    pen.setWidthF(kSelectedPenWidth);
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(pen);
    painter->drawPolyline(line);
}

void ChartView::drawPeakLabels(QPainter* painter) {
    m_labelledPeaks.clear();
    const SeriesHandle series = m_model.seriesByIndex(0);
    if (!m_peakLabels || series == kNoSeries) return;
    // Only what is on screen: a zoomed view labels the peaks it shows.
    std::vector<double> ys;
    std::vector<const ChartPoint*> shown;
    for (const ChartPoint& p : m_model.seriesPoints(series)) {
        if (!(p.x >= m_bottomAxis->min() && p.x <= m_bottomAxis->max()) || !std::isfinite(p.y)) continue;
        ys.push_back(p.y);
        shown.push_back(&p);
    }
    const double smallest = (m_leftAxis->max() - m_leftAxis->min()) * kSmallestPeakShare;
    const std::vector<std::size_t> peaks = ProminentPeaks(ys, kMostPeakLabels, smallest);
    painter->setFont(chartFont());
    painter->setPen(QColor(0x20, 0x20, 0x20));
    const QFontMetrics metrics(chartFont());
    std::vector<QRectF> taken;
    for (std::size_t index : peaks) {
        const ChartPoint& p = *shown[index];
        // A top cut off by a fixed intensity range is not drawn, nor is its label.
        if (p.y < m_leftAxis->min() || p.y > m_leftAxis->max()) continue;
        const QString text = QString::number(std::llround(p.x));
        const QPointF at = toView(p.x, p.y);
        QRectF box(0, 0, metrics.horizontalAdvance(text) + 2, metrics.height());
        box.moveCenter(QPointF(at.x(), at.y() - 6 - box.height() / 2));
        // A label that would cover another is left out rather than drawn over it.
        if (std::any_of(taken.begin(), taken.end(), [&](const QRectF& r) { return r.intersects(box); })) continue;
        taken.push_back(box);
        painter->drawLine(QPointF(at.x(), at.y() - 1), QPointF(at.x(), at.y() - 5));
        painter->drawText(box, Qt::AlignCenter, text);
        m_labelledPeaks.push_back(p.x);
    }
}

} // namespace veltrane
