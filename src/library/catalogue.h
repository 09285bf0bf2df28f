#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "library/library_state.h"
#include "library/row_boxes.h"
#include "measure/spectrum_header.h"

namespace veltrane {

// The catalogue: a library folder listed into grid rows, the ticks of those
// rows and the check boxes that show them. Plain code; the grid window only
// copies the results into its widgets.

// The grid counts its rows in 16 bits; a folder with more files lists the
// first this many.
constexpr std::size_t kMaxCatalogueRows = 65535;

constexpr const char* kPcNameTitle = "Library Name (PC)";
constexpr const char* kFolderNotCreatedMessage = "Can not creat folder!";

// One data row of the grid.
struct CatalogueRow {
    std::string name;  // column 1: the name in the header
    std::string model; // column 2: empty for a code without a name
    std::string date;  // column 3: "2017/3/3 9:5:7"
    // False for a file that could not be read or is shorter than a header:
    // its row shows the file's own name and nothing else.
    bool readable = true;
    // The file the row was listed from, in its folder. Every action on the
    // row goes to this file: the header's name need not be its file name
    // ("Upper.RLB", a copy under another name, a device mirror file).
    std::string fileName;
};

CatalogueRow CatalogueRowFor(const SpectrumHeader& header, BrandVariant brand);
CatalogueRow UnreadableRow(const std::string& fileName);

// Every "*.rlb" entry of `folder` (letters of the extension in any case),
// each read for its 120-byte header only, in the order of their file names
// as Windows lists them: letters without regard to case, then byte order.
// Linux enumerates a folder in no useful order; this one is stable, and keeps
// an imported store in the order of its records.
std::vector<CatalogueRow> ListLibraryFolder(const std::string& folder, BrandVariant brand);

// Tick model. rowTicks holds one flag per grid row, index 0 for the title
// row, and is sized to the listing so any number of listed rows can be ticked.

// After a listing of library.lib.libraryCount rows: every row unticked.
void ClearTicks(LibraryState& library);
bool RowTicked(const LibraryState& library, int row);
// Ticked rows among 1..libraryCount, ascending, at most `limit` of them.
std::vector<int> TickedRows(const LibraryState& library, std::size_t limit = kMaxCatalogueRows);

// The check boxes over the grid as shown: slot 0 over the title row ("All"),
// slot k over the k-th data row visible, that is row topRow + k - 1.
struct RowBoxStates {
    std::array<bool, kRowBoxCount> shown{};
    std::array<bool, kRowBoxCount> checked{};
};

// After a listing of `count` rows with the grid at its top: slots 1 to
// min(count, fitRows) shown, all slots unchecked. Slot 0 keeps its state.
void ResetRowBoxes(RowBoxStates& boxes, int count, int fitRows);
// Boxes 1 to fitRows show the ticks of the rows visible from topRow on;
// those past the last row are hidden.
void SyncRowBoxes(RowBoxStates& boxes, const LibraryState& library, int topRow);

// The select-cell event: the row the grid has made current.
void SelectLibraryRow(LibraryState& library, int row);
// A click on the grid: toggles the current row's tick and its box, unless a
// wheel or key event asked to let this click pass (it then only clears that
// request) or the title row is current. The "All" box (slot 0) follows:
// cleared when a row is unticked, ticked when the last row is ticked.
void ClickLibraryRow(LibraryState& library, RowBoxStates& boxes, int topRow);
// Wheel and key events on the grid: the grid moves its selection itself and
// raises a click for it, which must not toggle anything.
inline void IgnoreNextClick(LibraryState& library) {
    library.ignoreNextClick = true;
}
// The "All" box: every row ticked (on) or unticked, boxes 1 to fitRows alike.
void TickAllRows(LibraryState& library, RowBoxStates& boxes, bool on);

// The type-ahead: the first of the rows 1..n whose shown name (rowNames[r -
// 1]) begins with `typed`, letters in any case. Nothing when no name begins
// with it, or no folder is listed yet. The names, not the file names, are
// what the user reads and types; the device mirror's file names are numbered.
std::optional<int> TypeAheadRow(const std::string& folder, const std::string& typed,
                                const std::vector<std::string>& rowNames);

// Deletes every library file of the device folder under `libraryRoot`;
// returns how many could not be deleted.
std::size_t EmptyDeviceFolder(const std::string& libraryRoot);

} // namespace veltrane
