#include <gtest/gtest.h>

#include "app/chart_setup.h"
#include "app/program_state.h"
#include "library/catalogue.h"
#include "library/library_drawing.h"
#include "library/library_file_bytes.h"
#include "support/temp_dir.h"

namespace veltrane {
namespace {

using test::HeaderBytes;

// A folder listed into rows (names in row order) and a chart as the start-up
// leaves it.
class LibraryDrawing : public ::testing::Test {
protected:
    test::TempDir dir;
    ProgramState state;
    ChartModel chart;
    std::vector<std::string> rows;

    void SetUp() override {
        state.library.lib.libraryFolder = dir.path();
        SetUpLibraryChart(chart);
    }
    void add(const std::string& name, const std::string& bytes) {
        if (!bytes.empty()) test::WriteBytes(dir.path() + name + ".rlb", bytes);
        rows.push_back(name);
    }
    std::string draw(std::initializer_list<int> ticked) {
        state.library.lib.libraryCount = static_cast<std::uint16_t>(rows.size());
        ClearTicks(state.library);
        for (int r : ticked)
            state.library.rowTicks[static_cast<std::size_t>(r)] = 1;
        return DrawMessage(DrawTickedLibraries(chart, state.library, [this](int r) {
            return ListedRow{rows.at(r - 1), rows.at(r - 1) + ".rlb"};
        }));
    }
    std::vector<std::string> titles() const {
        std::vector<std::string> out;
        for (std::size_t i = 0; i < chart.seriesCount(); ++i)
            out.push_back(chart.seriesTitle(chart.seriesByIndex(i)));
        return out;
    }
    const std::vector<ChartPoint>& points(std::size_t i) const { return chart.seriesPoints(chart.seriesByIndex(i)); }
};

TEST_F(LibraryDrawing, SixCurvesStrictlyInsideTheWindowAndRefusalsKeepThem) {
    for (int i = 0; i < 7; ++i) {
        std::string name = "lib" + std::to_string(i);
        add(name, test::PcLibraryBytes(HeaderBytes(name, 179), 1000.0f * i));
    }
    EXPECT_EQ(draw({2, 3, 4, 5, 6, 7}), "");
    EXPECT_EQ(titles(), (std::vector<std::string>{"lib1", "lib2", "lib3", "lib4", "lib5", "lib6"}));
    EXPECT_TRUE(chart.legendVisible());
    // X = 300 + 2i: 402 (i = 51) to 3998 (i = 1849); 400 and 4000 are out.
    ASSERT_EQ(points(5).size(), 1799u);
    EXPECT_EQ(points(5).front().x, 402.0);
    EXPECT_EQ(points(5).front().y, 51.0 + 6000.0);
    EXPECT_EQ(points(5).back().x, 3998.0);
    EXPECT_TRUE(chart.axisAutomaticMinimum(ChartAxis::Bottom) && chart.axisAutomaticMaximum(ChartAxis::Left));
    EXPECT_EQ(chart.axisDesiredIncrement(ChartAxis::Left), 0.0);
    EXPECT_GE(chart.currentAxisMaximum(ChartAxis::Left), 1849.0 + 6000.0);

    const std::vector<std::string> kept = titles();
    EXPECT_EQ(draw({1, 2, 3, 4, 5, 6, 7}), "Max 6 Lines!");
    EXPECT_EQ(draw({}), "Not Select!");
    state.library.transferState = 1;
    EXPECT_EQ(draw({1}), "Measure Processing!");
    EXPECT_EQ(titles(), kept);
    state.library.transferState = 0;
    EXPECT_EQ(draw({4}), "");
    EXPECT_EQ(titles(), std::vector<std::string>{"lib3"});
    // "All" ticks entries past the listing too; only listed rows count.
    state.library.rowTicks.assign(2000, 1);
    state.library.lib.libraryCount = 3;
    EXPECT_EQ(CollectTickedRows(state.library), (std::vector<int>{1, 2, 3}));
}

TEST_F(LibraryDrawing, WindowsByModelCodeAndUnreadableRowsLeftOut) {
    // Device record: tenths 4005 -> 400 (out), 4015 -> 401, 9 -> 0, 39995 ->
    // 3999, 40000 -> 4000 (out); the other points hold X 0.
    add("dev", test::DeviceRecordBytes(HeaderBytes("dev", 179), {10, 20, 30, 40, 50}, {4005, 4015, 9, 39995, 40000}));
    state.library.lib.libraryView = LibraryView::Device;
    draw({1});
    ASSERT_EQ(points(0).size(), 2u);
    EXPECT_TRUE(points(0)[0].x == 401.0 && points(0)[0].y == 20.0 && points(0)[1].x == 3999.0);

    state.library.lib.libraryView = LibraryView::Pc;
    add("b", test::PcLibraryBytes(HeaderBytes("b", 180)));
    draw({2});
    ASSERT_EQ(points(0).size(), 1299u); // 402 .. 2998
    EXPECT_EQ(points(0).back().x, 2998.0);
    // A 256-pixel instrument's shifts run from -6254 to 12358 cm-1 around a
    // 405 nm laser; the chart keeps to what its spectrum page shows.
    std::vector<float> shift(256);
    for (std::size_t i = 0; i < shift.size(); ++i)
        shift[i] = -6254.0f + 72.0f * static_cast<float>(i);
    add("small", test::PcLibraryBytes(HeaderBytes("small", 1), 0, shift));
    draw({3});
    ASSERT_EQ(points(0).size(), 50u); // 442 .. 3970
    EXPECT_EQ(points(0).front().x, 442.0);
    EXPECT_EQ(points(0).back().x, 3970.0);
    // A code this program does not know: its whole X range but the padding.
    add("other", test::PcLibraryBytes(HeaderBytes("other", 7), 0, shift));
    draw({4});
    EXPECT_EQ(points(0).size(), 169u); // 10 .. 12106
    EXPECT_EQ(points(0).back().x, 12106.0);

    add("deleted", "");
    add("../b", "");                                                          // a crafted header name
    add("short", test::DeviceRecordBytes(HeaderBytes("short", 179), {}, {})); // a record in the PC view
    EXPECT_EQ(draw({2, 5, 6, 7}), "Can not read library!\n\ndeleted\n../b\nshort");
    EXPECT_EQ(titles(), std::vector<std::string>{"b"});
}

TEST_F(LibraryDrawing, EachRowDrawsTheFileItWasListedFrom) {
    test::WriteBytes(dir.path() + "alpha.rlb", test::PcLibraryBytes(HeaderBytes("alpha", 179), 1.0f));
    test::WriteBytes(dir.path() + "copy_of_alpha.rlb", test::PcLibraryBytes(HeaderBytes("alpha", 179), 500.0f));
    test::WriteBytes(dir.path() + "Upper.RLB", test::PcLibraryBytes(HeaderBytes("caf\xE9", 179), 900.0f));
    rows = {"alpha", "alpha", "caf\xE9"};
    const std::vector<std::string> files = {"alpha.rlb", "copy_of_alpha.rlb", "Upper.RLB"};
    state.library.lib.libraryCount = 3;
    ClearTicks(state.library);
    state.library.rowTicks[2] = state.library.rowTicks[3] = 1;
    DrawResult result = DrawTickedLibraries(chart, state.library, [&](int r) {
        return ListedRow{rows.at(r - 1), files.at(r - 1)};
    });
    ASSERT_EQ(result.curves.size(), 2u);
    EXPECT_EQ(points(0).front().y, 51.0 + 500.0); // the copy's data, not alpha's
    EXPECT_EQ(points(1).front().y, 51.0 + 900.0);
    EXPECT_EQ(titles(), (std::vector<std::string>{"alpha", "caf\xC3\xA9"})); // shown as Windows-1252
}

} // namespace
} // namespace veltrane
