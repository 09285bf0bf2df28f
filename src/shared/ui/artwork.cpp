#include "shared/ui/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace veltrane {

namespace {

const QColor kKorvelBlue(0x1F, 0x4E, 0x8C);
const QColor kBrenmorTeal(0x0E, 0x7C, 0x7B);
const QColor kInk(0x33, 0x3A, 0x44);

// A small Raman-like trace: a few Lorentzian bands over a gentle slope. Both
// brands use it as their emblem.
QPainterPath SpectrumTrace(const QRectF& box, int bands) {
    QPainterPath path;
    const double centres[] = {0.18, 0.37, 0.52, 0.71, 0.86};
    const double heights[] = {0.45, 0.95, 0.35, 0.6, 0.3};
    for (int i = 0; i <= 200; ++i) {
        double t = i / 200.0;
        double y = 0.08 * (1.0 - t);
        for (int b = 0; b < bands && b < 5; ++b) {
            double d = (t - centres[b]) / 0.018;
            y += heights[b] / (1.0 + d * d);
        }
        QPointF p(box.left() + t * box.width(), box.bottom() - std::min(y, 1.0) * box.height());
        if (i == 0) path.moveTo(p);
        else path.lineTo(p);
    }
    return path;
}

QPixmap Transparent(int w, int h) {
    QPixmap pixmap(w, h);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

} // namespace

QPixmap StatusIconPixmap(StatusIcon icon) {
    QPixmap pixmap = Transparent(20, 20);
    if (icon == StatusIcon::Blank) return pixmap;
    QColor base = icon == StatusIcon::Green ? QColor(0x2E, 0xB8, 0x4B)
                  : icon == StatusIcon::Grey ? QColor(0x9A, 0x9A, 0x9A)
                                             : QColor(0xD9, 0x30, 0x25);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient shade(QPointF(7, 7), 12);
    shade.setColorAt(0, base.lighter(150));
    shade.setColorAt(1, base.darker(115));
    p.setBrush(shade);
    p.setPen(QPen(base.darker(160), 1));
    p.drawEllipse(QRectF(2.5, 2.5, 15, 15));
    return pixmap;
}

QPixmap ToolbarLogo(BrandVariant brand) {
    QPixmap pixmap = Transparent(250, 60);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QColor colour = brand == BrandVariant::Korvel ? kKorvelBlue : kBrenmorTeal;
    p.setPen(QPen(colour, 2.2));
    p.drawPath(SpectrumTrace(QRectF(4, 8, 56, 44), 5));
    QFont font("Verdana", 18, QFont::Bold);
    font.setLetterSpacing(QFont::PercentageSpacing, 104);
    p.setFont(font);
    p.setPen(colour);
    p.drawText(QRectF(66, 4, 184, 40), Qt::AlignLeft | Qt::AlignVCenter,
               brand == BrandVariant::Korvel ? "KORVEL" : "BRENMOR");
    QFont small("Verdana", 7);
    p.setFont(small);
    p.setPen(kInk);
    p.drawText(QRectF(68, 40, 150, 16), Qt::AlignLeft | Qt::AlignVCenter,
               brand == BrandVariant::Korvel ? "RAMAN INSTRUMENTS" : "ANALYTICAL SYSTEMS");
    return pixmap;
}

QPixmap AboutBanner(BrandVariant brand) {
    QPixmap pixmap(400, 111);
    QColor colour = brand == BrandVariant::Korvel ? kKorvelBlue : kBrenmorTeal;
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, 400, 111);
    background.setColorAt(0, colour.darker(140));
    background.setColorAt(1, colour.lighter(130));
    p.fillRect(pixmap.rect(), background);
    p.setPen(QPen(QColor(255, 255, 255, 110), 1.6));
    p.drawPath(SpectrumTrace(QRectF(170, 20, 220, 80), 5));
    p.setPen(Qt::white);
    p.setFont(QFont("Verdana", 24, QFont::Bold));
    p.drawText(QRectF(16, 14, 300, 50), Qt::AlignLeft | Qt::AlignVCenter,
               brand == BrandVariant::Korvel ? "KORVEL" : "BRENMOR");
    p.setFont(QFont("Verdana", 10));
    p.drawText(QRectF(18, 62, 300, 30), Qt::AlignLeft | Qt::AlignVCenter, "Veltrane Raman Software");
    return pixmap;
}

QPixmap BrenmorSmallLogo() {
    QPixmap pixmap = Transparent(60, 60);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(kBrenmorTeal);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(2, 2, 56, 56), 10, 10);
    p.setPen(QPen(Qt::white, 2));
    p.drawPath(SpectrumTrace(QRectF(8, 12, 44, 36), 4));
    return pixmap;
}

QIcon ToolIcon(ToolGlyph glyph) {
    QPixmap pixmap = Transparent(32, 32);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(kInk, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    switch (glyph) {
    case ToolGlyph::SpectrumMode:
        p.setPen(QPen(kKorvelBlue, 2.2));
        p.drawPath(SpectrumTrace(QRectF(3, 5, 26, 22), 5));
        break;
    case ToolGlyph::LinkerMode:
        for (int i = 0; i < 4; ++i) p.drawLine(6, 7 + 6 * i, 26, 7 + 6 * i);
        p.setBrush(kBrenmorTeal);
        p.drawEllipse(QPointF(6, 7), 2, 2);
        break;
    case ToolGlyph::Capture:
        p.setBrush(QColor(0xD9, 0x30, 0x25));
        p.drawEllipse(QPointF(16, 16), 9, 9);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(16, 16), 3.5, 3.5);
        break;
    case ToolGlyph::Setup:
        for (int i = 0; i < 8; ++i) {
            double a = i * M_PI / 4;
            p.drawLine(QPointF(16 + 8 * std::cos(a), 16 + 8 * std::sin(a)),
                       QPointF(16 + 12 * std::cos(a), 16 + 12 * std::sin(a)));
        }
        p.drawEllipse(QPointF(16, 16), 7, 7);
        break;
    case ToolGlyph::OpenRaw:
        p.drawRect(QRectF(5, 10, 22, 15));
        p.drawLine(5, 10, 10, 6);
        p.drawLine(10, 6, 16, 6);
        break;
    case ToolGlyph::SaveRaw:
        p.drawRect(QRectF(6, 5, 20, 22));
        p.drawRect(QRectF(10, 5, 12, 7));
        break;
    case ToolGlyph::MakeLibrary:
        p.drawRect(QRectF(7, 5, 18, 22));
        p.drawLine(11, 11, 21, 11);
        p.drawLine(11, 16, 21, 16);
        p.drawLine(11, 21, 18, 21);
        break;
    case ToolGlyph::ImportPc:
    case ToolGlyph::ImportDevice:
        p.drawRect(QRectF(5, 18, 22, 9));
        p.drawLine(16, 4, 16, 16);
        p.drawLine(11, 11, 16, 16);
        p.drawLine(21, 11, 16, 16);
        if (glyph == ToolGlyph::ImportDevice) p.drawPoint(QPointF(9, 22.5));
        break;
    case ToolGlyph::Export:
        p.drawRect(QRectF(5, 18, 22, 9));
        p.drawLine(16, 16, 16, 4);
        p.drawLine(11, 9, 16, 4);
        p.drawLine(21, 9, 16, 4);
        break;
    case ToolGlyph::Draw:
        p.setPen(QPen(kKorvelBlue, 2));
        p.drawPath(SpectrumTrace(QRectF(3, 6, 26, 20), 3));
        p.setPen(QPen(kBrenmorTeal, 2));
        p.drawPath(SpectrumTrace(QRectF(3, 10, 26, 18), 4));
        break;
    case ToolGlyph::Help:
        p.drawEllipse(QPointF(16, 16), 12, 12);
        p.setFont(QFont("Verdana", 14, QFont::Bold));
        p.drawText(QRectF(4, 4, 24, 24), Qt::AlignCenter, "?");
        break;
    }
    return QIcon(pixmap);
}

QString BrandCopyright(BrandVariant brand) {
    return brand == BrandVariant::Korvel ? "Copyright (C) 2026 Korvel Instruments. All rights reserved."
                                         : "Brenmor Analytical Systems, in partnership with Korvel Instruments.";
}

QString BrandWebAddress(BrandVariant brand) {
    return brand == BrandVariant::Korvel ? "www.korvel-instruments.example" : "www.brenmor-analytical.example";
}

} // namespace veltrane
