#pragma once

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace veltrane::test {

// Every regular file below a folder with its bytes, by path relative to it.
using FolderSnapshot = std::map<std::string, std::string>;

inline FolderSnapshot SnapshotFolder(const std::string& folder) {
    namespace fs = std::filesystem;
    FolderSnapshot files;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        files[fs::relative(entry.path(), folder).string()] = bytes.str();
    }
    return files;
}

// A disk that fills up mid-write: every write past `bytes` into a file fails
// (EFBIG, the signal ignored) for as long as the guard lives. The limit holds
// for root as well, and for every thread of the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limited = m_old;
        limited.rlim_cur = bytes;
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

// A folder that may be read but not written: mode 0555 (or `mode`, such as
// none at all for a folder that cannot even be listed). Root passes over
// folder permissions through CAP_DAC_OVERRIDE, so under root the calling
// thread also gives up that capability (and CAP_DAC_READ_SEARCH) from its
// effective set while the guard lives; threads it starts meanwhile inherit
// that. The guard checks that a file really cannot be created there and
// fails the test otherwise, so a run as root never passes by doing nothing.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(std::string folder, std::filesystem::perms mode = std::filesystem::perms::owner_read |
                                                                              std::filesystem::perms::owner_exec |
                                                                              std::filesystem::perms::group_read |
                                                                              std::filesystem::perms::group_exec |
                                                                              std::filesystem::perms::others_read |
                                                                              std::filesystem::perms::others_exec)
        : m_folder(std::move(folder)) {
        namespace fs = std::filesystem;
        fs::permissions(m_folder, mode);
        if (geteuid() == 0) {
            m_header.version = _LINUX_CAPABILITY_VERSION_3;
            m_header.pid = 0;
            if (syscall(SYS_capget, &m_header, m_saved) != 0) {
                ADD_FAILURE() << "capget failed";
                return;
            }
            __user_cap_data_struct reduced[_LINUX_CAPABILITY_U32S_3];
            std::copy(std::begin(m_saved), std::end(m_saved), std::begin(reduced));
            reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
            m_dropped = syscall(SYS_capset, &m_header, reduced) == 0;
            EXPECT_TRUE(m_dropped) << "capset failed";
        }
        std::string probe = m_folder + "/.write-probe";
        if (std::FILE* f = std::fopen(probe.c_str(), "wb")) {
            std::fclose(f);
            std::remove(probe.c_str());
            ADD_FAILURE() << "the folder " << m_folder << " is still writable: the test would prove nothing";
        }
    }
    ~ReadOnlyFolder() {
        if (m_dropped) syscall(SYS_capset, &m_header, m_saved);
        std::error_code ec;
        std::filesystem::permissions(m_folder, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     ec);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

private:
    std::string m_folder;
    __user_cap_header_struct m_header{};
    __user_cap_data_struct m_saved[_LINUX_CAPABILITY_U32S_3]{};
    bool m_dropped = false;
};

// Nodes that no reader may open and no write may replace, made in `folder`:
// a FIFO always, and as root a character device with the null device's
// numbers (only root may create one; it is never opened). Each is listed
// with its type and device number, to check it is still the same node after.
struct SpecialNode {
    std::string path;
    mode_t type;
    dev_t device;
};

inline std::vector<SpecialNode> MakeSpecialNodes(const std::string& folder) {
    std::vector<SpecialNode> nodes;
    std::string fifo = folder + "fifo";
    EXPECT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    nodes.push_back({fifo, S_IFIFO, 0});
    if (::geteuid() == 0) {
        std::string device = folder + "null-node";
        EXPECT_EQ(::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
        nodes.push_back({device, S_IFCHR, ::makedev(1, 3)});
    }
    return nodes;
}

inline bool StillTheSameNode(const SpecialNode& node) {
    struct stat st {};
    return ::lstat(node.path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == node.type && st.st_rdev == node.device;
}

// Files whose name tells they are a write's temporary, left behind.
inline std::size_t TemporaryFiles(const FolderSnapshot& files) {
    std::size_t count = 0;
    for (const auto& [name, bytes] : files)
        if (name.find(".tmp") != std::string::npos) ++count;
    return count;
}

} // namespace veltrane::test
