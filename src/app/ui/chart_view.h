#pragma once

#include <QChartView>
#include <QTimer>
#include <vector>

#include "app/chart_model.h"

class QLineSeries;
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

private:
    void onModelChanged(bool immediate);
    void syncSeries();
    void syncLine(QLineSeries* line, SeriesHandle handle);
    void syncAxis(ChartAxis which, QValueAxis* axis);
    void placeAxisTitles();
    void placeAxisTitle(ChartAxis which, QValueAxis* axis, double length);

    ChartModel& m_model;
    QChart* m_chart = nullptr; // owned through QChartView::setChart
    QValueAxis* m_bottomAxis = nullptr;
    QValueAxis* m_leftAxis = nullptr;
    std::vector<SeriesHandle> m_handles; // model handle of each line, same order
    std::vector<QLineSeries*> m_lines;
    QTimer m_syncTimer;
};

} // namespace veltrane
