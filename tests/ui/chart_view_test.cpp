#include <gtest/gtest.h>

#include <QApplication>
#include <QChart>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QLegend>
#include <QLineSeries>
#include <QValueAxis>

#include "shared/ui/chart_view.h"

namespace veltrane {
namespace {

QLineSeries* lineAt(ChartView& view, qsizetype i) {
    return qobject_cast<QLineSeries*>(view.chart()->series().value(i));
}

// Everything the Qt chart shows must match the model, series by series.
void expectMirrors(ChartView& view, const ChartModel& model) {
    ASSERT_EQ(static_cast<std::size_t>(view.chart()->series().size()), model.seriesCount());
    for (std::size_t i = 0; i < model.seriesCount(); ++i) {
        const SeriesHandle handle = model.seriesByIndex(i);
        QLineSeries* line = lineAt(view, qsizetype(i));
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->color().rgb() & 0xFFFFFF, model.seriesColour(handle)) << "series " << i;
        EXPECT_EQ(line->name().toStdString(), model.seriesTitle(handle));
        QList<QPointF> want;
        for (const auto& p : model.seriesPoints(handle))
            want.append(QPointF(p.x, p.y));
        EXPECT_EQ(line->points(), want) << "series " << i;
    }
    EXPECT_EQ(view.bottomAxis()->min(), model.currentAxisMinimum(ChartAxis::Bottom));
    EXPECT_EQ(view.bottomAxis()->max(), model.currentAxisMaximum(ChartAxis::Bottom));
    EXPECT_EQ(view.leftAxis()->min(), model.currentAxisMinimum(ChartAxis::Left));
    EXPECT_EQ(view.leftAxis()->max(), model.currentAxisMaximum(ChartAxis::Left));
    EXPECT_EQ(view.chart()->legend()->isVisible(), model.legendVisible());
}

QStringList textsOnScene(ChartView& view) {
    QStringList texts;
    for (QGraphicsItem* item : view.scene()->items()) {
        if (auto* text = dynamic_cast<QGraphicsTextItem*>(item); text && text->isVisible())
            texts.append(text->toPlainText());
    }
    return texts;
}

TEST(ChartView, FollowsTheModelAfterTheEventLoopTurnsOrAtOnceOnRedraw) {
    ChartModel model;
    ChartView view(model);
    const SeriesHandle a = model.createLineSeries();
    const SeriesHandle b = model.createLineSeries();
    model.createLineSeries();
    model.setSeriesTitle(b, "Marker 1");
    model.addPoints(a, {{400, 10}, {800, 90}, {1200, 30}});
    model.addPoints(b, {{200, -4}, {900, 12}});
    model.setLegendVisible(true);
    QApplication::processEvents();
    expectMirrors(view, model);

    // Removing the first closes the gap; no event loop this time.
    model.removeSeries(a);
    model.setLegendVisible(false);
    model.setAxisAutomaticMinimum(ChartAxis::Left, false);
    model.setAxisMinimum(ChartAxis::Left, -50);
    model.redrawNow();
    expectMirrors(view, model);

    // A flat range is widened for Qt Charts, never in the model.
    model.removeAllSeries();
    model.addPoints(model.createLineSeries(), {{500, 3}, {500, 3}});
    model.redrawNow();
    EXPECT_EQ(model.currentAxisMaximum(ChartAxis::Bottom), 500.0);
    EXPECT_TRUE(view.bottomAxis()->min() < 500.0 && view.bottomAxis()->max() > 500.0);
}

TEST(ChartView, ManyChangesInOneTurnReplaceThePointsOnce) {
    ChartModel model;
    ChartView view(model);
    const SeriesHandle s = model.createLineSeries();
    QApplication::processEvents();
    int replaced = 0;
    QObject::connect(lineAt(view, 0), &QXYSeries::pointsReplaced, [&replaced] { ++replaced; });
    for (int i = 0; i < 500; ++i)
        model.addPoint(s, i, i % 7);
    QApplication::processEvents();
    EXPECT_EQ(replaced, 1);
    model.setLegendVisible(true); // points unchanged: not pushed again
    QApplication::processEvents();
    EXPECT_EQ(replaced, 1);
}

TEST(ChartView, TicksLabelsAndTitlesFollowTheAxes) {
    ChartModel model;
    ChartView view(model);
    view.resize(800, 500);
    view.show();
    for (ChartAxis axis : {ChartAxis::Bottom, ChartAxis::Left}) {
        model.setAxisAutomaticMinimum(axis, false);
        model.setAxisAutomaticMaximum(axis, false);
    }
    model.setAxisMinimum(ChartAxis::Bottom, 400);
    model.setAxisMaximum(ChartAxis::Bottom, 4000);
    model.setAxisMaximum(ChartAxis::Left, 2);
    model.setAxisMinimum(ChartAxis::Left, 0);
    model.setAxisDesiredIncrement(ChartAxis::Left, 0.5);
    model.setAxisTitleCaption(ChartAxis::Bottom, "Raman shift");
    model.setAxisTitleCaption(ChartAxis::Left, "Intensity");
    model.setAxisTitlePosition(ChartAxis::Bottom, TitlePosition::Start);
    model.setAxisTitlePosition(ChartAxis::Left, TitlePosition::End);
    model.redrawNow();
    QApplication::processEvents();

    // The chart's own choice on the bottom: round steps some 90 px apart.
    EXPECT_EQ(view.bottomAxis()->tickType(), QValueAxis::TicksDynamic);
    EXPECT_EQ(view.bottomAxis()->tickInterval(), 500.0);
    EXPECT_EQ(view.leftAxis()->tickType(), QValueAxis::TicksDynamic);
    EXPECT_EQ(view.leftAxis()->tickInterval(), 0.5);
    const QStringList texts = textsOnScene(view);
    const std::string shown = texts.join('|').toStdString();
    EXPECT_TRUE(texts.contains("500") && texts.contains("4000") && texts.contains("1.5")) << shown;
    EXPECT_FALSE(texts.contains("500.0")) << shown;
    // Start/End titles are padded to one side, but never so far that Qt elides them.
    EXPECT_TRUE(view.bottomAxis()->titleText().startsWith("Raman shift\u00A0\u00A0"));
    EXPECT_TRUE(view.leftAxis()->titleText().endsWith("\u00A0\u00A0Intensity"));
    EXPECT_EQ(texts.filter("Raman shift").size(), 1) << shown;
    EXPECT_TRUE(texts.filter("...").isEmpty()) << shown;

    model.setAxisDesiredIncrement(ChartAxis::Left, 0);
    model.setAxisTitlePosition(ChartAxis::Bottom, TitlePosition::Centre);
    model.setAxisTitleCaption(ChartAxis::Left, "");
    model.setAxisMaximum(ChartAxis::Left, 65535);
    model.redrawNow();
    EXPECT_EQ(view.leftAxis()->tickInterval(), 20000.0); // chosen again: some 400 px for 0..65535
    EXPECT_EQ(view.bottomAxis()->titleText(), "Raman shift");
    EXPECT_FALSE(view.leftAxis()->isTitleVisible());
}

TEST(ChartView, ModelOutlivingTheViewIsSafe) {
    ChartModel model;
    {
        ChartView view(model);
        model.createLineSeries();
    }
    model.createLineSeries(); // would reach the dead view if it were still listening
    model.redrawNow();
    QApplication::processEvents();
    EXPECT_EQ(model.seriesCount(), 2u);
}

} // namespace
} // namespace veltrane
