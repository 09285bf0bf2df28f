#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "app/program_state.h"
#include "library/catalogue.h"
#include "library/library_file_bytes.h"
#include "support/temp_dir.h"

namespace veltrane {
namespace {

using test::HeaderBytes;
using test::WriteBytes;

void Click(ProgramState& state, RowBoxStates& boxes, int row, int topRow = 1) {
    SelectLibraryRow(state.library, row);
    ClickLibraryRow(state.library, boxes, topRow);
}

TEST(CatalogueListing, RowsInNameOrderWithNameModelDateOrTheFileNameWhenUnreadable) {
    test::TempDir dir;
    WriteBytes(dir.path() + "gamma.rlb", HeaderBytes("named otherwise", 7)); // only the header is read
    WriteBytes(dir.path() + "beta.RLB", test::DeviceRecordBytes(HeaderBytes("beta", 180), {}, {}));
    WriteBytes(dir.path() + "short.rlb", HeaderBytes("short", 179).substr(0, 119));
    WriteBytes(dir.path() + "Alpha.rlb", test::PcLibraryBytes(HeaderBytes("alpha", 179)));
    WriteBytes(dir.path() + "00010 x.rlb", HeaderBytes("ten", 179));
    WriteBytes(dir.path() + "00002 x.rlb", HeaderBytes("two", 179));
    WriteBytes(dir.path() + "notes.txt", HeaderBytes("notes", 179));
    std::vector<std::string> shown;
    for (const CatalogueRow& row : ListLibraryFolder(dir.path(), BrandVariant::Brenmor))
        shown.push_back(row.fileName + "|" + row.name + "|" + row.model + "|" + row.date);
    EXPECT_EQ(shown,
              (std::vector<std::string>{"00002 x.rlb|two|TL100|2017/3/3 9:5:7", "00010 x.rlb|ten|TL100|2017/3/3 9:5:7",
                                        "Alpha.rlb|alpha|TL100|2017/3/3 9:5:7", "beta.RLB|beta|TL200|2017/3/3 9:5:7",
                                        "gamma.rlb|named otherwise||2017/3/3 9:5:7", "short.rlb|short||"}));
    for (const CatalogueRow& row : ListLibraryFolder(dir.path(), BrandVariant::Korvel))
        EXPECT_EQ(row.model, row.name == "beta" ? "QX810B" : row.name == "short" || row.name[0] == 'n' ? "" : "QX810A");
}

TEST(CatalogueTicks, ClicksKeysScrollingAllAndANewListing) {
    ProgramState state;
    ApplyStartupValues(state);
    state.library.lib.libraryCount = 40;
    ClearTicks(state.library);
    RowBoxStates boxes;
    Click(state, boxes, 2);
    EXPECT_TRUE(boxes.checked[2]);
    Click(state, boxes, 2);
    EXPECT_FALSE(boxes.checked[2]);
    // Down arrow: key down, the grid's move with its own click, key up; the
    // user's first click then only ends the keyboard's turn.
    IgnoreNextClick(state.library);
    Click(state, boxes, 6);
    IgnoreNextClick(state.library);
    Click(state, boxes, 6);
    EXPECT_TRUE(TickedRows(state.library).empty());
    Click(state, boxes, 6);
    Click(state, boxes, 0); // the title row
    EXPECT_EQ(TickedRows(state.library), std::vector<int>{6});

    SyncRowBoxes(boxes, state.library, 6); // scrolled by five rows
    EXPECT_TRUE(boxes.checked[1]);
    EXPECT_FALSE(boxes.checked[6]);
    SyncRowBoxes(boxes, state.library, 36);
    EXPECT_TRUE(boxes.shown[5]);
    EXPECT_FALSE(boxes.shown[6]); // row 41

    boxes.checked[0] = true;
    TickAllRows(state.library, boxes, true);
    EXPECT_EQ(TickedRows(state.library).size(), 40u);
    EXPECT_TRUE(boxes.checked[7]);
    EXPECT_FALSE(boxes.checked[8]); // past fitRows

    // Three rows in a 201-pixel grid: ticks and row boxes cleared, boxes 1
    // to 3 shown, "All" as it was.
    state.library.fitRows = LayoutRowBoxes(300, 201, 3).fitRows;
    ASSERT_EQ(state.library.fitRows, 7);
    state.library.lib.libraryCount = 3;
    ClearTicks(state.library);
    ResetRowBoxes(boxes, 3, state.library.fitRows);
    EXPECT_TRUE(TickedRows(state.library).empty());
    EXPECT_TRUE(boxes.checked[0]);
    for (int k = 1; k < kRowBoxCount; ++k)
        EXPECT_TRUE(boxes.shown[k] == (k <= 3) && !boxes.checked[k]) << k;
    ResetRowBoxes(boxes, 10, LayoutRowBoxes(0, 40, 10).fitRows); // one box fits, three stay in use
    EXPECT_TRUE(boxes.shown[3] && !boxes.shown[4]);
}

TEST(CatalogueTicks, TwoAndAHalfThousandFilesAreListedAndTickable) {
    test::TempDir dir;
    for (int i = 0; i < 2500; ++i)
        WriteBytes(dir.path() + std::to_string(i) + ".rlb", HeaderBytes("n", 179));
    ProgramState state;
    state.library.lib.libraryCount =
        static_cast<std::uint16_t>(ListLibraryFolder(dir.path(), BrandVariant::Brenmor).size());
    ASSERT_EQ(state.library.lib.libraryCount, 2500);
    ClearTicks(state.library);
    RowBoxStates boxes;
    Click(state, boxes, 2000, 1998);
    Click(state, boxes, 2500, 2498);
    EXPECT_TRUE(boxes.checked[3]);
    EXPECT_EQ(TickedRows(state.library), (std::vector<int>{2000, 2500}));
    EXPECT_EQ(TickedRows(state.library, 1), std::vector<int>{2000});
}

TEST(CatalogueFolder, TypeAheadFindsTheShownNameAndDeviceFolderEmptying) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.path() + "device");
    for (const char* name : {"alpha.rlb", "device/a.rlb", "device/B.RLB", "device/keep.txt"})
        WriteBytes(dir.path() + name, "");
    std::vector<std::string> shown = {"alpha", "X-RAY", "beta", "Beta 2"};
    EXPECT_EQ(TypeAheadRow(dir.path(), "B", shown), 3); // letters in any case, the first such row
    EXPECT_EQ(TypeAheadRow(dir.path(), "z", shown), std::nullopt);
    EXPECT_EQ(TypeAheadRow(dir.path(), "x", shown), 2);    // whatever the row's file is called
    EXPECT_EQ(TypeAheadRow("", "a", shown), std::nullopt); // nothing listed yet

    EXPECT_EQ(EmptyDeviceFolder(dir.path()), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "device/B.RLB"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "device/keep.txt"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "alpha.rlb"));
}

} // namespace
} // namespace veltrane
