#include "identify/ui/report_page.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

#include "shared/axis_ticks.h"

namespace veltrane {

namespace {

constexpr double kMargin = 42.0;

QString Q(const std::string& text) { return QString::fromStdString(text); }

QFont Font(double pixels, bool bold = false) {
    QFont font("DejaVu Sans");
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(static_cast<int>(std::lround(pixels)));
    font.setBold(bold);
    // No ligatures: "fi" drawn as one glyph reads back from the PDF as "ﬁ",
    // and a search for "identification" would miss it. Qt shapes without
    // them whenever the letters are spaced (by a twentieth of a point here:
    // nothing the eye sees).
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.05);
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

QColor VerdictColour(const std::string& word) {
    if (word == "Match") return QColor(0x00, 0x80, 0x00);
    if (word == "Possible match") return QColor(0xB0, 0x70, 0x00);
    return QColor(0xB0, 0x00, 0x00);
}

// Lines of `text` broken to `width`, at most `maxLines`; the last line is
// cut with "…" when more text follows. Line breaks in the text are kept.
QStringList Wrapped(const QString& text, const QFont& font, double width, int maxLines) {
    QStringList lines;
    QFontMetricsF metrics(font);
    const QStringList paragraphs = text.split('\n');
    bool more = false;
    for (int p = 0; p < paragraphs.size() && !more; ++p) {
        QTextLayout layout(paragraphs[p], font);
        layout.beginLayout();
        for (;;) {
            QTextLine line = layout.createLine();
            if (!line.isValid()) break;
            line.setLineWidth(width);
            if (lines.size() == maxLines) {
                more = true;
                break;
            }
            lines << paragraphs[p].mid(line.textStart(), line.textLength()).trimmed();
        }
        layout.endLayout();
        if (lines.size() == maxLines && p + 1 < paragraphs.size()) more = true;
    }
    if (more || text.endsWith(QChar(0x2026))) {
        QString last = lines.isEmpty() ? QString() : lines.takeLast();
        if (last.endsWith(QChar(0x2026))) last.chop(1);
        last = metrics.elidedText(last + QString(8, 'x'), Qt::ElideRight, width);
        if (!last.endsWith(QChar(0x2026))) last += QChar(0x2026);
        lines << last;
    }
    return lines;
}

class Page {
public:
    Page(QPainter& painter, const QSizeF& size) : m_p(painter), m_width(size.width() - 2 * kMargin), m_y(kMargin) {}

    double y() const { return m_y; }
    double width() const { return m_width; }
    void skip(double points) { m_y += points; }

    void line(const QString& text, const QFont& font, const QColor& colour = Qt::black) {
        QFontMetricsF m(font);
        m_p.setFont(font);
        m_p.setPen(colour);
        m_p.drawText(QPointF(kMargin, m_y + m.ascent()), m.elidedText(text, Qt::ElideRight, m_width));
        m_y += m.lineSpacing();
    }

    // "Label: value" rows with the values aligned; a value may wrap.
    void fields(const std::vector<std::pair<QString, QString>>& rows, const QFont& font, int maxLines = 1) {
        QFontMetricsF m(font);
        QFont bold = font;
        bold.setBold(true);
        QFontMetricsF mb(bold);
        // One column for the values down the page; a longer label pushes
        // only its own value.
        double labelWidth = 124.0;
        for (const auto& row : rows)
            labelWidth = std::max(labelWidth, mb.horizontalAdvance(row.first + ":") + 8.0);
        for (const auto& [label, value] : rows) {
            m_p.setFont(bold);
            m_p.setPen(Qt::black);
            m_p.drawText(QPointF(kMargin, m_y + m.ascent()), label + ":");
            m_p.setFont(font);
            const QStringList lines = Wrapped(value, font, m_width - labelWidth, maxLines);
            for (const QString& l : lines.isEmpty() ? QStringList{QString()} : lines) {
                m_p.drawText(QPointF(kMargin + labelWidth, m_y + m.ascent()), l);
                m_y += m.lineSpacing();
            }
        }
    }

    void chart(const IdentificationReport& r, double height) {
        const QFont font = Font(8);
        QFontMetricsF m(font);
        const QRectF plot(kMargin + 34.0, m_y + m.lineSpacing() + 4.0, m_width - 40.0,
                          height - 2.0 * m.lineSpacing() - 24.0);
        double lo = 1e300, hi = -1e300;
        for (const auto* curve : {&r.sampleCurve, &r.hitCurve})
            for (const ChartPoint& pt : *curve) {
                lo = std::min(lo, pt.x);
                hi = std::max(hi, pt.x);
            }
        if (!(hi > lo)) {
            lo = 100.0;
            hi = 3200.0;
        }
        const double top = 1.05;
        auto at = [&](double x, double y) {
            return QPointF(plot.left() + (x - lo) / (hi - lo) * plot.width(),
                           plot.bottom() - std::clamp(y, 0.0, top) / top * plot.height());
        };
        m_p.setFont(font);
        m_p.setPen(QPen(QColor(0xC8, 0xC8, 0xC8), 0.4));
        const AxisTicks xt = ChooseAxisTicks(lo, hi, plot.width() * 1.6);
        for (int i = 0; i < xt.count; ++i) {
            const double x = xt.first + i * xt.step;
            m_p.setPen(QPen(QColor(0xD8, 0xD8, 0xD8), 0.4));
            m_p.drawLine(at(x, 0.0), at(x, top));
            m_p.setPen(Qt::black);
            const QString label = QString::number(x, 'g', 6);
            m_p.drawText(QPointF(at(x, 0.0).x() - m.horizontalAdvance(label) / 2, plot.bottom() + m.ascent() + 3),
                         label);
        }
        for (int i = 0; i <= 5; ++i) {
            const double y = i * 0.2;
            m_p.setPen(QPen(QColor(0xD8, 0xD8, 0xD8), 0.4));
            m_p.drawLine(at(lo, y), at(hi, y));
            m_p.setPen(Qt::black);
            const QString label = QString::number(y, 'f', 1);
            m_p.drawText(QPointF(plot.left() - m.horizontalAdvance(label) - 4, at(lo, y).y() + m.ascent() / 2 - 1),
                         label);
        }
        m_p.setPen(QPen(Qt::black, 0.6));
        m_p.drawRect(plot);
        const QString xTitle = QString::fromUtf8("Raman shift (cm\u207B\u00B9)");
        m_p.drawText(QPointF(plot.center().x() - m.horizontalAdvance(xTitle) / 2,
                             plot.bottom() + m.lineSpacing() + m.ascent() + 4),
                     xTitle);
        m_p.save();
        m_p.translate(kMargin + m.ascent(), plot.center().y());
        m_p.rotate(-90);
        const QString yTitle = "Intensity (highest band 1)";
        m_p.drawText(QPointF(-m.horizontalAdvance(yTitle) / 2, 0), yTitle);
        m_p.restore();

        const std::pair<const std::vector<ChartPoint>*, QColor> curves[] = {
            {&r.sampleCurve, QColor(0x1F, 0x4E, 0xC8)}, {&r.hitCurve, QColor(0xD0, 0x30, 0x20)}};
        m_p.save();
        m_p.setClipRect(plot);
        // The hit first, so the sample it is judged against stays visible
        // where the two agree.
        for (const auto& [curve, colour] : {curves[1], curves[0]}) {
            if (curve->empty()) continue;
            QPainterPath path(at(curve->front().x, curve->front().y));
            for (const ChartPoint& pt : *curve)
                path.lineTo(at(pt.x, pt.y));
            m_p.setPen(QPen(colour, 0.7));
            m_p.setBrush(Qt::NoBrush);
            m_p.drawPath(path);
        }
        m_p.restore();
        // The legend above the plot, right-aligned.
        const QString names[] = {"Sample, baseline removed", Q(r.hitTitle.empty() ? "Best hit" : r.hitTitle)};
        double x = plot.right();
        for (int i = 1; i >= 0; --i) {
            const QString name = m.elidedText(names[i], Qt::ElideRight, plot.width() / 2 - 30);
            x -= m.horizontalAdvance(name);
            m_p.setPen(Qt::black);
            m_p.drawText(QPointF(x, m_y + m.ascent()), name);
            x -= 18.0;
            m_p.setPen(QPen(curves[i].second, 1.5));
            m_p.drawLine(QPointF(x, m_y + m.ascent() / 2 + 1), QPointF(x + 14.0, m_y + m.ascent() / 2 + 1));
            x -= 12.0;
        }
        m_y += height;
    }

    void table(const std::vector<ReportHit>& hits) {
        const QFont font = Font(8);
        QFont bold = font;
        bold.setBold(true);
        QFontMetricsF m(font);
        // Rank, HQI, Name, Model, Date, Library: shares of the width.
        const double shares[] = {0.06, 0.09, 0.33, 0.10, 0.17, 0.25};
        const QString header[] = {"Rank", "HQI", "Name", "Model", "Date", "Library"};
        auto row = [&](const QString* cells, const QFont& f) {
            double x = kMargin;
            m_p.setFont(f);
            for (int c = 0; c < 6; ++c) {
                const double w = shares[c] * m_width;
                m_p.drawText(QPointF(x, m_y + m.ascent()), QFontMetricsF(f).elidedText(cells[c], Qt::ElideMiddle, w - 4));
                x += w;
            }
            m_y += m.lineSpacing() + 1.0;
        };
        m_p.setPen(Qt::black);
        row(header, bold);
        m_p.setPen(QPen(Qt::black, 0.5));
        m_p.drawLine(QPointF(kMargin, m_y - 0.5), QPointF(kMargin + m_width, m_y - 0.5));
        m_y += 1.5;
        for (const ReportHit& h : hits) {
            const QString cells[] = {Q(h.rank), Q(h.hqi), Q(h.name), Q(h.model), Q(h.date), Q(h.library)};
            row(cells, font);
        }
        if (hits.empty()) line("No hits.", font);
    }

private:
    QPainter& m_p;
    double m_width;
    double m_y;
};

} // namespace

QSizeF ReportPageSize(ReportPaper paper) {
    return QPageSize(paper == ReportPaper::Letter ? QPageSize::Letter : QPageSize::A4).size(QPageSize::Point);
}

void PaintReport(QPainter& painter, const QSizeF& size, const IdentificationReport& r) {
    painter.setRenderHint(QPainter::Antialiasing);
    Page page(painter, size);
    page.line(Q(r.title), Font(18, true));
    page.skip(6);
    const QFont body = Font(9.5);
    page.fields({{"Sample", Q(r.sample.sampleName.empty() ? "not given" : r.sample.sampleName)},
                 {"Operator", Q(r.sample.operatorName.empty() ? "not given" : r.sample.operatorName)}},
                body);
    if (!r.sample.notes.empty()) page.fields({{"Notes", Q(r.sample.notes)}}, body, 4);
    page.skip(4);
    std::vector<std::pair<QString, QString>> facts;
    for (const auto& [label, value] : r.facts)
        facts.emplace_back(Q(label), Q(value));
    page.fields(facts, body, 2);
    page.skip(8);

    page.line(Q("Result: " + r.verdictWord), Font(13, true), VerdictColour(r.verdictWord));
    page.line(Q(r.verdictText), body);
    if (!r.verdictScore.empty()) page.line(Q(r.verdictScore), body);
    if (!r.saturation.empty()) page.line(Q(r.saturation), Font(9.5, true), QColor(0xC0, 0x00, 0x00));
    page.skip(6);

    // What is left for the chart once the table, the libraries and the
    // footer have their room.
    const double lineStep = QFontMetricsF(Font(8)).lineSpacing() + 1.0;
    const std::size_t libraryLines = std::min<std::size_t>(r.libraries.size(), 4) + 1;
    const double below = (kReportHits + 2) * lineStep + 12 + (libraryLines + 1) * lineStep + 3 * lineStep;
    const double chartHeight = std::clamp(size.height() - kMargin - page.y() - below, 140.0, 300.0);
    page.chart(r, chartHeight);
    page.skip(4);
    page.table(r.hits);
    page.skip(8);

    QString libraries;
    for (std::size_t i = 0; i < std::min<std::size_t>(r.libraries.size(), 4); ++i)
        libraries += (i ? "; " : "") + Q(r.libraries[i]);
    if (r.libraries.size() > 4) libraries += QString("; and %1 more").arg(r.libraries.size() - 4);
    page.fields({{"Libraries searched", libraries.isEmpty() ? "none" : libraries}}, Font(8), 4);

    const QFont small = Font(7.5);
    painter.setFont(small);
    painter.setPen(QColor(0x50, 0x50, 0x50));
    painter.drawText(QPointF(kMargin, size.height() - kMargin + QFontMetricsF(small).ascent()), Q(r.footer));
}

std::string ReportPdf(const IdentificationReport& report, ReportPaper paper) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(72);
        writer.setPageSize(QPageSize(paper == ReportPaper::Letter ? QPageSize::Letter : QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setTitle(QString::fromStdString(report.title));
        writer.setCreator("Veltrane");
        QPainter painter;
        if (!painter.begin(&writer)) return {};
        PaintReport(painter, ReportPageSize(paper), report);
        painter.end();
    }
    return buffer.data().toStdString();
}

} // namespace veltrane
