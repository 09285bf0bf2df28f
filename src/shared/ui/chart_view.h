#pragma once

#include <QChartView>
#include <QTimer>
#include <vector>

#include "shared/chart_model.h"

class QLineSeries;
class QRubberBand;
class QValueAxis;

namespace veltrane {

// Draws a ChartModel with Qt Charts. The model is the only state: the view
// mirrors it, coalescing change notices into one sync per event-loop turn and
// syncing at once when the model asks for an immediate redraw. The model must
// outlive any pending sync; destroying the view first is always safe.
class ChartView : public QChartView {
    Q_OBJECT

public:
    ChartView(ChartModel& model, QWidget* parent = nullptr);
    ~ChartView() override;

    // Brings the Qt chart in line with the model now, automatic bounds
    // recomputed first.
    void syncNow();

    QValueAxis* bottomAxis() const { return m_bottomAxis; }
    QValueAxis* leftAxis() const { return m_leftAxis; }

    // Looking closer, as in any plotting program: drag a rectangle to zoom,
    // turn the wheel to zoom about the pointer, drag with the right or middle
    // button to pan, double-click to go back. The zoom belongs to the view:
    // the model's axis settings stay as they are, and a change to them (an
    // Apply, a new device) ends the zoom. A right click that does not move
    // opens the view's actions as a menu when the button is released.
    bool zoomed() const { return m_zoomed; }
    void zoomTo(double xMinimum, double xMaximum, double yMinimum, double yMaximum);
    void resetZoom();

    // Labels the strongest peaks of the chart's first series with their X,
    // those whose top is drawn.
    void setPeakLabels(bool on);
    bool peakLabels() const { return m_peakLabels; }
    // The peaks labelled at the last paint, as X values.
    const std::vector<double>& labelledPeaks() const { return m_labelledPeaks; }

    // A curve picked in the legend is drawn thicker and on top of the others;
    // picking it again, or picking none, draws all alike.
    void selectSeries(SeriesHandle series);
    SeriesHandle selectedSeries() const { return m_selected; }

    // The chart's values at a point of the view; false outside the plot.
    bool valuesAt(QPoint at, double& x, double& y) const;

signals:
    // "X: 1001.2  Y: 5234" while the pointer is over the plot, empty otherwise.
    void readoutChanged(const QString& text);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void drawForeground(QPainter* painter, const QRectF& rect) override;

private:
    void onModelChanged(bool immediate);
    void syncSeries();
    void syncLine(QLineSeries* line, SeriesHandle handle);
    void syncAxis(ChartAxis which, QValueAxis* axis);
    void placeAxisTitles();
    void placeAxisTitle(ChartAxis which, QValueAxis* axis, double length);
    void placeTicks();
    void placeTicks(ChartAxis which, QValueAxis* axis, double length);
    double tickStep(ChartAxis which, double minimum, double maximum, double length) const;
    void applyTicks(QValueAxis* axis, double step, double minimum, double maximum);
    std::vector<double> axisSettings() const;
    QPointF toView(double x, double y) const;
    void drawSelected(QPainter* painter);
    void drawPeakLabels(QPainter* painter);
    void drawMarks(QPainter* painter);
    void showReadout(QPoint at);
    void endDrag();
    void showMenu(QPoint globalAt);

    ChartModel& m_model;
    QChart* m_chart = nullptr; // owned through QChartView::setChart
    QValueAxis* m_bottomAxis = nullptr;
    QValueAxis* m_leftAxis = nullptr;
    std::vector<SeriesHandle> m_handles; // model handle of each line, same order
    std::vector<QLineSeries*> m_lines;
    QTimer m_syncTimer;

    bool m_zoomed = false;
    double m_zoom[4] = {0.0, 0.0, 0.0, 0.0}; // x min, x max, y min, y max
    std::vector<double> m_zoomSettings;      // the model's axis settings the zoom was made under
    enum class Drag : std::uint8_t { None, Zoom, Pan } m_drag = Drag::None;
    Qt::MouseButton m_dragButton = Qt::NoButton;
    QPoint m_dragFrom;
    // A right press that has not moved yet: released, it opens the menu.
    bool m_menuPending = false;
    QPoint m_menuFrom;
    // Where the pointer was last seen over the view, so the readout follows
    // a range that changes under a pointer standing still.
    bool m_pointerInside = false;
    QPoint m_pointer;
    QRubberBand* m_band = nullptr;
    bool m_peakLabels = false;
    std::vector<double> m_labelledPeaks;
    SeriesHandle m_selected = kNoSeries;
};

} // namespace veltrane
