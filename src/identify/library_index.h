#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "identify/hqi.h"
#include "platform/paths.h"

namespace veltrane {

// What a search shows of an entry beside its score.
struct IndexedEntryInfo {
    std::string path; // the library file, directly in its folder as searched
    std::string name; // from the header
    std::uint16_t modelCode = 0;
    std::string date; // as the library grid shows it
    // The folder as searched, ending in '/'; not kept apart, since a search
    // of a large folder would hold it once for every entry.
    std::string folder() const { return path.substr(0, path.rfind('/') + 1); }
};

// A file of a searched folder that takes no part in the search, and why.
struct IndexSkip {
    std::string path;
    std::string reason;
};

// The searched folders' entries, ready for RankLibrary: entry i of
// `prepared` is `info[i]`. The compact forms are in memory; the full
// spectra stay in the index, which `prepared` keeps open for the search.
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
    bool rebuilt = false;      // the index was damaged or of another version and started afresh
    bool ok = true;            // false when no search can be made (see foreign)
    bool foreign = false;      // the index path names something that is not a library index; left alone
    std::string notKept;       // why the index file was not used: the search was prepared in memory
};

// The prepared library entries of the searched folders, kept in an SQLite
// file keyed by path, device, inode, size, modification and change time.
//
// The file is only a cache, and only ever this program's: a path that
// names anything but a regular file made by it (or nothing yet) is never
// written or removed. A new index appears whole (made under another name
// and linked into place); a damaged or outdated one is emptied and filled
// again inside the file, in a transaction, never deleted, since another
// process may be using it. Several processes may update and search one
// index at once: each batch of rows is written in a short transaction, and
// a row another process wrote already is kept. When the file cannot be
// written (a read-only folder, a full disk), the index lives in memory for
// this search and `notKept` tells why.
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
    // turned out damaged (it is then emptied; update and load again) or
    // lacks files the last update listed.
    bool load(const std::vector<std::string>& folders, IndexedLibrary& out);

    // update then load, again should the index prove damaged, and in memory
    // as a last resort.
    bool refresh(const std::vector<std::string>& folders, IndexedLibrary& out, unsigned threads = 1,
                 IndexProgress* progress = nullptr, const std::atomic<bool>* stop = nullptr,
                 IndexUpdate* report = nullptr);

    const std::string& path() const { return m_path; }

    struct Connection;

private:
    bool openChecked();
    bool createAtomically(std::string& why);
    bool replaceDamaged(std::string& why);
    bool rebuildInPlace();
    bool useMemory(const std::string& why);
    bool writeFailed(int code, const std::string& message);
    IndexUpdate updateOnce(const std::vector<std::string>& folders, unsigned threads, IndexProgress* progress,
                           const std::atomic<bool>* stop, bool& restart);

    std::string m_path;
    std::shared_ptr<Connection> m_conn;
    bool m_foreign = false;
    bool m_needsRebuild = false;
    bool m_rebuilt = false;
    bool m_replacedDamaged = false;
    std::string m_notKept;
    // What each folder held at the last update: its regular files (names in
    // ascending order, as the index's rows of a folder are read), the files
    // that take no part before being read, and whether it could be listed
    // at all.
    std::map<std::string, std::vector<std::string>> m_listed;
    // What the last update saw of the rows a load reads, to size its
    // buffers without counting them in another pass over the file.
    struct LoadSize {
        bool known = false;
        std::size_t entries = 0, coarseBytes = 0, bandBytes = 0;
    } m_loadSize;
    std::map<std::string, std::vector<IndexSkip>> m_irregular;
    std::set<std::string> m_unreadable;
};

// Where the index lives: cache/ beside the executable for a portable copy
// (settings beside it), $XDG_CACHE_HOME/veltrane/ (~/.cache/veltrane/) for an
// installed one.
std::string IdentifyIndexPath(const AppPaths& paths);
constexpr const char* kIndexFileName = "library-index.sqlite";

// Said of an index path that names something else, before the path.
constexpr const char* kNotLibraryIndex = "Not a library index: ";
// Said after the index path when it could not be kept.
std::string IndexNotKeptText(const std::string& reason);

// The folder spelled as the index keys it: absolute, normalised, ending in '/'.
std::string IndexFolderKey(const std::string& folder);

// The folders with each one kept once, told apart by device and inode (a
// folder given twice, once through a link or with a trailing slash), in the
// order given.
std::vector<std::string> DistinctFolders(const std::vector<std::string>& folders);

} // namespace veltrane
