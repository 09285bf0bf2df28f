#include "identify/library_index.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <unordered_set>

#include "identify/shift_spectrum.h"
#include "library/library_file.h"
#include "platform/byte_order.h"
#include "platform/file_io.h"
#include "platform/folder_listing.h"
#include "platform/memory_advice.h"
#include "platform/paths.h"

namespace veltrane {

namespace {

// Changing the preparation changes every stored spectrum, so its parameters
// are part of the format tag: an index made another way is emptied and
// built again.
constexpr const char* kFormatTag = "veltrane-library-index 4; arPLS lambda 1e6 ratio 0.01 iterations 30; grid 1; "
                                   "int16 steps 1/32767; signal floor 1e-6; coarse 4 u8; bands 0.02";
// Every index this program ever made starts its format tag so.
constexpr const char* kFormatFamily = "veltrane-library-index";
// SQLite keeps this number in the file's header ("VLTI"), so an index is
// recognised even when its tables cannot be read.
constexpr std::uint32_t kApplicationId = 0x564C5449;
constexpr std::size_t kApplicationIdOffset = 68;

// Bounds of a sane entry; the largest library has 2500 points over a few
// thousand cm-1, so anything far beyond is a damaged file (or row).
constexpr std::int64_t kMaxGridStart = 100000;
constexpr std::size_t kMaxGridValues = 50000;
constexpr std::size_t kMaxLibraryBytes = 1u << 20;

// Large pages: each spectrum is a blob of about 6 kB, which at the default
// 4 kB page would be read as a chain of overflow pages. The spectra have a
// table of their own, so a search that reads every entry's compact form
// does not read them; AUTOINCREMENT never gives a key twice, so a key a
// search holds finds its own spectrum or none. The entries are stored in
// the order of their key, folder and path: a search reads a folder's rows
// as one run of pages in the order it wants them, instead of looking up
// each row from an index on the folder (which cost a third of a search of
// 100,000 entries).
constexpr const char* kTables =
    "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "CREATE TABLE entries(folder TEXT NOT NULL, path TEXT NOT NULL, device INTEGER NOT NULL,"
    " inode INTEGER NOT NULL, size INTEGER NOT NULL, mtime INTEGER NOT NULL,"
    " ctime INTEGER NOT NULL, id INTEGER, name BLOB, model INTEGER, date TEXT, reason TEXT,"
    " start INTEGER, count INTEGER, coarse BLOB, bands BLOB, PRIMARY KEY(folder, path))"
    " WITHOUT ROWID;"
    "CREATE TABLE spectra(id INTEGER PRIMARY KEY AUTOINCREMENT, data BLOB NOT NULL);";

// The index is a cache of what the library files say: a crash that leaves
// it damaged costs a rebuild, never data, so it is written without waiting
// for the disk. It is read with plain reads, not mapped: a search reads each
// page of the entries once, in order, and a mapping costs a page fault for
// every 4 KiB of it (and counts the whole file in the resident memory).
constexpr const char* kCachePragmas = "PRAGMA synchronous = OFF";
// Other processes hold the file only for a batch of rows at a time; a wait
// longer than this means something is wrong with it.
constexpr int kBusyTimeoutMs = 60000;

struct FileStamp {
    std::int64_t device = 0, inode = 0, size = -1, mtime = 0, ctime = 0;
    bool operator==(const FileStamp&) const = default;
};

std::int64_t Nanoseconds(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

FileStamp StampOf(const struct stat& st) {
    return {static_cast<std::int64_t>(st.st_dev), static_cast<std::int64_t>(st.st_ino),
            static_cast<std::int64_t>(st.st_size), Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
}

// The comparison form of every 16-bit value the index stores.
const std::array<float, 65536>& ComparisonTable() {
    static const std::array<float, 65536> table = [] {
        std::array<float, 65536> t{};
        for (std::size_t q = 0; q < t.size(); ++q)
            t[q] = CompressForComparison(DequantizePrepared(static_cast<std::int16_t>(static_cast<std::uint16_t>(q))));
        return t;
    }();
    return table;
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
    std::int32_t start = 0; // of the prepared grid
    std::string data;       // 16-bit values, little-endian
    std::string coarse; // CoarseForm
    std::string bands;  // per band: position int32, weight float32
};

void ResampleFile(Prepared& p) {
    std::string bytes;
    LoadResult loaded = ReadFile(p.path, bytes, {.maxBytes = kMaxLibraryBytes, .withinFolder = true});
    if (loaded != LoadResult::Loaded) {
        p.reason = loaded == LoadResult::TooLarge    ? "unknown file format"
                   : loaded == LoadResult::NotRegular ? "not a regular file"
                                                      : "can not open file";
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
    // Checked before resampling: one stray X far out would make a grid of
    // millions of points, and a search could not use it anyway.
    double low = INFINITY, high = -INFINITY;
    for (std::size_t i = 0; i < spectrum.shift.size(); ++i) {
        double x = spectrum.shift[i];
        if (!std::isfinite(x) || !std::isfinite(spectrum.intensity[i]) || !(std::abs(x) < 1e6)) continue;
        low = std::min(low, x);
        high = std::max(high, x);
    }
    if (low <= high && (low < -kMaxGridStart || high > kMaxGridStart || high - low >= kMaxGridValues)) {
        p.reason = "Raman shifts out of range";
        return;
    }
    // The baseline comes later, with other files of the same length.
    p.grid = ResampleToWholeWavenumbers(spectrum.shift, spectrum.intensity);
    if (p.grid.values.size() < 2) p.reason = "no Raman shift axis";
}

// What the index stores of a prepared spectrum, and the compact form and
// bands of exactly the values a search reads back.
void Encode(Prepared& p) {
    const std::size_t n = p.grid.values.size();
    p.start = p.grid.start;
    p.data.resize(2 * n);
    std::vector<float> comparison(n);
    const auto& table = ComparisonTable();
    for (std::size_t k = 0; k < n; ++k) {
        std::int16_t q = QuantizePrepared(p.grid.values[k]);
        PutI16(reinterpret_cast<std::uint8_t*>(p.data.data()) + 2 * k, q);
        comparison[k] = table[static_cast<std::uint16_t>(q)];
    }
    std::vector<std::uint8_t> coarse = CoarseForm(comparison.data(), n);
    p.coarse.assign(coarse.begin(), coarse.end());
    BandList bands = FindBands(p.grid.start, comparison.data(), n);
    p.bands.resize(8 * bands.positions.size());
    auto* out = reinterpret_cast<std::uint8_t*>(p.bands.data());
    for (std::size_t b = 0; b < bands.positions.size(); ++b) {
        PutU32(out + 8 * b, static_cast<std::uint32_t>(bands.positions[b]));
        std::uint32_t bits;
        std::memcpy(&bits, &bands.weights[b], 4);
        PutU32(out + 8 * b + 4, bits);
    }
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
    for (std::size_t i = 0; i < usable.size(); ++i) {
        usable[i]->grid = std::move(prepared[i]);
        if (usable[i]->grid.values.empty())
            usable[i]->reason = "no usable signal";
        else
            Encode(*usable[i]);
        usable[i]->grid = GridSpectrum{};
    }
}

// What a file of a listed folder is, by the rule the library grid lists
// by: a link that leads out of the folder, or anything but a regular file,
// is not read.
struct FileLook {
    enum Kind : std::uint8_t { Vanished, Regular, NotRegular, LinkOut } kind = Vanished;
    FileStamp stamp;
};

FileLook LookAtFile(int folderFd, const std::string& folder, const std::string& name) {
    FileLook look;
    struct stat st {};
    // Most files are no links: their lstat is their stat, taken relative to
    // the open folder, so a search of 100,000 files makes 100,000 calls
    // rather than 200,000, none of which walks the whole path again.
    if (folderFd >= 0) {
        if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return look; // gone since the listing
    }
    if (folderFd < 0 || S_ISLNK(st.st_mode)) {
        std::string path = folder + name;
        if (!LinkStaysInFolder(path)) {
            struct stat link {};
            if (::lstat(path.c_str(), &link) == 0) look.kind = FileLook::LinkOut;
            return look;
        }
        if (::stat(path.c_str(), &st) != 0) return look; // gone since the listing
    }
    look.kind = S_ISREG(st.st_mode) ? FileLook::Regular : FileLook::NotRegular;
    look.stamp = StampOf(st);
    return look;
}

// The files of a large folder are looked at on both halves of the list at
// once: the calls wait on the file system's caches, not on one another.
std::vector<FileLook> LookAtFiles(const std::string& folder, const std::vector<std::string>& names, unsigned threads) {
    std::vector<FileLook> looks(names.size());
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    auto look = [&](std::size_t first, std::size_t end) {
        for (std::size_t i = first; i < end; ++i)
            looks[i] = LookAtFile(fd, folder, names[i]);
    };
    constexpr std::size_t kFilesPerThread = 4096;
    const std::size_t parts =
        std::max<std::size_t>(1, std::min<std::size_t>(threads, names.size() / kFilesPerThread));
    const std::size_t share = (names.size() + parts - 1) / parts;
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < parts; ++t)
        pool.emplace_back(look, std::min(names.size(), t * share), std::min(names.size(), (t + 1) * share));
    look(0, std::min(names.size(), share));
    for (std::thread& t : pool)
        t.join();
    if (fd >= 0) ::close(fd);
    return looks;
}

class Statement {
public:
    Statement(sqlite3* db, const char* sql) { m_ok = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) == SQLITE_OK; }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool ok() const { return m_ok; }
    sqlite3_stmt* get() const { return m_stmt; }
    void reset() {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }

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

// Valid until the statement steps on.
std::string_view ColumnView(sqlite3_stmt* s, int column) {
    const unsigned char* text = sqlite3_column_text(s, column);
    int size = sqlite3_column_bytes(s, column);
    return text && size > 0 ? std::string_view(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size))
                            : std::string_view();
}

std::string ColumnBlob(sqlite3_stmt* s, int column) {
    const void* blob = sqlite3_column_blob(s, column);
    int size = sqlite3_column_bytes(s, column);
    return blob && size > 0 ? std::string(static_cast<const char*>(blob), static_cast<std::size_t>(size))
                            : std::string();
}

// Each row belongs to a file directly in its folder; anything else was not
// written by this program.
bool DirectlyIn(std::string_view folder, std::string_view path) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path.find('/', folder.size()) == std::string::npos;
}

std::string XdgCacheFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/') return std::string(cache) + "/veltrane/";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.cache/veltrane/";
}

bool CreateTables(sqlite3* db) {
    std::string sql = "PRAGMA application_id = " + std::to_string(kApplicationId) + ";";
    if (!Exec(db, sql.c_str()) || !Exec(db, kTables)) return false;
    Statement insert(db, "INSERT INTO meta(key, value) VALUES('format', ?)");
    if (!insert.ok()) return false;
    sqlite3_bind_text(insert.get(), 1, kFormatTag, -1, SQLITE_STATIC);
    return sqlite3_step(insert.get()) == SQLITE_DONE;
}

enum class IndexFileKind : std::uint8_t { Missing, Ours, Foreign, Unreachable };

// What the index path names, looked at without changing anything.
IndexFileKind ExamineIndexFile(const std::string& path, std::string& why) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return IndexFileKind::Missing;
        why = std::strerror(errno);
        return IndexFileKind::Unreachable;
    }
    if (!S_ISREG(st.st_mode)) return IndexFileKind::Foreign;
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return IndexFileKind::Unreachable;
    }
    std::uint8_t header[100] = {};
    ssize_t got = ::read(fd, header, sizeof header);
    ::close(fd);
    if (got != static_cast<ssize_t>(sizeof header) || std::memcmp(header, "SQLite format 3", 16) != 0)
        return IndexFileKind::Foreign;
    std::uint32_t id = 0;
    for (std::size_t i = 0; i < 4; ++i)
        id = id << 8 | header[kApplicationIdOffset + i];
    if (id == kApplicationId) return IndexFileKind::Ours;
    if (id != 0) return IndexFileKind::Foreign;
    // An index of an earlier version has no application id; its format row tells.
    sqlite3* db = nullptr;
    bool ours = false;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        Statement format(db, "SELECT value FROM meta WHERE key = 'format'");
        ours = format.ok() && sqlite3_step(format.get()) == SQLITE_ROW &&
               ColumnText(format.get(), 0).rfind(kFormatFamily, 0) == 0;
    }
    sqlite3_close_v2(db);
    return ours ? IndexFileKind::Ours : IndexFileKind::Foreign;
}

std::string RandomSuffix() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    char text[40];
    std::snprintf(text, sizeof text, ".%ld.%08llx", static_cast<long>(::getpid()),
                  static_cast<unsigned long long>(generator() & 0xFFFFFFFFu));
    return text;
}

// The decoded spectra of an index, read by key while a search scores its
// candidates.
class IndexStore : public StoredSpectra {
public:
    explicit IndexStore(std::shared_ptr<LibraryIndex::Connection> conn) : m_conn(std::move(conn)) {}
    void fetch(const std::vector<std::int64_t>& keys, std::vector<std::vector<float>>& values) const override;

private:
    std::shared_ptr<LibraryIndex::Connection> m_conn;
};

} // namespace

// One connection, shared by the index and the searches it loaded, which
// read spectra through it later; the mutex keeps them one at a time.
struct LibraryIndex::Connection {
    sqlite3* db = nullptr;
    std::mutex mutex;
    ~Connection() { sqlite3_close_v2(db); }
};

namespace {

void IndexStore::fetch(const std::vector<std::int64_t>& keys, std::vector<std::vector<float>>& values) const {
    values.assign(keys.size(), {});
    std::lock_guard<std::mutex> lock(m_conn->mutex);
    sqlite3* db = m_conn->db;
    // One read transaction for all: one lock taken, one consistent view.
    bool inTransaction = Exec(db, "BEGIN");
    std::vector<std::int64_t> damaged;
    {
        Statement select(db, "SELECT data FROM spectra WHERE id = ?");
        const auto& table = ComparisonTable();
        for (std::size_t k = 0; select.ok() && k < keys.size(); ++k) {
            select.reset();
            sqlite3_bind_int64(select.get(), 1, keys[k]);
            if (sqlite3_step(select.get()) != SQLITE_ROW || sqlite3_column_type(select.get(), 0) != SQLITE_BLOB)
                continue;
            const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(select.get(), 0));
            int size = sqlite3_column_bytes(select.get(), 0);
            if (!data || size < 4 || size % 2 != 0) {
                damaged.push_back(keys[k]);
                continue;
            }
            std::vector<float>& out = values[k];
            out.resize(static_cast<std::size_t>(size) / 2);
            // Stored spectra are rounded to steps of 1/32767 of their peak;
            // -32768 would lie beyond it and was not written by this program.
            bool bounded = true;
            for (std::size_t i = 0; i < out.size(); ++i) {
                std::int16_t q = GetI16(data + 2 * i);
                bounded &= q != INT16_MIN;
                out[i] = table[static_cast<std::uint16_t>(q)];
            }
            if (!bounded || out.size() > kMaxGridValues) {
                out.clear();
                damaged.push_back(keys[k]);
            }
        }
    }
    if (inTransaction) Exec(db, "COMMIT");
    // A damaged spectrum takes no part; without its row, the next update
    // prepares its file again.
    if (!damaged.empty() && Exec(db, "BEGIN IMMEDIATE")) {
        bool removed = true;
        {
            // Entries are not indexed by key (a search never looks one up
            // so): one pass over them finds the rows of every damaged key.
            std::set<std::int64_t> keys(damaged.begin(), damaged.end());
            std::vector<std::pair<std::string, std::string>> rows;
            Statement scan(db, "SELECT folder, path, id FROM entries WHERE id IS NOT NULL");
            while (scan.ok() && sqlite3_step(scan.get()) == SQLITE_ROW)
                if (keys.count(sqlite3_column_int64(scan.get(), 2)))
                    rows.emplace_back(ColumnText(scan.get(), 0), ColumnText(scan.get(), 1));
            Statement removeSpectrum(db, "DELETE FROM spectra WHERE id = ?");
            Statement removeEntry(db, "DELETE FROM entries WHERE folder = ? AND path = ?");
            removed = scan.ok() && removeSpectrum.ok() && removeEntry.ok();
            for (std::size_t k = 0; removed && k < damaged.size(); ++k) {
                removeSpectrum.reset();
                sqlite3_bind_int64(removeSpectrum.get(), 1, damaged[k]);
                removed = sqlite3_step(removeSpectrum.get()) == SQLITE_DONE;
            }
            for (std::size_t r = 0; removed && r < rows.size(); ++r) {
                removeEntry.reset();
                sqlite3_bind_text(removeEntry.get(), 1, rows[r].first.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(removeEntry.get(), 2, rows[r].second.c_str(), -1, SQLITE_TRANSIENT);
                removed = sqlite3_step(removeEntry.get()) == SQLITE_DONE;
            }
        }
        Exec(db, removed ? "COMMIT" : "ROLLBACK");
    }
}

} // namespace

std::string IndexNotKeptText(const std::string& reason) {
    return "The library index was not kept (" + reason + "); the libraries were searched without it.";
}

std::string IndexFolderKey(const std::string& folder) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::absolute(folder, ec), ec);
    std::string key = (ec ? std::filesystem::path(folder) : p).lexically_normal().string();
    if (key.empty() || key.back() != '/') key += '/';
    return key;
}

std::vector<std::string> DistinctFolders(const std::vector<std::string>& folders) {
    std::vector<std::string> distinct;
    std::set<std::pair<dev_t, ino_t>> seenNodes;
    std::set<std::string> seenKeys;
    for (const std::string& folder : folders) {
        std::string key = IndexFolderKey(folder);
        struct stat st {};
        bool known = ::stat(folder.c_str(), &st) == 0;
        if (known ? !seenNodes.insert({st.st_dev, st.st_ino}).second : false) continue;
        if (!seenKeys.insert(key).second) continue;
        distinct.push_back(folder);
    }
    return distinct;
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

LibraryIndex::~LibraryIndex() = default;

bool LibraryIndex::useMemory(const std::string& why) {
    if (m_notKept.empty()) m_notKept = why.empty() ? "unknown error" : why;
    m_needsRebuild = false;
    auto conn = std::make_shared<Connection>();
    if (sqlite3_open_v2(":memory:", &conn->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK ||
        !CreateTables(conn->db)) {
        m_conn.reset();
        return false;
    }
    m_conn = std::move(conn);
    return true;
}

namespace {

// A fresh, empty index under a name of its own beside `path`; empty when it
// could not be made (`why` says why).
std::string FreshIndexBeside(const std::string& path, std::string& why) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty() && !EnsureFolder(folder.string())) {
        why = "can not create folder " + folder.string();
        return {};
    }
    const std::string fresh = path + RandomSuffix();
    sqlite3* db = nullptr;
    bool made = sqlite3_open_v2(fresh.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
                                nullptr) == SQLITE_OK &&
                Exec(db, "PRAGMA page_size = 65536") && CreateTables(db);
    if (!made) why = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close_v2(db);
    if (!made) {
        ::unlink(fresh.c_str());
        return {};
    }
    return fresh;
}

} // namespace

bool LibraryIndex::createAtomically(std::string& why) {
    // Made whole under another name first: another process that finds the
    // path must never see a file that is not yet recognisably an index.
    const std::string fresh = FreshIndexBeside(m_path, why);
    if (fresh.empty()) return false;
    // link() never replaces: when another process put its index there
    // first, that one is used.
    bool placed = ::link(fresh.c_str(), m_path.c_str()) == 0 || errno == EEXIST;
    if (!placed) why = std::strerror(errno);
    ::unlink(fresh.c_str());
    return placed;
}

// SQLite cannot mend a file whose pages are damaged (a crash during a write
// with the disk cache off, a bad sector), and cannot even empty it: such a
// file of ours is replaced by a fresh index, once, so that searches do not
// all run in memory from then on. Processes that still have the old file
// open keep reading it; the rename never leaves the path without an index.
bool LibraryIndex::replaceDamaged(std::string& why) {
    if (ExamineIndexFile(m_path, why) != IndexFileKind::Ours) return false;
    const std::string fresh = FreshIndexBeside(m_path, why);
    if (fresh.empty()) return false;
    // A rollback journal left beside the damaged file would be played back
    // into the fresh one.
    ::unlink((m_path + "-journal").c_str());
    if (::rename(fresh.c_str(), m_path.c_str()) != 0) {
        why = std::strerror(errno);
        ::unlink(fresh.c_str());
        return false;
    }
    return true;
}

bool LibraryIndex::openChecked() {
    if (m_conn) return true;
    if (m_foreign) return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::string why;
        switch (ExamineIndexFile(m_path, why)) {
        case IndexFileKind::Foreign:
            m_foreign = true;
            return false;
        case IndexFileKind::Unreachable:
            return useMemory(why);
        case IndexFileKind::Missing:
            if (!createAtomically(why)) return useMemory(why);
            continue; // looked at again: it may be another process's
        case IndexFileKind::Ours:
            break;
        }
        auto conn = std::make_shared<Connection>();
        // The connection's own mutex keeps its users one at a time; SQLite's
        // would be taken again for every column of every row.
        if (sqlite3_open_v2(m_path.c_str(), &conn->db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
            std::string message = conn->db ? sqlite3_errmsg(conn->db) : "out of memory";
            return useMemory(message);
        }
        sqlite3_busy_timeout(conn->db, kBusyTimeoutMs);
        Exec(conn->db, kCachePragmas);
        Statement format(conn->db, "SELECT value FROM meta WHERE key = 'format'");
        bool current = format.ok() && sqlite3_step(format.get()) == SQLITE_ROW &&
                       sqlite3_column_type(format.get(), 0) == SQLITE_TEXT &&
                       ColumnText(format.get(), 0) == kFormatTag;
        if (current) {
            // The format row alone proves little; the tables must also have
            // the columns the statements below name.
            Statement probe(conn->db, "SELECT folder, path, device, inode, size, mtime, ctime, id, name, model, date, "
                                      "reason, start, count, coarse, bands FROM entries LIMIT 0");
            Statement spectra(conn->db, "SELECT id, data FROM spectra LIMIT 0");
            current = probe.ok() && spectra.ok();
        }
        m_needsRebuild = !current;
        m_conn = std::move(conn);
        return true;
    }
    return useMemory("the index file keeps changing");
}

bool LibraryIndex::rebuildInPlace() {
    sqlite3* db = m_conn->db;
    if (!Exec(db, "BEGIN IMMEDIATE")) return writeFailed(sqlite3_extended_errcode(db), sqlite3_errmsg(db));
    std::vector<std::string> tables;
    {
        Statement list(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%'");
        while (list.ok() && sqlite3_step(list.get()) == SQLITE_ROW)
            tables.push_back(ColumnText(list.get(), 0));
    }
    bool done = true;
    for (const std::string& table : tables) {
        std::string sql = "DROP TABLE \"" + table + "\"";
        done = done && Exec(db, sql.c_str());
    }
    done = done && CreateTables(db) && Exec(db, "COMMIT");
    if (!done) {
        // The rollback would overwrite the error that tells why.
        int code = sqlite3_extended_errcode(db);
        std::string message = sqlite3_errmsg(db);
        Exec(db, "ROLLBACK");
        return writeFailed(code, message);
    }
    m_needsRebuild = false;
    m_rebuilt = true;
    return true;
}

// The file cannot take what this search would write into it: the search
// goes on in memory. False when even that is impossible.
bool LibraryIndex::writeFailed(int code, const std::string& message) {
    const int primary = code & 0xFF;
    if ((primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) && !m_replacedDamaged && !m_foreign) {
        m_replacedDamaged = true;
        std::string why;
        m_conn.reset();
        if (replaceDamaged(why) && openChecked()) {
            m_rebuilt = true;
            return true;
        }
    }
    return useMemory(message);
}

IndexUpdate LibraryIndex::update(const std::vector<std::string>& folders, unsigned threads, IndexProgress* progress,
                                 const std::atomic<bool>* stop) {
    m_rebuilt = false;
    IndexUpdate report;
    // A file that fails part way is left for memory, where the update
    // starts over; memory does not fail that way twice.
    for (int attempt = 0; attempt < 3; ++attempt) {
        bool restart = false;
        report = updateOnce(folders, threads, progress, stop, restart);
        if (!restart) break;
    }
    report.rebuilt = report.rebuilt || m_rebuilt;
    report.foreign = m_foreign;
    report.notKept = m_notKept;
    if (m_foreign || !m_conn) report.ok = false;
    return report;
}

IndexUpdate LibraryIndex::updateOnce(const std::vector<std::string>& folders, unsigned threads,
                                     IndexProgress* progress, const std::atomic<bool>* stop, bool& restart) {
    IndexUpdate report;
    if (!openChecked()) {
        report.ok = false;
        return report;
    }
    if (m_needsRebuild && !rebuildInPlace()) {
        restart = static_cast<bool>(m_conn);
        report.ok = false;
        return report;
    }
    // Held here: a failed write replaces m_conn with memory, and this
    // connection must outlive its lock.
    std::shared_ptr<Connection> conn = m_conn;
    sqlite3* db = conn->db;
    std::lock_guard<std::mutex> connectionLock(conn->mutex);

    // What the folders hold now, against what the index holds for them.
    std::vector<Prepared> work;
    std::vector<std::pair<std::string, std::string>> gone; // folder, path
    m_listed.clear();
    m_irregular.clear();
    m_unreadable.clear();
    m_loadSize = {};
    bool damaged = false;
    Exec(db, "BEGIN");
    for (const std::string& folderText : DistinctFolders(folders)) {
        std::string folder = IndexFolderKey(folderText);
        std::vector<std::string> names;
        if (!ListMatching(folder, kLibraryPattern, names)) {
            // Rows of a folder that cannot be read are neither trusted nor dropped.
            m_unreadable.insert(folder);
            continue;
        }
        // In path order, new files are also prepared and written in it, so
        // a search later reads the rows in the order they lie in the file.
        std::sort(names.begin(), names.end());
        std::vector<FileLook> looks = LookAtFiles(folder, names, threads);

        // The folder's rows and its listing, both in path order, are
        // compared by walking them side by side: no lookup per file, and
        // nothing kept of a row but what differs.
        Statement rows(db, "SELECT path, device, inode, size, mtime, ctime, count, LENGTH(bands) FROM entries "
                           "WHERE folder = ? ORDER BY path");
        if (!rows.ok()) {
            damaged = true;
            break;
        }
        sqlite3_bind_text(rows.get(), 1, folder.c_str(), -1, SQLITE_TRANSIENT);
        std::string_view rowName; // the current row's file name, while there is one
        auto nextRow = [&] {
            rowName = {};
            int rc = sqlite3_step(rows.get());
            if (rc == SQLITE_DONE) return true;
            bool sound = rc == SQLITE_ROW && sqlite3_column_type(rows.get(), 0) == SQLITE_TEXT;
            for (int c = 1; sound && c <= 5; ++c)
                sound = sqlite3_column_type(rows.get(), c) == SQLITE_INTEGER;
            std::string_view path = sound ? ColumnView(rows.get(), 0) : std::string_view();
            if (!sound || !DirectlyIn(folder, path)) return false;
            rowName = path.substr(folder.size());
            return true;
        };
        auto dropRow = [&] {
            gone.emplace_back(folder, folder + std::string(rowName));
            return nextRow();
        };
        bool sound = nextRow();
        std::vector<IndexSkip>& irregular = m_irregular[folder];
        std::size_t listedCount = 0;
        for (std::size_t n = 0; sound && n < names.size(); ++n) {
            const FileLook& look = looks[n];
            if (look.kind == FileLook::Vanished) continue;
            if (look.kind != FileLook::Regular) {
                irregular.push_back({folder + names[n], look.kind == FileLook::LinkOut ? "link leads out of the folder"
                                                                                       : "not a regular file"});
                continue;
            }
            // Rows before this file are of files no longer listed.
            while (sound && !rowName.empty() && rowName < names[n])
                sound = dropRow();
            if (!sound) break;
            bool known = !rowName.empty() && rowName == names[n];
            bool same = known && FileStamp{sqlite3_column_int64(rows.get(), 1), sqlite3_column_int64(rows.get(), 2),
                                           sqlite3_column_int64(rows.get(), 3), sqlite3_column_int64(rows.get(), 4),
                                           sqlite3_column_int64(rows.get(), 5)} == look.stamp;
            std::int64_t count = known ? sqlite3_column_int64(rows.get(), 6) : 0;
            std::int64_t bandBytes = known ? sqlite3_column_int64(rows.get(), 7) : 0;
            if (known) sound = nextRow();
            if (same) {
                ++report.kept;
                m_loadSize.entries += 1;
                constexpr auto kMost = static_cast<std::int64_t>(kMaxGridValues);
                m_loadSize.coarseBytes +=
                    CoarseCount(static_cast<std::size_t>(std::clamp<std::int64_t>(count, 0, kMost)));
                m_loadSize.bandBytes += static_cast<std::size_t>(std::clamp<std::int64_t>(bandBytes, 0, 8 * kMost));
            } else {
                Prepared p;
                p.path = folder + names[n];
                p.folder = folder;
                p.stamp = look.stamp;
                work.push_back(std::move(p));
            }
            // The listing keeps the regular files' names, in place.
            if (listedCount != n) names[listedCount] = std::move(names[n]);
            ++listedCount;
        }
        while (sound && !rowName.empty())
            sound = dropRow();
        if (!sound) {
            damaged = true;
            break;
        }
        names.resize(listedCount);
        m_listed[folder] = std::move(names);
    }
    Exec(db, "COMMIT");
    m_loadSize.known = !damaged;
    if (damaged) {
        if (!rebuildInPlace()) {
            restart = static_cast<bool>(m_conn);
            report.ok = false;
            return report;
        }
        restart = true;
        return report;
    }

    // Writes in short transactions; returns false, with the file given up,
    // when the file cannot take them.
    auto failed = [&]() {
        // The rollback would overwrite the error that tells why.
        int code = sqlite3_extended_errcode(db);
        std::string message = sqlite3_errmsg(db);
        Exec(db, "ROLLBACK");
        writeFailed(code, message);
        restart = static_cast<bool>(m_conn);
        report.ok = false;
        return report;
    };
    if (!gone.empty()) {
        bool written = Exec(db, "BEGIN IMMEDIATE");
        {
            Statement removeSpectrum(
                db, "DELETE FROM spectra WHERE id = (SELECT id FROM entries WHERE folder = ? AND path = ?)");
            Statement removeEntry(db, "DELETE FROM entries WHERE folder = ? AND path = ?");
            written = written && removeSpectrum.ok() && removeEntry.ok();
            for (std::size_t g = 0; written && g < gone.size(); ++g) {
                for (Statement* s : {&removeSpectrum, &removeEntry}) {
                    s->reset();
                    sqlite3_bind_text(s->get(), 1, gone[g].first.c_str(), -1, SQLITE_TRANSIENT);
                    sqlite3_bind_text(s->get(), 2, gone[g].second.c_str(), -1, SQLITE_TRANSIENT);
                    written = written && sqlite3_step(s->get()) == SQLITE_DONE;
                }
            }
        }
        if (!written || !Exec(db, "COMMIT")) return failed();
    }

    if (progress) {
        progress->total.store(work.size(), std::memory_order_relaxed);
        progress->done.store(0, std::memory_order_relaxed);
    }
    // Files go to the workers eight at a time: arPLS solves spectra of
    // one length side by side faster than one after another. This
    // thread writes the batches in order as soon as they are done, so
    // writing overlaps preparing and prepared spectra do not pile up.
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

    // Each transaction holds the file only while its rows are written, so
    // other processes searching or building take turns with this one.
    constexpr std::size_t kRowsPerTransaction = 256;
    std::size_t finished = 0, written = 0;
    bool sound = true;
    {
        Statement existing(db,
                           "SELECT id, device, inode, size, mtime, ctime FROM entries WHERE folder = ? AND path = ?");
        Statement removeSpectrum(db, "DELETE FROM spectra WHERE id = ?");
        Statement removeEntry(db, "DELETE FROM entries WHERE folder = ? AND path = ?");
        Statement insert(db, "INSERT INTO entries(folder, path, device, inode, size, mtime, ctime, id, name, model, "
                             "date, reason, start, count, coarse, bands) "
                             "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        Statement insertSpectrum(db, "INSERT INTO spectra(data) VALUES(?)");
        sound = existing.ok() && removeSpectrum.ok() && removeEntry.ok() && insert.ok() && insertSpectrum.ok();
        auto bindKey = [](Statement& statement, const Prepared& p) {
            statement.reset();
            sqlite3_bind_text(statement.get(), 1, p.folder.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(statement.get(), 2, p.path.c_str(), -1, SQLITE_TRANSIENT);
        };
        auto writeRows = [&](std::size_t from, std::size_t to) {
            if (!Exec(db, "BEGIN IMMEDIATE")) return false;
            for (std::size_t i = from; i < to; ++i) {
                Prepared& p = work[i];
                bindKey(existing, p);
                int rc = sqlite3_step(existing.get());
                if (rc == SQLITE_ROW) {
                    FileStamp there{sqlite3_column_int64(existing.get(), 1), sqlite3_column_int64(existing.get(), 2),
                                    sqlite3_column_int64(existing.get(), 3), sqlite3_column_int64(existing.get(), 4),
                                    sqlite3_column_int64(existing.get(), 5)};
                    bool hasSpectrum = sqlite3_column_type(existing.get(), 0) == SQLITE_INTEGER;
                    std::int64_t id = sqlite3_column_int64(existing.get(), 0);
                    existing.reset();
                    // Another process indexed this very file meanwhile.
                    if (there == p.stamp) continue;
                    if (hasSpectrum) {
                        removeSpectrum.reset();
                        sqlite3_bind_int64(removeSpectrum.get(), 1, id);
                        if (sqlite3_step(removeSpectrum.get()) != SQLITE_DONE) return false;
                    }
                    bindKey(removeEntry, p);
                    if (sqlite3_step(removeEntry.get()) != SQLITE_DONE) return false;
                } else if (rc != SQLITE_DONE) {
                    return false;
                }
                // The spectrum first: its new key is the entry's.
                if (p.reason.empty()) {
                    insertSpectrum.reset();
                    sqlite3_bind_blob(insertSpectrum.get(), 1, p.data.data(), static_cast<int>(p.data.size()),
                                      SQLITE_STATIC);
                    if (sqlite3_step(insertSpectrum.get()) != SQLITE_DONE) return false;
                }
                sqlite3_stmt* s = insert.get();
                bindKey(insert, p);
                sqlite3_bind_int64(s, 3, p.stamp.device);
                sqlite3_bind_int64(s, 4, p.stamp.inode);
                sqlite3_bind_int64(s, 5, p.stamp.size);
                sqlite3_bind_int64(s, 6, p.stamp.mtime);
                sqlite3_bind_int64(s, 7, p.stamp.ctime);
                sqlite3_bind_blob(s, 9, p.name.data(), static_cast<int>(p.name.size()), SQLITE_TRANSIENT);
                sqlite3_bind_int(s, 10, p.model);
                sqlite3_bind_text(s, 11, p.date.c_str(), -1, SQLITE_TRANSIENT);
                if (!p.reason.empty()) {
                    sqlite3_bind_text(s, 12, p.reason.c_str(), -1, SQLITE_TRANSIENT);
                } else {
                    sqlite3_bind_int64(s, 8, sqlite3_last_insert_rowid(db));
                    sqlite3_bind_int64(s, 13, p.start);
                    sqlite3_bind_int64(s, 14, static_cast<std::int64_t>(p.data.size() / 2));
                    sqlite3_bind_blob(s, 15, p.coarse.data(), static_cast<int>(p.coarse.size()), SQLITE_STATIC);
                    sqlite3_bind_blob(s, 16, p.bands.data(), static_cast<int>(p.bands.size()), SQLITE_STATIC);
                }
                if (sqlite3_step(s) != SQLITE_DONE) return false;
                m_loadSize.entries += 1;
                m_loadSize.coarseBytes += p.coarse.size();
                m_loadSize.bandBytes += p.bands.size();
            }
            return Exec(db, "COMMIT");
        };
        for (std::size_t batch = 0; sound && batch < batches; ++batch) {
            {
                std::unique_lock<std::mutex> lock(mutex);
                ready.wait(lock, [&] { return batchDone[batch] || idle == count; });
                // Batches are taken in order: once the workers are gone,
                // the first one not done marks the end of the work done.
                if (!batchDone[batch]) break;
            }
            finished = std::min(work.size(), (batch + 1) * kBatch);
            if (finished - written >= kRowsPerTransaction || finished == work.size()) {
                sound = writeRows(written, finished);
                for (std::size_t i = written; sound && i < finished; ++i)
                    work[i] = Prepared{};
                if (sound) written = finished;
            }
        }
        if (sound && written < finished) {
            sound = writeRows(written, finished);
            if (sound) written = finished;
        }
    }
    abandon.store(true, std::memory_order_relaxed);
    for (std::thread& t : pool)
        t.join();
    if (!sound) return failed();

    // Folders that no longer exist (a temporary folder, an unplugged
    // drive) would otherwise keep their rows for ever.
    std::vector<std::string> vanished;
    {
        Statement folderRows(db, "SELECT DISTINCT folder FROM entries");
        while (folderRows.ok() && sqlite3_step(folderRows.get()) == SQLITE_ROW)
            if (!FolderExists(ColumnText(folderRows.get(), 0))) vanished.push_back(ColumnText(folderRows.get(), 0));
    }
    if (!vanished.empty()) {
        bool ok = Exec(db, "BEGIN IMMEDIATE");
        {
            Statement removeSpectra(db, "DELETE FROM spectra WHERE id IN (SELECT id FROM entries WHERE folder = ?)");
            Statement removeFolder(db, "DELETE FROM entries WHERE folder = ?");
            for (const std::string& folder : vanished) {
                for (Statement* s : {&removeSpectra, &removeFolder}) {
                    s->reset();
                    sqlite3_bind_text(s->get(), 1, folder.c_str(), -1, SQLITE_TRANSIENT);
                    ok = ok && s->ok() && sqlite3_step(s->get()) == SQLITE_DONE;
                }
            }
        }
        if (!ok || !Exec(db, "COMMIT")) return failed();
    }
    report.processed = written;
    report.dropped = gone.size();
    return report;
}

bool LibraryIndex::load(const std::vector<std::string>& folders, IndexedLibrary& out) {
    out.prepared.clear();
    out.info.clear();
    out.skipped.clear();
    if (!openChecked()) return false;
    if (m_needsRebuild) return false;
    std::shared_ptr<Connection> conn = m_conn;
    sqlite3* db = conn->db;
    bool damaged = false, incomplete = false;
    {
        std::lock_guard<std::mutex> connectionLock(conn->mutex);
        // One read transaction: a consistent view while other processes write.
        Exec(db, "BEGIN");
        // The buffers are sized once: grown row by row, 100,000 entries'
        // compact forms would be copied over and over. Counting the rows
        // costs a pass over the whole file, which the update just made.
        LoadSize size = m_loadSize;
        if (!size.known) {
            Statement count(db, "SELECT COUNT(*), SUM(LENGTH(coarse)), SUM(LENGTH(bands)) FROM entries");
            if (count.ok() && sqlite3_step(count.get()) == SQLITE_ROW) {
                std::int64_t rows = sqlite3_column_int64(count.get(), 0), bytes = sqlite3_column_int64(count.get(), 1),
                             bandBytes = sqlite3_column_int64(count.get(), 2);
                if (rows > 0 && rows < 10000000 && bytes > 0 && bytes < (std::int64_t{1} << 34) && bandBytes >= 0 &&
                    bandBytes < (std::int64_t{1} << 34))
                    size = {true, static_cast<std::size_t>(rows), static_cast<std::size_t>(bytes),
                            static_cast<std::size_t>(bandBytes)};
            }
        }
        if (size.entries > 0) {
            out.prepared.reserve(size.entries, size.coarseBytes, size.bandBytes / 8);
            out.info.reserve(size.entries);
            AdviseHugePages(out.info.data(), out.info.capacity() * sizeof(IndexedEntryInfo));
        }
        struct FileHash {
            std::size_t operator()(const std::pair<std::int64_t, std::int64_t>& f) const {
                return std::hash<std::int64_t>()(f.second * 1000003 + f.first);
            }
        };
        std::unordered_set<std::pair<std::int64_t, std::int64_t>, FileHash> seenFiles;
        seenFiles.reserve(out.info.capacity());
        BandList bands;
        for (const std::string& folderText : DistinctFolders(folders)) {
            std::string folder = IndexFolderKey(folderText);
            if (m_unreadable.count(folder)) continue;
            auto listed = m_listed.find(folder);
            // The rows come in path order, as the listing was kept: a row's
            // file is looked for by walking the listing alongside.
            std::size_t nextListed = 0, found = 0;
            Statement rows(db, "SELECT id, path, name, model, date, reason, start, count, coarse, bands, device, "
                               "inode FROM entries WHERE folder = ? ORDER BY path");
            bool sound = rows.ok();
            if (sound) sqlite3_bind_text(rows.get(), 1, folder.c_str(), -1, SQLITE_TRANSIENT);
            int rc = SQLITE_DONE;
            while (sound && (rc = sqlite3_step(rows.get())) == SQLITE_ROW) {
                sqlite3_stmt* s = rows.get();
                int nameType = sqlite3_column_type(s, 2);
                if (sqlite3_column_type(s, 1) != SQLITE_TEXT || (nameType != SQLITE_BLOB && nameType != SQLITE_NULL) ||
                    sqlite3_column_type(s, 3) != SQLITE_INTEGER || sqlite3_column_type(s, 4) != SQLITE_TEXT) {
                    sound = false;
                    break;
                }
                std::string_view path = ColumnView(s, 1), date = ColumnView(s, 4);
                std::size_t nameSize = static_cast<std::size_t>(sqlite3_column_bytes(s, 2));
                std::int64_t model = sqlite3_column_int64(s, 3);
                if (nameSize > kNameFieldSize || model < 0 || model > 0xFFFF || date.size() > 64 ||
                    !DirectlyIn(folder, path)) {
                    sound = false;
                    break;
                }
                // A row of a file listed no more is another process's view
                // of a later folder, or of an earlier one; either way not ours.
                if (listed != m_listed.end()) {
                    const std::vector<std::string>& files = listed->second;
                    std::string_view name = path.substr(folder.size());
                    while (nextListed < files.size() && files[nextListed] < name)
                        ++nextListed;
                    if (nextListed == files.size() || files[nextListed] != name) continue;
                    ++nextListed;
                    ++found;
                }
                IndexedEntryInfo info;
                info.path = path;
                std::string name = ColumnBlob(s, 2);
                info.date = date;
                // The same file twice (a link beside it in the folder) is searched once.
                if (!seenFiles.insert({sqlite3_column_int64(s, 10), sqlite3_column_int64(s, 11)}).second) continue;
                info.name = std::move(name);
                info.modelCode = static_cast<std::uint16_t>(model);
                if (sqlite3_column_type(s, 5) == SQLITE_TEXT) {
                    out.skipped.push_back({info.path, ColumnText(s, 5)});
                    continue;
                }
                if (sqlite3_column_type(s, 0) != SQLITE_INTEGER || sqlite3_column_type(s, 5) != SQLITE_NULL ||
                    sqlite3_column_type(s, 6) != SQLITE_INTEGER || sqlite3_column_type(s, 7) != SQLITE_INTEGER ||
                    sqlite3_column_type(s, 8) != SQLITE_BLOB ||
                    (sqlite3_column_type(s, 9) != SQLITE_BLOB && sqlite3_column_type(s, 9) != SQLITE_NULL)) {
                    sound = false;
                    break;
                }
                std::int64_t start = sqlite3_column_int64(s, 6), count = sqlite3_column_int64(s, 7);
                const auto* coarse = static_cast<const std::uint8_t*>(sqlite3_column_blob(s, 8));
                std::size_t coarseSize = static_cast<std::size_t>(sqlite3_column_bytes(s, 8));
                const auto* bandBytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(s, 9));
                std::size_t bandSize = static_cast<std::size_t>(sqlite3_column_bytes(s, 9));
                if (start < -kMaxGridStart || start > kMaxGridStart || count < 2 ||
                    static_cast<std::uint64_t>(count) > kMaxGridValues || !coarse ||
                    coarseSize != CoarseCount(static_cast<std::size_t>(count)) || bandSize % 8 != 0 ||
                    bandSize / 8 > static_cast<std::size_t>(count)) {
                    sound = false;
                    break;
                }
                bands.positions.clear();
                bands.weights.clear();
                for (std::size_t b = 0; b < bandSize / 8; ++b) {
                    auto position = static_cast<std::int32_t>(GetU32(bandBytes + 8 * b));
                    std::uint32_t bits = GetU32(bandBytes + 8 * b + 4);
                    float weight;
                    std::memcpy(&weight, &bits, 4);
                    bool inOrder = bands.positions.empty() || position > bands.positions.back();
                    if (!inOrder || position < start || position >= start + count || !(weight > 0.0f) ||
                        !(weight <= 1.0f)) {
                        sound = false;
                        break;
                    }
                    bands.positions.push_back(position);
                    bands.weights.push_back(weight);
                }
                if (!sound) break;
                out.prepared.addStored(static_cast<std::int32_t>(start), static_cast<std::size_t>(count),
                                       sqlite3_column_int64(s, 0), coarse, bands);
                out.info.push_back(std::move(info));
            }
            if (!sound || rc != SQLITE_DONE) {
                damaged = true;
                break;
            }
            // A listed file without a row: another process emptied the
            // index since this one's update.
            if (listed != m_listed.end() && found != listed->second.size()) incomplete = true;
            auto irregular = m_irregular.find(folder);
            if (irregular != m_irregular.end())
                out.skipped.insert(out.skipped.end(), irregular->second.begin(), irregular->second.end());
        }
        Exec(db, "COMMIT");
    }
    if (damaged || incomplete) {
        if (damaged) m_needsRebuild = true;
        out.prepared.clear();
        out.info.clear();
        out.skipped.clear();
        return false;
    }
    out.prepared.setStore(std::make_shared<IndexStore>(m_conn));
    return true;
}

bool LibraryIndex::refresh(const std::vector<std::string>& folders, IndexedLibrary& out, unsigned threads,
                           IndexProgress* progress, const std::atomic<bool>* stop, IndexUpdate* report) {
    bool rebuilt = false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        // The last try is in memory, where nobody else can empty the index.
        if (attempt == 2 && !useMemory("the index kept changing during the search")) break;
        IndexUpdate done = update(folders, threads, progress, stop);
        rebuilt = rebuilt || done.rebuilt || m_needsRebuild;
        done.rebuilt = rebuilt;
        if (report) *report = done;
        if (!done.ok) return false;
        if (load(folders, out)) return true;
    }
    if (report) report->ok = false;
    return false;
}

} // namespace veltrane
