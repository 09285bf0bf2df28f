#include "app/ui/chart_view.h"

#include <QChart>
#include <QFont>
#include <QGraphicsLayout>
#include <QLegend>
#include <QLineSeries>
#include <QLinearGradient>
#include <QPointer>
#include <QTextDocument>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

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

// Fixed tick counts tried when the chart chooses: the first whose step is a
// round number wins, so 400..4000 gets ticks every 400.
constexpr int kFewestTicks = 5;
constexpr int kMostTicks = 11;
constexpr int kDefaultTicks = 6;

QFont chartFont(bool bold = false) {
    QFont font(QStringLiteral("Verdana"), kFontPointSize);
    font.setStyleHint(QFont::SansSerif); // whatever sans the system has when Verdana is missing
    font.setBold(bold);
    return font;
}

bool isRoundStep(double step) {
    if (!(step > 0.0) || !std::isfinite(step)) return false;
    const double magnitude = std::pow(10.0, std::floor(std::log10(step)));
    const double mantissa = step / magnitude;
    for (double round : {1.0, 2.0, 2.5, 4.0, 5.0, 10.0}) {
        if (std::abs(mantissa - round) < 1e-9 * round) return true;
    }
    return false;
}

int chooseTickCount(double minimum, double maximum) {
    for (int count = kMostTicks; count >= kFewestTicks; --count) {
        if (isRoundStep((maximum - minimum) / (count - 1))) return count;
    }
    return kDefaultTicks;
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
    connect(m_chart, &QChart::plotAreaChanged, this, &ChartView::placeAxisTitles);

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
    // Axes before points, so the new points are laid out once, in the new
    // ranges.
    syncAxis(ChartAxis::Bottom, m_bottomAxis);
    syncAxis(ChartAxis::Left, m_leftAxis);
    syncSeries();
    m_chart->legend()->setVisible(m_model.legendVisible());
    placeAxisTitles();
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
    }
    for (std::size_t i = 0; i < count; ++i)
        syncLine(m_lines[i], m_handles[i]);
}

void ChartView::syncLine(QLineSeries* line, SeriesHandle handle) {
    const QString title = QString::fromStdString(m_model.seriesTitle(handle));
    if (line->name() != title) line->setName(title);
    const QColor colour = toQColor(m_model.seriesColour(handle));
    if (line->pen().color() != colour || line->pen().widthF() != 1.0) {
        QPen pen(colour);
        pen.setWidthF(1.0); // a spectrum has fine structure; the default 2 px smears it
        line->setPen(pen);
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
    if (!std::isfinite(minimum) || !std::isfinite(maximum)) return; // keep the last good range
    if (minimum > maximum) std::swap(minimum, maximum);
    if (minimum == maximum) {
        // Qt Charts cannot map an empty range; show a sliver around the value.
        const double pad = minimum == 0.0 ? 1.0 : std::abs(minimum) * 0.01;
        minimum -= pad;
        maximum += pad;
    }
    axis->setRange(minimum, maximum);

    std::vector<double> ticks;
    const double step = m_model.axisDesiredIncrement(which);
    if (step > 0.0 && (maximum - minimum) / step <= kMostDynamicTicks) {
        axis->setTickType(QValueAxis::TicksDynamic);
        axis->setTickInterval(step);
        for (double k = std::ceil(minimum / step); k * step <= maximum; k += 1.0)
            ticks.push_back(k * step);
    } else {
        const int count = chooseTickCount(minimum, maximum);
        axis->setTickType(QValueAxis::TicksFixed);
        axis->setTickCount(count);
        for (int i = 0; i < count; ++i)
            ticks.push_back(minimum + (maximum - minimum) * i / (count - 1));
    }
    // Labels read like "#.#": at most one decimal and none on whole numbers.
    // Qt applies one printf format to every label of an axis, so the choice
    // is made per axis from the ticks it will show: "%.0f" when they are all
    // whole, "%.1f" otherwise. Unlike "%g" this never switches to exponents
    // on intensities and never shows more than one decimal.
    axis->setLabelFormat(allWhole(ticks) ? QStringLiteral("%.0f") : QStringLiteral("%.1f"));

    const QString caption = QString::fromStdString(m_model.axisTitleCaption(which));
    axis->setTitleVisible(!caption.isEmpty());
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

} // namespace veltrane
