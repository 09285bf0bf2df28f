#pragma once

#include <QRectF>
#include <string>

#include "identify/report.h"

class QPainter;

namespace veltrane {

// The page in points (1/72 inch) for the chosen paper.
QSizeF ReportPageSize(ReportPaper paper);

// Draws the report onto a painter whose unit is one point and whose page is
// `page` (in points): text as text, the chart as vector paths, so a PDF of
// it is searchable and prints sharp at any size.
void PaintReport(QPainter& painter, const QSizeF& page, const IdentificationReport& report);

// The page as the bytes of a one-page PDF file; empty when it could not be
// drawn.
std::string ReportPdf(const IdentificationReport& report, ReportPaper paper);

} // namespace veltrane
