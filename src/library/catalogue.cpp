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

std::uint8_t TickOf(const LibraryState& library, int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= library.rowTicks.size()) return 0;
    return library.rowTicks[static_cast<std::size_t>(row)];
}

} // namespace

CatalogueRow CatalogueRowFor(const SpectrumHeader& header, BrandVariant brand) {
    return {header.name(), LibraryModelName(header.modelCode(), brand), header.dateText(), true, {}};
}

CatalogueRow UnreadableRow(const std::string& fileName) {
    return {WithoutExtension(fileName), "", "", false, fileName};
}

std::vector<CatalogueRow> ListLibraryFolder(const std::string& folder, BrandVariant brand) {
    std::vector<std::string> names = ListMatching(folder, kLibraryPattern);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        auto fold = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; };
        for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
            int x = fold(static_cast<unsigned char>(a[i])), y = fold(static_cast<unsigned char>(b[i]));
            if (x != y) return x < y;
        }
        if (a.size() != b.size()) return a.size() < b.size();
        return a < b;
    });
    if (names.size() > kMaxCatalogueRows) names.resize(kMaxCatalogueRows);
    std::vector<CatalogueRow> rows;
    rows.reserve(names.size());
    SpectrumHeader header;
    for (const std::string& name : names) {
        // A file that cannot be read still takes its place in the order.
        if (ReadLibraryHeader(folder + name, header)) {
            rows.push_back(CatalogueRowFor(header, brand));
            rows.back().fileName = name;
        } else {
            rows.push_back(UnreadableRow(name));
        }
    }
    return rows;
}

void ClearTicks(LibraryState& library) {
    library.rowTicks.assign(std::size_t{library.lib.libraryCount} + 1, 0);
}

bool RowTicked(const LibraryState& library, int row) {
    return TickOf(library, row) == 1;
}

std::vector<int> TickedRows(const LibraryState& library, std::size_t limit) {
    std::vector<int> rows;
    for (int r = 1; r <= library.lib.libraryCount && rows.size() < limit; ++r)
        if (RowTicked(library, r)) rows.push_back(r);
    return rows;
}

void ResetRowBoxes(RowBoxStates& boxes, int count, int fitRows) {
    int shown = std::min(count, fitRows);
    for (int k = 1; k < kRowBoxCount; ++k) {
        boxes.checked[k] = false;
        boxes.shown[k] = k <= shown;
    }
}

void SyncRowBoxes(RowBoxStates& boxes, const LibraryState& library, int topRow) {
    int last = std::min<int>(library.fitRows, kRowBoxCount - 1);
    for (int k = 1; k <= last; ++k) {
        int r = topRow + k - 1;
        boxes.shown[k] = r <= library.lib.libraryCount;
        boxes.checked[k] = RowTicked(library, r);
    }
}

void SelectLibraryRow(LibraryState& library, int row) {
    library.currentRow = row;
}

void ClickLibraryRow(LibraryState& library, RowBoxStates& boxes, int topRow) {
    int row = library.currentRow;
    if (library.ignoreNextClick || row <= 0 || row > library.lib.libraryCount) {
        library.ignoreNextClick = false;
        return;
    }
    if (library.rowTicks.size() <= static_cast<std::size_t>(row)) library.rowTicks.resize(std::size_t(row) + 1, 0);
    // The tick decides and the box follows. A box can be hidden past fitRows
    // and keep an old mark; toggling by it would tick a row twice.
    std::uint8_t tick = library.rowTicks[static_cast<std::size_t>(row)] == 1 ? 0 : 1;
    library.rowTicks[static_cast<std::size_t>(row)] = tick;
    int slot = row - topRow + 1;
    if (slot >= 1 && slot < kRowBoxCount) boxes.checked[slot] = tick == 1;
    // "All" says every row is ticked; one row unticked makes that untrue.
    if (tick == 0)
        boxes.checked[0] = false;
    else if (TickedRows(library).size() == library.lib.libraryCount)
        boxes.checked[0] = true;
}

void TickAllRows(LibraryState& library, RowBoxStates& boxes, bool on) {
    std::fill(library.rowTicks.begin(), library.rowTicks.end(), on ? 1 : 0);
    int last = std::min<int>(library.fitRows, kRowBoxCount - 1);
    for (int k = 1; k <= last; ++k)
        boxes.checked[k] = on;
}

std::optional<int> TypeAheadRow(const std::string& folder, const std::string& typed,
                                const std::vector<std::string>& rowNames) {
    if (folder.empty() || typed.empty()) return std::nullopt;
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    for (std::size_t r = 0; r < rowNames.size(); ++r) {
        const std::string& name = rowNames[r];
        if (name.size() < typed.size()) continue;
        bool begins = true;
        for (std::size_t i = 0; i < typed.size() && begins; ++i)
            begins = lower(static_cast<unsigned char>(name[i])) == lower(static_cast<unsigned char>(typed[i]));
        if (begins) return static_cast<int>(r) + 1;
    }
    return std::nullopt;
}

std::size_t EmptyDeviceFolder(const std::string& libraryRoot) {
    return DeleteMatching(LibraryFolderPath(libraryRoot, LibraryView::Device), kLibraryPattern);
}

} // namespace veltrane
