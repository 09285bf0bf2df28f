#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "identify/hqi.h"
#include "platform/paths.h"

struct sqlite3;

namespace veltrane {

// What a search shows of an entry beside its score.
struct IndexedEntryInfo {
    std::string path;   // the library file
    std::string folder; // its folder as searched, ending in '/'
    std::string name;   // from the header
    std::uint16_t modelCode = 0;
    std::string date; // as the library grid shows it
};

// A file of a searched folder that takes no part in the search, and why.
struct IndexSkip {
    std::string path;
    std::string reason;
};

// The searched folders' entries in memory, ready for RankLibrary: entry i of
// `prepared` is `info[i]`.
struct IndexedLibrary {
    PreparedLibrary prepared;
    std::vector<IndexedEntryInfo> info;
    std::vector<IndexSkip> skipped;
};

// Counters a window's timer reads while a worker brings the index up to date.
struct IndexProgress {
    std::atomic<std::size_t> total{0};
    std::atomic<std::size_t> done{0};
};

struct IndexUpdate {
    std::size_t processed = 0; // new or changed files read and prepared
    std::size_t kept = 0;      // files unchanged since the index saw them
    std::size_t dropped = 0;   // entries whose files are gone
    bool rebuilt = false;      // the index file was damaged or foreign and started afresh
    bool ok = true;            // false when the index could not be written at all
};

// The prepared library entries of the PC and device folders, kept in an
// SQLite file keyed by path, size and modification time. Nothing read from
// the file is trusted: a file that is not an index of this version, or any
// row that does not decode within bounds, makes the whole file be discarded
// and built again from the libraries, which are the truth.
class LibraryIndex {
public:
    explicit LibraryIndex(std::string databasePath);
    ~LibraryIndex();
    LibraryIndex(const LibraryIndex&) = delete;
    LibraryIndex& operator=(const LibraryIndex&) = delete;

    // Reads and prepares the files of `folders` that are new or changed and
    // forgets those that are gone, on `threads` workers (at least one).
    IndexUpdate update(const std::vector<std::string>& folders, unsigned threads = 1, IndexProgress* progress = nullptr,
                       const std::atomic<bool>* stop = nullptr);

    // The entries of `folders` as the index holds them; false when the index
    // turned out damaged (it is then discarded; update and load again).
    bool load(const std::vector<std::string>& folders, IndexedLibrary& out);

    // update then load, starting afresh once should the index prove damaged.
    bool refresh(const std::vector<std::string>& folders, IndexedLibrary& out, unsigned threads = 1,
                 IndexProgress* progress = nullptr, const std::atomic<bool>* stop = nullptr,
                 IndexUpdate* report = nullptr);

    const std::string& path() const { return m_path; }

private:
    bool openChecked();
    bool createFresh();
    void discard();
    std::string m_path;
    sqlite3* m_db = nullptr;
    bool m_rebuilt = false;
    // The files each folder held at the last update, to check a load against.
    std::map<std::string, std::set<std::string>> m_listed;
};

// Where the index lives: cache/ beside the executable for a portable copy
// (settings beside it), $XDG_CACHE_HOME/veltrane/ (~/.cache/veltrane/) for an
// installed one.
std::string IdentifyIndexPath(const AppPaths& paths);
constexpr const char* kIndexFileName = "library-index.sqlite";

// The folder spelled as the index keys it: absolute, normalised, ending in '/'.
std::string IndexFolderKey(const std::string& folder);

} // namespace veltrane
