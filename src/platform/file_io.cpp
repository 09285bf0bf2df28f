#include "platform/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>

#include "platform/file_calls.h"

namespace veltrane {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kTemporaryMark = ".tmp.veltrane.";

class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    // Closing is where some file systems report a failed write.
    bool close() {
        int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

std::string folderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string fileNameOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A link in a listed folder may only lead to a file below that folder.
bool linkStaysInFolder(const std::string& path, std::string& resolved) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0) return false;
    resolved = path;
    if (!S_ISLNK(link.st_mode)) return true;
    std::error_code ec;
    fs::path target = fs::canonical(path, ec);
    if (ec) return false;
    fs::path folder = fs::canonical(folderOf(path), ec);
    if (ec) return false;
    std::string prefix = folder.string();
    if (prefix.back() != '/') prefix.push_back('/');
    resolved = target.string();
    return resolved.compare(0, prefix.size(), prefix) == 0;
}

bool writeAll(int fd, std::string_view content) {
    while (!content.empty()) {
        ssize_t written = ActiveFileCalls().write(fd, content.data(), content.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::string temporaryName(const std::string& target) {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    static constexpr char kHex[] = "0123456789abcdef";
    std::uint64_t bits = generator();
    std::string name = target + std::string(kTemporaryMark) + std::to_string(::getpid()) + ".";
    for (int i = 0; i < 8; ++i, bits >>= 4)
        name += kHex[bits & 0xF];
    return name;
}

// A temporary whose writer was killed stays for ever unless someone removes
// it. Only this program's own, for this target, owned by this user and left
// by a process that no longer runs, are taken away.
void removeStaleTemporaries(const std::string& target) {
    const std::string folder = folderOf(target);
    const std::string base = fileNameOf(target);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir) return;
    const long self = static_cast<long>(::getpid());
    while (dirent* entry = ::readdir(dir.get())) {
        long pid = 0;
        if (!IsOwnTemporaryName(entry->d_name, base, &pid) || pid == self) continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
        ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
    }
}

} // namespace

bool IsOwnTemporaryName(const std::string& fileName, const std::string& targetFileName, long* pid) {
    std::string_view name = fileName;
    if (name.substr(0, targetFileName.size()) != targetFileName) return false;
    name.remove_prefix(targetFileName.size());
    if (name.substr(0, kTemporaryMark.size()) != kTemporaryMark) return false;
    name.remove_prefix(kTemporaryMark.size());
    std::size_t dot = name.find('.');
    if (dot == 0 || dot == std::string_view::npos || dot > 10 || name.size() - dot - 1 != 8) return false;
    long value = 0;
    for (char c : name.substr(0, dot)) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    for (char c : name.substr(dot + 1))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    if (value <= 0) return false;
    if (pid) *pid = value;
    return true;
}

namespace {

bool WriteAtomically(const std::string& requestedPath, std::string_view content, bool single) {
    std::error_code ec;
    std::string target = requestedPath;
    // Through a symbolic link, replace the file it points at, not the link.
    if (fs::is_symlink(fs::symlink_status(requestedPath, ec))) {
        const fs::path resolved = fs::weakly_canonical(requestedPath, ec);
        if (ec) return false;
        target = resolved.string();
    }
    // A rename over a device node or a FIFO would put a plain file in its
    // place: as root, "-o /dev/null" would break the whole system.
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode)) return false;

    if (single) removeStaleTemporaries(target);

    std::string tempPath;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        tempPath = temporaryName(target);
        // O_EXCL fails rather than reuse a name in use.
        fd = ActiveFileCalls().open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return false;
    Descriptor file(fd);

    bool ok = writeAll(file.get(), content);
    if (ok && existed) ::fchmod(file.get(), old.st_mode & 07777); // a failure here only loses the old mode
    // On the disk before the rename makes it the file: otherwise a power cut
    // soon after could leave the new name on an empty file.
    ok = ok && (!single || ActiveFileCalls().fsync(file.get()) == 0);
    ok = file.close() && ok;
    if (ok) {
        // Something else may have taken the name meanwhile.
        struct stat now {};
        if (::lstat(target.c_str(), &now) == 0 && !S_ISREG(now.st_mode)) ok = false;
    }
    ok = ok && ActiveFileCalls().rename(tempPath.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(tempPath.c_str());
    return ok;
}

} // namespace

bool WriteFileAtomically(const std::string& path, std::string_view content) {
    return WriteAtomically(path, content, true);
}

bool WriteFileAtomicallyInBatch(const std::string& path, std::string_view content) {
    return WriteAtomically(path, content, false);
}

bool SyncFolder(const std::string& folder) {
    Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.get() >= 0 && ::syncfs(dir.get()) == 0;
}

LoadResult ReadFile(const std::string& path, std::string& content, const ReadLimits& limits) {
    // Checked before opening: opening a FIFO waits for a writer, and opening
    // some devices acts on them.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? LoadResult::Missing : LoadResult::Failed;
    if (!S_ISREG(st.st_mode)) return LoadResult::NotRegular;
    std::string openPath = path;
    if (limits.withinFolder && !linkStaysInFolder(path, openPath)) return LoadResult::NotRegular;

    // Never blocks, even if a FIFO was put in the file's place since.
    Descriptor file(ActiveFileCalls().open(openPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0));
    if (file.get() < 0) return errno == ENOENT ? LoadResult::Missing : LoadResult::Failed;
    if (::fstat(file.get(), &st) != 0) return LoadResult::Failed;
    if (!S_ISREG(st.st_mode)) return LoadResult::NotRegular;
    const std::size_t size = static_cast<std::size_t>(st.st_size);
    if (size > limits.maxBytes && !limits.firstBytesOnly) return LoadResult::TooLarge;

    // One byte past the limit tells a file that grew since fstat.
    const std::size_t wanted = limits.firstBytesOnly ? limits.maxBytes : limits.maxBytes + 1;
    std::string bytes;
    bytes.resize(std::min(wanted, size + 1));
    std::size_t got = 0;
    while (got < wanted) {
        if (got == bytes.size()) bytes.resize(std::min(wanted, bytes.size() * 2 + 4096));
        ssize_t n = ::read(file.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return LoadResult::Failed;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got > limits.maxBytes) return LoadResult::TooLarge;
    bytes.resize(got);
    content = std::move(bytes);
    return LoadResult::Loaded;
}

bool LinkStaysInFolder(const std::string& path) {
    std::string resolved;
    return linkStaysInFolder(path, resolved);
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) == 0)
        return ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    std::error_code ea, eb;
    fs::path pa = fs::weakly_canonical(fs::absolute(a, ea), ea);
    fs::path pb = fs::weakly_canonical(fs::absolute(b, eb), eb);
    return !ea && !eb && pa == pb;
}

const char* OutputRefusal(const std::string& output, const std::vector<std::string>& inputs) {
    struct stat st {};
    if (::stat(output.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return kNotRegularFileMessage;
    for (const std::string& input : inputs)
        if (SameFile(output, input)) return kOutputIsInputMessage;
    return nullptr;
}

bool FlushStandardOutput() {
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

} // namespace veltrane
