#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include "measure/ui/coordinate_window.h"
#include "ui/app_fixture.h"

namespace veltrane {
namespace {

using test::AppFixture;

class CoordinateWindow : public AppFixture {
protected:
    TForm_coordinate& window() { return app->coordinateWindow(); }
    ChartModel& chart() { return main().spectrumChart(); }
    template <typename T = QWidget> T* control(const char* name) {
        T* w = window().findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString text(const char* name) { return control<QLineEdit>(name)->text(); }
    void setText(const char* name, const char* value) { control<QLineEdit>(name)->setText(value); }
    bool enabled(const char* name) { return control(name)->isEnabled(); }
    void curve(std::vector<ChartPoint> points) {
        chart().clearSeries(main().measuredSeries());
        chart().addPoints(main().measuredSeries(), points);
        chart().redrawNow();
    }
};

TEST_F(CoordinateWindow, CoorButtonShowsTheBoundsInForceAndDisablesTheMainWindow) {
    start();
    // As created: fixed Raman shift, automatic intensity with its boxes off.
    EXPECT_EQ(text("Edit_X_end"), "4000");
    EXPECT_FALSE(control<QCheckBox>("CheckBox_x_auto")->isChecked());
    EXPECT_TRUE(control<QCheckBox>("CheckBox_y_auto")->isChecked());
    EXPECT_FALSE(enabled("Edit_Y_start") || enabled("Edit_Y_end"));
    chart().setAxisMinimum(ChartAxis::Bottom, 200.5);
    chart().setAxisMaximum(ChartAxis::Bottom, 3000.9);
    chart().setAxisAutomaticMinimum(ChartAxis::Left, true);
    chart().setAxisAutomaticMaximum(ChartAxis::Left, true);
    curve({{300, -3.6}, {900, 812.7}});
    find<QToolButton>("SpeedButton_coordinate_set")->click();
    EXPECT_TRUE(window().isVisible());
    EXPECT_FALSE(main().isEnabled());
    EXPECT_EQ(text("Edit_X_start"), "200");
    EXPECT_EQ(text("Edit_X_end"), "3000");
    EXPECT_EQ(text("Edit_Y_start"), "-3");
    EXPECT_EQ(text("Edit_Y_end"), "853"); // 812.7 and 5 % headroom

    window().close(); // the close box
    EXPECT_TRUE(main().isEnabled());
    window().open();
    window().Button_coordinate_cancelClick();
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(main().isEnabled());
}

TEST_F(CoordinateWindow, ReversedRangeIsToldPlainlyAndTheWindowStillCloses) {
    start();
    window().open();
    setText("Edit_X_start", "3000");
    setText("Edit_X_end", "400");
    window().Button_coordinate_setClick();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "X_max<X_min");
    EXPECT_EQ(dialogs.messages[0].caption, "Veltrane");
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::None);
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(main().isEnabled());
    EXPECT_TRUE(chart().axisAutomaticMaximum(ChartAxis::Left)); // Y applied all the same
}

TEST_F(CoordinateWindow, BoxThatIsNoNumberKeepsTheWindowOpen) {
    start();
    window().open();
    // Unticking from the program fills the boxes just as a click does.
    control<QCheckBox>("CheckBox_y_auto")->setChecked(false);
    EXPECT_TRUE(enabled("Edit_Y_start") && enabled("Edit_Y_end"));
    EXPECT_EQ(text("Edit_Y_end"), "65535");
    setText("Edit_Y_end", "12a");
    control<QPushButton>("Button_coordinate_set")->click();
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"'12a' is not a valid floating point value"});
    EXPECT_EQ(dialogs.messages[0].caption, "Information");
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Error);
    EXPECT_TRUE(window().isVisible());
    EXPECT_FALSE(main().isEnabled());
    EXPECT_EQ(chart().currentAxisMaximum(ChartAxis::Left), 65535);
}

TEST_F(CoordinateWindow, AutoHorizontalFitsOnceAndLeavesTheTickAsItWas) {
    start();
    curve({{150.4, 10}, {2900.8, 20}});
    window().Button_coordinate_setClick(); // X fixed to 400..4000 from the boxes
    EXPECT_EQ(chart().currentAxisMaximum(ChartAxis::Bottom), 4000);

    find<QToolButton>("SpeedButton_horizontal")->click();
    EXPECT_FALSE(control<QCheckBox>("CheckBox_x_auto")->isChecked());
    EXPECT_TRUE(enabled("Edit_X_start") && enabled("Edit_X_end"));
    EXPECT_EQ(text("Edit_X_start"), "150");
    EXPECT_EQ(text("Edit_X_end"), "2900");
    EXPECT_TRUE(dialogs.messages.empty());

    // The axis keeps following the data until the next Apply.
    curve({{120, 10}, {3500, 20}});
    EXPECT_EQ(chart().currentAxisMinimum(ChartAxis::Bottom), 120);
    EXPECT_EQ(chart().currentAxisMaximum(ChartAxis::Bottom), 3500);
    window().Button_coordinate_setClick();
    curve({{100, 10}, {3800, 20}});
    EXPECT_FALSE(chart().axisAutomaticMaximum(ChartAxis::Bottom));
    EXPECT_EQ(chart().currentAxisMinimum(ChartAxis::Bottom), 150);
    EXPECT_EQ(chart().currentAxisMaximum(ChartAxis::Bottom), 2900);
}

TEST_F(CoordinateWindow, AutoVerticalFitsOnceWhileTheIntensityIsFixed) {
    start();
    control<QCheckBox>("CheckBox_y_auto")->setChecked(false);
    setText("Edit_Y_start", "0");
    setText("Edit_Y_end", "1000");
    window().Button_coordinate_setClick();
    curve({{500, -20.5}, {600, 4321.9}});
    EXPECT_EQ(chart().currentAxisMaximum(ChartAxis::Left), 1000);

    find<QToolButton>("SpeedButton_vertical")->click();
    EXPECT_FALSE(control<QCheckBox>("CheckBox_y_auto")->isChecked());
    EXPECT_EQ(text("Edit_Y_start"), "-20");
    EXPECT_EQ(text("Edit_Y_end"), "4539"); // 5 % of the span above the peak
    EXPECT_DOUBLE_EQ(chart().currentAxisMaximum(ChartAxis::Left), 4321.9 + 0.05 * (4321.9 + 20.5));
    EXPECT_FALSE(chart().axisAutomaticMaximum(ChartAxis::Bottom)); // X applied from its boxes
    EXPECT_EQ(chart().currentAxisMaximum(ChartAxis::Bottom), 4000);

    // A bad X box stops it like Apply: the tick is back, nothing applied.
    setText("Edit_X_end", "4k");
    chart().setAxisAutomaticMaximum(ChartAxis::Left, false);
    window().SpeedButton_verticalClick();
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"'4k' is not a valid floating point value"});
    EXPECT_FALSE(control<QCheckBox>("CheckBox_y_auto")->isChecked());
    EXPECT_FALSE(chart().axisAutomaticMaximum(ChartAxis::Left));
}

TEST_F(CoordinateWindow, AutomaticIntensityFromTheStartFitsEachNewCurve) {
    start();
    EXPECT_FALSE(chart().axisAutomaticMaximum(ChartAxis::Left)); // the device set-up's 0..65535
    window().Button_coordinate_setClick();                       // as after every new curve
    curve({{500, 30}, {600, 5000}});
    EXPECT_EQ(chart().currentAxisMinimum(ChartAxis::Left), 30);
    EXPECT_EQ(chart().currentAxisMaximum(ChartAxis::Left), 5000 + 0.05 * 4970);
    EXPECT_EQ(chart().axisDesiredIncrement(ChartAxis::Left), 0);
}

} // namespace
} // namespace veltrane
