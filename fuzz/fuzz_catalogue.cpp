// The catalogue's listing of a library header: a folder holding one library
// file with the input as its content, listed by ListLibraryFolder (which reads
// the header through ReadLibraryHeader and makes the row with CatalogueRowFor).

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "fuzz_support.h"
#include "library/catalogue.h"
#include "library/library_file.h"
#include "platform/file_io.h"

using namespace veltrane;

namespace {

// The row's date must be the header's six numbers, in order, as written.
void CheckDateText(const std::string& text, const LocalDateTime& t) {
    long long y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    int used = 0;
    FUZZ_CHECK(std::sscanf(text.c_str(), "%lld/%lld/%lld %lld:%lld:%lld%n", &y, &mo, &d, &h, &mi, &s, &used) == 6);
    FUZZ_CHECK(static_cast<std::size_t>(used) == text.size());
    FUZZ_CHECK(y == t.year && mo == t.month && d == t.day && h == t.hour && mi == t.minute && s == t.second);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const BrandVariant brand = size > 0 && (data[size - 1] & 1) ? BrandVariant::Korvel : BrandVariant::Brenmor;

    const std::string folder = fuzz::ScratchFolder() + "local/";
    static const bool made = std::filesystem::create_directories(folder) || true;
    (void)made;
    FUZZ_CHECK(WriteFileAtomically(folder + "entry.rlb", bytes));

    std::vector<CatalogueRow> rows = ListLibraryFolder(folder, brand);
    FUZZ_CHECK(rows.size() == 1);
    const CatalogueRow& row = rows[0];
    if (size < kHeaderSize) {
        FUZZ_CHECK(!row.readable && row.name == "entry" && row.model.empty() && row.date.empty());
        return 0;
    }
    SpectrumHeader header;
    std::copy_n(data, kHeaderSize, header.bytes.begin());
    FUZZ_CHECK(row.readable);
    FUZZ_CHECK(row.name.size() <= kNameFieldSize && row.name.find('\0') == std::string::npos);
    FUZZ_CHECK(bytes.substr(0, row.name.size()) == row.name);
    FUZZ_CHECK(row.name.size() == kNameFieldSize || data[row.name.size()] == 0);
    FUZZ_CHECK(row.model == LibraryModelName(header.modelCode(), brand));
    FUZZ_CHECK(row.model.empty() || row.model == "TL100" || row.model == "TL200" || row.model == "QX810A" ||
               row.model == "QX810B");
    CheckDateText(row.date, header.dateTime());

    // The header's date read and written again is the same bytes.
    SpectrumHeader copy = header;
    copy.setDateTime(header.dateTime());
    FUZZ_CHECK(copy.bytes == header.bytes);
    return 0;
}
