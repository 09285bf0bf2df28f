// The identification index (LibraryIndex in src/identify/library_index.*):
// the input is the index file as found in the cache folder, and the search
// brings it up to date over a folder with one library file and loads it.
// A file that is not recognisably an index is another program's and is
// refused, left byte for byte as it was; whatever an index held, the search
// must come through with one that is sound afterwards: only the folder's one
// file, values within their bounds, and a second search that finds nothing
// left to do.

#include <cmath>
#include <fstream>
#include <iterator>

#include "fuzz_support.h"
#include "identify/library_index.h"
#include "index_rig.h"
#include "platform/file_io.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool made = (fuzz::MakeIndexRigLibrary(), true);
    (void)made;
    const std::string database = fuzz::ScratchFolder() + kIndexFileName;
    fuzz::EmptyScratchFolder();
    FUZZ_CHECK(WriteFileAtomically(database, std::string_view(reinterpret_cast<const char*>(data), size)));

    const std::vector<std::string> folders = {fuzz::IndexRigFolder()};
    const std::string path = IndexFolderKey(fuzz::IndexRigFolder()) + "Sample.rlb";
    for (int pass = 0; pass < 2; ++pass) {
        LibraryIndex index(database);
        IndexedLibrary library;
        IndexUpdate report;
        const bool refreshed = index.refresh(folders, library, 1, nullptr, nullptr, &report);
        if (!refreshed && pass == 0 && report.foreign) {
            std::ifstream in(database, std::ios::binary);
            std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            FUZZ_CHECK(kept == std::string_view(reinterpret_cast<const char*>(data), size));
            return 0;
        }
        FUZZ_CHECK(refreshed);
        // A file SQLite finds malformed is replaced by a fresh index once;
        // should that one fail too, each search says it was not kept and
        // works in memory, and so finds the work again.
        if (pass == 1 && report.notKept.empty())
            FUZZ_CHECK(report.processed == 0 && report.dropped == 0 && !report.rebuilt);
        FUZZ_CHECK(library.info.size() + library.skipped.size() == 1);
        FUZZ_CHECK(library.prepared.size() == library.info.size());
        // Entries keep only their compact forms in memory; the full values
        // come from the index itself, which is what is under test.
        std::vector<std::size_t> entries(library.prepared.size());
        for (std::size_t i = 0; i < entries.size(); ++i)
            entries[i] = i;
        std::vector<std::vector<float>> full;
        library.prepared.fullValues(entries, full);
        FUZZ_CHECK(full.size() == entries.size());
        for (std::size_t i = 0; i < library.info.size(); ++i) {
            FUZZ_CHECK(library.info[i].path == path);
            FUZZ_CHECK(library.info[i].name.size() <= kNameFieldSize);
            FUZZ_CHECK(library.prepared.count(i) >= 2 && library.prepared.count(i) <= 200000);
            FUZZ_CHECK(std::abs(library.prepared.start(i)) <= 100000);
            FUZZ_CHECK(full[i].size() == library.prepared.count(i));
            for (float v : full[i])
                FUZZ_CHECK(std::abs(v) <= 1.0f);
        }
        for (const IndexSkip& skip : library.skipped)
            FUZZ_CHECK(skip.path == path);
    }
    return 0;
}
