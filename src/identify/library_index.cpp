#include "identify/library_index.h"

#include <sqlite3.h>

#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "identify/shift_spectrum.h"
#include "library/library_file.h"
#include "platform/byte_order.h"
#include "platform/file_io.h"
#include "platform/folder_listing.h"
#include "platform/paths.h"

namespace veltrane {

namespace {

// Changing the preparation changes every stored spectrum, so its parameters
// are part of the format tag: an index made another way is rebuilt.
constexpr const char* kFormatTag =
    "veltrane-library-index 2; arPLS lambda 1e6 ratio 0.01 iterations 30; grid 1; int16 steps 1/32767";
// Bounds of a sane row; the largest library has 2500 points over a few
// thousand cm-1, so anything far beyond is damage.
constexpr std::int64_t kMaxGridStart = 100000;
constexpr std::size_t kMaxGridValues = 200000;
constexpr std::size_t kMaxLibraryBytes = 1u << 20;

// Large pages: each entry is a blob of about 6 kB (16-bit values), which at
// the default 4 kB page would be read as a chain of overflow pages. The
// index on (folder, path, size, mtime) answers an update's listing on its
// own and hands a load its rows in path order without a sort.
constexpr const char* kSchema = "PRAGMA page_size = 65536;"
                                "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
                                "CREATE TABLE entries(path TEXT PRIMARY KEY, folder TEXT NOT NULL,"
                                " size INTEGER NOT NULL, mtime INTEGER NOT NULL, name BLOB, model INTEGER,"
                                " date TEXT, reason TEXT, start INTEGER, data BLOB);"
                                "CREATE INDEX entries_folder ON entries(folder, path, size, mtime);";

// The index is a cache of what the library files say: a crash that leaves
// it damaged costs a rebuild, never data, so it is written without waiting
// for the disk.
constexpr const char* kCachePragmas = "PRAGMA synchronous = OFF; PRAGMA mmap_size = 1073741824";

struct FileStamp {
    std::int64_t size = -1;
    std::int64_t mtime = 0;
};

FileStamp StampOf(const std::filesystem::path& path) {
    std::error_code ec;
    FileStamp stamp;
    if (!std::filesystem::is_regular_file(path, ec)) return stamp;
    auto size = std::filesystem::file_size(path, ec);
    if (ec) return stamp;
    auto time = std::filesystem::last_write_time(path, ec);
    if (ec) return stamp;
    stamp.size = static_cast<std::int64_t>(size);
    stamp.mtime = static_cast<std::int64_t>(time.time_since_epoch().count());
    return stamp;
}

// One prepared file, made by a worker and stored by the caller's thread.
struct Prepared {
    std::string path;
    std::string folder; // as the index keys it
    FileStamp stamp;
    std::string name;
    std::uint16_t model = 0;
    std::string date;
    std::string reason; // empty when the spectrum is usable
    GridSpectrum grid;
};

void ResampleFile(Prepared& p) {
    std::string bytes;
    LoadResult loaded = ReadWholeFile(p.path, bytes, kMaxLibraryBytes);
    if (loaded != LoadResult::Loaded) {
        p.reason = loaded == LoadResult::TooLarge ? "unknown file format" : "can not open file";
        return;
    }
    ShiftSpectrum spectrum;
    SpectrumKind kind = SpectrumKind::Raw;
    ShiftRead read = ReadShiftSpectrum(bytes, spectrum, &kind);
    if (bytes.size() >= kHeaderSize) {
        SpectrumHeader header;
        std::memcpy(header.bytes.data(), bytes.data(), kHeaderSize);
        p.name = header.name();
        p.model = header.modelCode();
        p.date = header.dateText();
    }
    if (read != ShiftRead::Ok) {
        p.reason = ShiftReadReason(read);
        return;
    }
    // A raw file renamed to .rlb is not a library entry, even though it reads.
    if (kind == SpectrumKind::Raw) {
        p.reason = "not a library file";
        return;
    }
    // The baseline comes later, with other files of the same length.
    p.grid = ResampleToWholeWavenumbers(spectrum.shift, spectrum.intensity);
    if (p.grid.values.size() < 2) p.reason = "no Raman shift axis";
}

// Reads a handful of files and removes their baselines together.
void PrepareFiles(Prepared* files, std::size_t count) {
    std::vector<GridSpectrum> grids;
    std::vector<Prepared*> usable;
    for (std::size_t i = 0; i < count; ++i) {
        ResampleFile(files[i]);
        if (!files[i].reason.empty()) continue;
        grids.push_back(std::move(files[i].grid));
        usable.push_back(&files[i]);
    }
    std::vector<GridSpectrum> prepared = RemoveBaselines(grids);
    for (std::size_t i = 0; i < usable.size(); ++i)
        usable[i]->grid = std::move(prepared[i]);
}

class Statement {
public:
    Statement(sqlite3* db, const char* sql) { m_ok = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) == SQLITE_OK; }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool ok() const { return m_ok; }
    sqlite3_stmt* get() const { return m_stmt; }

private:
    sqlite3_stmt* m_stmt = nullptr;
    bool m_ok = false;
};

bool Exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::string ColumnText(sqlite3_stmt* s, int column) {
    const unsigned char* text = sqlite3_column_text(s, column);
    int size = sqlite3_column_bytes(s, column);
    return text && size > 0 ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size))
                            : std::string();
}

// Each row belongs to a file directly in its folder; anything else was not
// written by this program.
bool DirectlyIn(const std::string& folder, const std::string& path) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path.find('/', folder.size()) == std::string::npos;
}

std::string XdgCacheFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/') return std::string(cache) + "/veltrane/";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.cache/veltrane/";
}

} // namespace

std::string IndexFolderKey(const std::string& folder) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::absolute(folder, ec), ec);
    std::string key = (ec ? std::filesystem::path(folder) : p).lexically_normal().string();
    if (key.empty() || key.back() != '/') key += '/';
    return key;
}

std::string IdentifyIndexPath(const AppPaths& paths) {
    // A portable copy keeps its settings file in its library root, the
    // folder beside the executable; an installed one keeps them apart.
    std::string settingsFolder = paths.settingsFile.substr(0, paths.settingsFile.find_last_of('/') + 1);
    if (!settingsFolder.empty() && paths.libraryRoot == settingsFolder)
        return settingsFolder + "cache/" + kIndexFileName;
    return XdgCacheFolder() + kIndexFileName;
}

LibraryIndex::LibraryIndex(std::string databasePath) : m_path(std::move(databasePath)) {}

LibraryIndex::~LibraryIndex() {
    sqlite3_close_v2(m_db);
}

void LibraryIndex::discard() {
    // close_v2: a statement still open in the caller's scope finalises later
    // and the connection goes with it, instead of staying open for good.
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    std::error_code ec;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        std::filesystem::remove(m_path + suffix, ec);
    m_rebuilt = true;
}

bool LibraryIndex::createFresh() {
    discard();
    std::filesystem::path folder = std::filesystem::path(m_path).parent_path();
    if (!folder.empty()) EnsureFolder(folder.string());
    if (sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        return false;
    }
    sqlite3_busy_timeout(m_db, 5000);
    Exec(m_db, kCachePragmas);
    if (!Exec(m_db, kSchema)) return false;
    Statement insert(m_db, "INSERT INTO meta(key, value) VALUES('format', ?)");
    if (!insert.ok()) return false;
    sqlite3_bind_text(insert.get(), 1, kFormatTag, -1, SQLITE_STATIC);
    return sqlite3_step(insert.get()) == SQLITE_DONE;
}

bool LibraryIndex::openChecked() {
    if (m_db) return true;
    std::error_code ec;
    if (!std::filesystem::exists(m_path, ec)) return createFresh();
    if (sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return createFresh();
    sqlite3_busy_timeout(m_db, 5000);
    Exec(m_db, kCachePragmas);
    Statement format(m_db, "SELECT value FROM meta WHERE key = 'format'");
    bool ours = format.ok() && sqlite3_step(format.get()) == SQLITE_ROW &&
                sqlite3_column_type(format.get(), 0) == SQLITE_TEXT && ColumnText(format.get(), 0) == kFormatTag;
    if (ours) {
        // The format row alone proves little; the table must also have the
        // columns the statements below name.
        Statement probe(m_db, "SELECT path, folder, size, mtime, name, model, date, reason, start, data FROM entries "
                              "LIMIT 0");
        ours = probe.ok();
    }
    if (!ours) return createFresh();
    return true;
}

IndexUpdate LibraryIndex::update(const std::vector<std::string>& folders, unsigned threads, IndexProgress* progress,
                                 const std::atomic<bool>* stop) {
    IndexUpdate report;
    m_rebuilt = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!openChecked()) {
            report.ok = false;
            return report;
        }
        // What the folders hold now.
        std::vector<Prepared> work;
        std::vector<std::pair<std::string, std::string>> gone; // path, folder
        bool damaged = false;
        report.kept = 0;
        for (const std::string& folderText : folders) {
            std::string folder = IndexFolderKey(folderText);
            std::map<std::string, FileStamp> known;
            Statement rows(m_db, "SELECT path, size, mtime FROM entries WHERE folder = ?");
            if (!rows.ok()) {
                damaged = true;
                break;
            }
            sqlite3_bind_text(rows.get(), 1, folder.c_str(), -1, SQLITE_TRANSIENT);
            int rc;
            while ((rc = sqlite3_step(rows.get())) == SQLITE_ROW) {
                if (sqlite3_column_type(rows.get(), 0) != SQLITE_TEXT ||
                    sqlite3_column_type(rows.get(), 1) != SQLITE_INTEGER ||
                    sqlite3_column_type(rows.get(), 2) != SQLITE_INTEGER) {
                    damaged = true;
                    break;
                }
                std::string path = ColumnText(rows.get(), 0);
                if (!DirectlyIn(folder, path)) {
                    damaged = true;
                    break;
                }
                known[path] = {sqlite3_column_int64(rows.get(), 1), sqlite3_column_int64(rows.get(), 2)};
            }
            if (damaged || rc != SQLITE_DONE) {
                damaged = true;
                break;
            }
            std::map<std::string, bool> present;
            for (const std::string& name : ListMatching(folder, kLibraryPattern)) {
                std::string path = folder + name;
                FileStamp stamp = StampOf(path);
                if (stamp.size < 0) continue;
                present[path] = true;
                auto it = known.find(path);
                if (it != known.end() && it->second.size == stamp.size && it->second.mtime == stamp.mtime) {
                    ++report.kept;
                    continue;
                }
                Prepared p;
                p.path = path;
                p.folder = folder;
                p.stamp = stamp;
                work.push_back(std::move(p));
            }
            for (const auto& [path, stamp] : known)
                if (!present.count(path)) gone.emplace_back(path, folder);
            auto& listed = m_listed[folder];
            listed.clear();
            for (const auto& [path, yes] : present)
                listed.insert(path);
        }
        if (damaged) {
            if (!createFresh()) break;
            continue;
        }

        if (progress) {
            progress->total.store(work.size(), std::memory_order_relaxed);
            progress->done.store(0, std::memory_order_relaxed);
        }
        // Files go to the workers eight at a time: arPLS solves spectra of
        // one length side by side faster than one after another. This
        // thread writes each batch as soon as it and all before it are done,
        // so writing overlaps preparing and prepared spectra do not pile up.
        constexpr std::size_t kBatch = 8;
        const std::size_t batches = (work.size() + kBatch - 1) / kBatch;
        std::atomic<std::size_t> next{0};
        std::atomic<bool> abandon{false};
        std::mutex mutex;
        std::condition_variable ready;
        std::vector<char> batchDone(batches, 0);
        unsigned idle = 0;
        auto worker = [&] {
            for (;;) {
                if ((stop && stop->load(std::memory_order_relaxed)) || abandon.load(std::memory_order_relaxed)) break;
                std::size_t i = next.fetch_add(kBatch, std::memory_order_relaxed);
                if (i >= work.size()) break;
                std::size_t count = std::min(kBatch, work.size() - i);
                PrepareFiles(work.data() + i, count);
                if (progress) progress->done.fetch_add(count, std::memory_order_relaxed);
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    batchDone[i / kBatch] = 1;
                }
                ready.notify_one();
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                ++idle;
            }
            ready.notify_one();
        };
        const unsigned count = std::max(1u, std::min<unsigned>(threads, static_cast<unsigned>(batches)));
        std::vector<std::thread> pool;
        for (unsigned t = 0; t < count && batches > 0; ++t)
            pool.emplace_back(worker);
        if (pool.empty()) idle = count;

        std::size_t finished = 0;
        // Commits every so often: another process waiting for the file gets
        // its turn, and a stop part way keeps what was written.
        constexpr std::size_t kRowsPerCommit = 1000;
        std::size_t uncommitted = 0;
        bool written = Exec(m_db, "BEGIN IMMEDIATE");
        std::string blob; // bound without a copy, so it outlives the statement
        {
            Statement remove(m_db, "DELETE FROM entries WHERE path = ?");
            Statement insert(m_db, "INSERT OR REPLACE INTO entries(path, folder, size, mtime, name, model, date, "
                                   "reason, start, data) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
            written = written && remove.ok() && insert.ok();
            for (std::size_t g = 0; written && g < gone.size(); ++g) {
                sqlite3_reset(remove.get());
                sqlite3_bind_text(remove.get(), 1, gone[g].first.c_str(), -1, SQLITE_TRANSIENT);
                written = sqlite3_step(remove.get()) == SQLITE_DONE;
            }
            for (std::size_t batch = 0; written && batch < batches; ++batch) {
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    ready.wait(lock, [&] { return batchDone[batch] || idle == count; });
                    // Batches are taken in order: once the workers are gone,
                    // the first one not done marks the end of the work done.
                    if (!batchDone[batch]) break;
                }
                const std::size_t end = std::min(work.size(), (batch + 1) * kBatch);
                for (std::size_t i = batch * kBatch; written && i < end; ++i) {
                    Prepared& p = work[i];
                    sqlite3_stmt* s = insert.get();
                    sqlite3_reset(s);
                    sqlite3_clear_bindings(s);
                    sqlite3_bind_text(s, 1, p.path.c_str(), -1, SQLITE_TRANSIENT);
                    sqlite3_bind_text(s, 2, p.folder.c_str(), -1, SQLITE_TRANSIENT);
                    sqlite3_bind_int64(s, 3, p.stamp.size);
                    sqlite3_bind_int64(s, 4, p.stamp.mtime);
                    sqlite3_bind_blob(s, 5, p.name.data(), static_cast<int>(p.name.size()), SQLITE_TRANSIENT);
                    sqlite3_bind_int(s, 6, p.model);
                    sqlite3_bind_text(s, 7, p.date.c_str(), -1, SQLITE_TRANSIENT);
                    if (!p.reason.empty()) {
                        sqlite3_bind_text(s, 8, p.reason.c_str(), -1, SQLITE_TRANSIENT);
                    } else {
                        blob.resize(p.grid.values.size() * 2);
                        for (std::size_t k = 0; k < p.grid.values.size(); ++k)
                            PutI16(reinterpret_cast<std::uint8_t*>(blob.data()) + 2 * k,
                                   QuantizePrepared(p.grid.values[k]));
                        sqlite3_bind_int64(s, 9, p.grid.start);
                        sqlite3_bind_blob(s, 10, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
                    }
                    written = sqlite3_step(s) == SQLITE_DONE;
                    p.grid = GridSpectrum{};
                }
                if (written) finished = end;
                uncommitted += end - batch * kBatch;
                if (written && uncommitted >= kRowsPerCommit) {
                    written = Exec(m_db, "COMMIT") && Exec(m_db, "BEGIN IMMEDIATE");
                    uncommitted = 0;
                }
            }
        }
        abandon.store(true, std::memory_order_relaxed);
        for (std::thread& t : pool)
            t.join();
        // Folders that no longer exist (a temporary folder, an unplugged
        // drive) would otherwise keep their rows for ever.
        if (written) {
            std::vector<std::string> vanished;
            Statement folderRows(m_db, "SELECT DISTINCT folder FROM entries");
            while (folderRows.ok() && sqlite3_step(folderRows.get()) == SQLITE_ROW)
                if (!FolderExists(ColumnText(folderRows.get(), 0))) vanished.push_back(ColumnText(folderRows.get(), 0));
            Statement removeFolder(m_db, "DELETE FROM entries WHERE folder = ?");
            for (const std::string& folder : vanished) {
                sqlite3_reset(removeFolder.get());
                sqlite3_bind_text(removeFolder.get(), 1, folder.c_str(), -1, SQLITE_TRANSIENT);
                written = written && sqlite3_step(removeFolder.get()) == SQLITE_DONE;
            }
        }
        written = written && Exec(m_db, "COMMIT");
        if (!written) {
            Exec(m_db, "ROLLBACK");
            if (attempt == 0 && sqlite3_errcode(m_db) != SQLITE_BUSY) {
                // A write that fails on a sound disk means the file is damaged.
                if (!createFresh()) break;
                continue;
            }
            report.ok = false;
        }
        report.processed = finished;
        report.dropped = gone.size();
        report.rebuilt = m_rebuilt;
        return report;
    }
    report.ok = false;
    report.rebuilt = m_rebuilt;
    return report;
}

bool LibraryIndex::load(const std::vector<std::string>& folders, IndexedLibrary& out) {
    out.prepared.clear();
    out.info.clear();
    out.skipped.clear();
    if (!openChecked()) return false;
    // One allocation for all entries: growing a buffer of a hundred
    // megabytes step by step would copy it several times over.
    {
        Statement size(m_db, "SELECT COUNT(*), SUM(LENGTH(data)) FROM entries");
        if (size.ok() && sqlite3_step(size.get()) == SQLITE_ROW) {
            std::int64_t rows = sqlite3_column_int64(size.get(), 0), bytes = sqlite3_column_int64(size.get(), 1);
            if (rows > 0 && rows < 10000000 && bytes > 0 && bytes < (std::int64_t{1} << 34))
                out.prepared.reserve(static_cast<std::size_t>(rows), static_cast<std::size_t>(bytes) / 2);
        }
    }
    for (const std::string& folderText : folders) {
        std::string folder = IndexFolderKey(folderText);
        const std::size_t folderFirstInfo = out.info.size(), folderFirstSkip = out.skipped.size();
        Statement rows(m_db, "SELECT path, name, model, date, reason, start, data FROM entries WHERE folder = ? "
                             "ORDER BY path");
        bool sound = rows.ok();
        if (sound) sqlite3_bind_text(rows.get(), 1, folder.c_str(), -1, SQLITE_TRANSIENT);
        int rc = SQLITE_DONE;
        while (sound && (rc = sqlite3_step(rows.get())) == SQLITE_ROW) {
            sqlite3_stmt* s = rows.get();
            int nameType = sqlite3_column_type(s, 1);
            if (sqlite3_column_type(s, 0) != SQLITE_TEXT || (nameType != SQLITE_BLOB && nameType != SQLITE_NULL) ||
                sqlite3_column_type(s, 2) != SQLITE_INTEGER || sqlite3_column_type(s, 3) != SQLITE_TEXT) {
                sound = false;
                break;
            }
            IndexedEntryInfo info;
            info.path = ColumnText(s, 0);
            info.folder = folder;
            const void* name = sqlite3_column_blob(s, 1);
            int nameSize = sqlite3_column_bytes(s, 1);
            std::int64_t model = sqlite3_column_int64(s, 2);
            info.date = ColumnText(s, 3);
            if (nameSize < 0 || static_cast<std::size_t>(nameSize) > kNameFieldSize || model < 0 || model > 0xFFFF ||
                info.date.size() > 64 || !DirectlyIn(folder, info.path)) {
                sound = false;
                break;
            }
            if (name) info.name.assign(static_cast<const char*>(name), static_cast<std::size_t>(nameSize));
            info.modelCode = static_cast<std::uint16_t>(model);
            if (sqlite3_column_type(s, 4) == SQLITE_TEXT) {
                out.skipped.push_back({info.path, ColumnText(s, 4)});
                continue;
            }
            if (sqlite3_column_type(s, 4) != SQLITE_NULL || sqlite3_column_type(s, 5) != SQLITE_INTEGER ||
                sqlite3_column_type(s, 6) != SQLITE_BLOB) {
                sound = false;
                break;
            }
            std::int64_t start = sqlite3_column_int64(s, 5);
            const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(s, 6));
            int dataSize = sqlite3_column_bytes(s, 6);
            if (start < -kMaxGridStart || start > kMaxGridStart || dataSize < 4 || dataSize % 2 != 0 ||
                static_cast<std::size_t>(dataSize) / 2 > kMaxGridValues || !data) {
                sound = false;
                break;
            }
            std::size_t count = static_cast<std::size_t>(dataSize) / 2;
            float* values = out.prepared.append(static_cast<std::int32_t>(start), count);
            // Stored spectra are rounded to steps of 1/32767 of their peak;
            // -32768 would lie beyond it and was not written by this program.
            bool bounded = true;
            for (std::size_t k = 0; k < count; ++k) {
                std::int16_t q = GetI16(data + 2 * k);
                bounded &= q != INT16_MIN;
                values[k] = CompressForComparison(DequantizePrepared(q));
            }
            if (!bounded) {
                out.prepared.dropLast();
                sound = false;
                break;
            }
            out.info.push_back(std::move(info));
        }
        // A damaged file can answer queries without an error and still lose
        // or double rows (an index b-tree out of step with its table): what
        // comes back must be exactly the files the last update listed.
        auto listed = m_listed.find(folder);
        if (sound && rc == SQLITE_DONE && listed != m_listed.end()) {
            std::set<std::string> seen;
            for (std::size_t i = folderFirstInfo; i < out.info.size(); ++i)
                seen.insert(out.info[i].path);
            for (std::size_t i = folderFirstSkip; i < out.skipped.size(); ++i)
                seen.insert(out.skipped[i].path);
            std::size_t rows = out.info.size() - folderFirstInfo + out.skipped.size() - folderFirstSkip;
            sound = rows == seen.size() && seen == listed->second;
        }
        if (!sound || rc != SQLITE_DONE) {
            createFresh();
            out.prepared.clear();
            out.info.clear();
            out.skipped.clear();
            return false;
        }
    }
    return true;
}

bool LibraryIndex::refresh(const std::vector<std::string>& folders, IndexedLibrary& out, unsigned threads,
                           IndexProgress* progress, const std::atomic<bool>* stop, IndexUpdate* report) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        IndexUpdate done = update(folders, threads, progress, stop);
        if (report) *report = done;
        if (!done.ok) return false;
        if (load(folders, out)) {
            if (report && attempt > 0) report->rebuilt = true;
            return true;
        }
    }
    return false;
}

} // namespace veltrane
