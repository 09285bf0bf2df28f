#include "library/catalogue.h"

#include <algorithm>

#include "library/library_file.h"
#include "platform/folder_listing.h"

namespace veltrane {

namespace {

std::string WithoutExtension(const std::string& fileName) {
    std::size_t dot = fileName.rfind('.');
    return dot == std::string::npos ? fileName : fileName.substr(0, dot);
}

std::uint8_t TickOf(const ProgramState& state, int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= state.rowTicks.size()) return 0;
    return state.rowTicks[static_cast<std::size_t>(row)];
}

} // namespace

CatalogueRow CatalogueRowFor(const SpectrumHeader& header, BrandVariant brand) {
    return {header.name(), LibraryModelName(header.modelCode(), brand), header.dateText(), true};
}

CatalogueRow UnreadableRow(const std::string& fileName) {
    return {WithoutExtension(fileName), "", "", false};
}

std::vector<CatalogueRow> ListLibraryFolder(const std::string& folder, BrandVariant brand) {
    std::vector<std::string> names = ListMatching(folder, kLibraryPattern);
    if (names.size() > kMaxCatalogueRows) names.resize(kMaxCatalogueRows);
    std::vector<CatalogueRow> rows;
    rows.reserve(names.size());
    SpectrumHeader header;
    for (const std::string& name : names) {
        // A file that cannot be read still takes its place in the order, so
        // row r stays the r-th file of the folder.
        if (ReadLibraryHeader(folder + name, header))
            rows.push_back(CatalogueRowFor(header, brand));
        else
            rows.push_back(UnreadableRow(name));
    }
    return rows;
}

void ClearTicks(ProgramState& state) {
    state.rowTicks.assign(std::size_t{state.lib.libraryCount} + 1, 0);
}

bool RowTicked(const ProgramState& state, int row) {
    return TickOf(state, row) == 1;
}

std::vector<int> TickedRows(const ProgramState& state, std::size_t limit) {
    std::vector<int> rows;
    for (int r = 1; r <= state.lib.libraryCount && rows.size() < limit; ++r)
        if (RowTicked(state, r)) rows.push_back(r);
    return rows;
}

void ResetRowBoxes(RowBoxStates& boxes, int count, int fitRows) {
    int shown = std::min(count, fitRows);
    for (int k = 1; k < kRowBoxCount; ++k) {
        boxes.checked[k] = false;
        boxes.shown[k] = k <= shown;
    }
}

void SyncRowBoxes(RowBoxStates& boxes, const ProgramState& state, int topRow) {
    int last = std::min<int>(state.fitRows, kRowBoxCount - 1);
    for (int k = 1; k <= last; ++k) {
        int r = topRow + k - 1;
        boxes.shown[k] = r <= state.lib.libraryCount;
        boxes.checked[k] = RowTicked(state, r);
    }
}

void SelectLibraryRow(ProgramState& state, int row) {
    state.currentRow = row;
}

void ClickLibraryRow(ProgramState& state, RowBoxStates& boxes, int topRow) {
    int row = state.currentRow;
    if (state.ignoreNextClick || row <= 0 || row > state.lib.libraryCount) {
        state.ignoreNextClick = false;
        return;
    }
    if (state.rowTicks.size() <= static_cast<std::size_t>(row)) state.rowTicks.resize(std::size_t(row) + 1, 0);
    // The tick decides and the box follows. A box can be hidden past fitRows
    // and keep an old mark; toggling by it would tick a row twice.
    std::uint8_t tick = state.rowTicks[static_cast<std::size_t>(row)] == 1 ? 0 : 1;
    state.rowTicks[static_cast<std::size_t>(row)] = tick;
    int slot = row - topRow + 1;
    if (slot >= 1 && slot < kRowBoxCount) boxes.checked[slot] = tick == 1;
    // "All" says every row is ticked; one row unticked makes that untrue.
    if (tick == 0)
        boxes.checked[0] = false;
    else if (TickedRows(state).size() == state.lib.libraryCount)
        boxes.checked[0] = true;
}

void TickAllRows(ProgramState& state, RowBoxStates& boxes, bool on) {
    std::fill(state.rowTicks.begin(), state.rowTicks.end(), on ? 1 : 0);
    int last = std::min<int>(state.fitRows, kRowBoxCount - 1);
    for (int k = 1; k <= last; ++k)
        boxes.checked[k] = on;
}

std::optional<int> TypeAheadRow(const std::string& folder, const std::string& typed,
                                const std::vector<std::string>& rowNames) {
    // Before any listing there is no folder; the working directory is not it.
    if (folder.empty()) return std::nullopt;
    std::vector<std::string> entries = ListMatching(folder, typed + "*");
    if (entries.empty()) return std::nullopt;
    // Found by file name, as the file system matches it, but the row is the
    // one showing that name exactly.
    std::string name = WithoutExtension(entries.front());
    auto at = std::find(rowNames.begin(), rowNames.end(), name);
    if (at == rowNames.end()) return 1;
    return static_cast<int>(at - rowNames.begin()) + 1;
}

std::size_t EmptyDeviceFolder(const std::string& libraryRoot) {
    return DeleteMatching(LibraryFolderPath(libraryRoot, LibraryView::Device), kLibraryPattern);
}

} // namespace veltrane
