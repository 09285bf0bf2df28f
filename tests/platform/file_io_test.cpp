#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/display_text.h"
#include "platform/file_calls.h"
#include "platform/file_io.h"
#include "platform/ini_file.h"
#include "support/file_faults.h"
#include "support/temp_dir.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The opens, writes, fsyncs and renames file_io makes while it lives, as
// "open PATH", "write PATH BYTES", "fsync PATH" and "rename FROM -> TO" (a
// descriptor shown as the path it was opened with). The call named by
// `failing` fails with EIO instead of reaching the kernel. What these calls
// do leaves no trace in any file (a FIFO opened and closed, bytes not yet on
// the disk), so the tests below look at them through the platform's seam.
class FileCallLog {
public:
    FileCallLog() : m_saved(ActiveFileCalls()) {
        s_log = this;
        ActiveFileCalls() = {&Open, &WriteBytes, &Fsync, &Rename};
    }
    ~FileCallLog() {
        ActiveFileCalls() = m_saved;
        s_log = nullptr;
    }
    FileCallLog(const FileCallLog&) = delete;
    FileCallLog& operator=(const FileCallLog&) = delete;

    std::vector<std::string> calls;
    std::string failing;

private:
    bool fails(const std::string& call) {
        if (failing != call) return false;
        errno = EIO;
        return true;
    }
    static int Open(const char* path, int flags, mode_t mode) {
        s_log->calls.push_back(std::string("open ") + path);
        int fd = s_log->fails("open") ? -1 : SystemFileCalls().open(path, flags, mode);
        if (fd >= 0) s_log->m_paths[fd] = path;
        return fd;
    }
    static ssize_t WriteBytes(int fd, const void* data, std::size_t size) {
        s_log->calls.push_back("write " + s_log->m_paths[fd] + " " + std::to_string(size));
        return s_log->fails("write") ? -1 : SystemFileCalls().write(fd, data, size);
    }
    static int Fsync(int fd) {
        s_log->calls.push_back("fsync " + s_log->m_paths[fd]);
        return s_log->fails("fsync") ? -1 : SystemFileCalls().fsync(fd);
    }
    static int Rename(const char* from, const char* to) {
        s_log->calls.push_back(std::string("rename ") + from + " -> " + to);
        return s_log->fails("rename") ? -1 : SystemFileCalls().rename(from, to);
    }
    static inline FileCallLog* s_log = nullptr;
    FileCalls m_saved;
    std::map<int, std::string> m_paths;
};

// These run under a ctest time limit: a reader that opened a FIFO
// would wait for a writer for ever, and one that read /dev/zero would fill
// the memory.
TEST(SpecialFiles, ReadersRefuseFifosDevicesAndFoldersWithoutOpeningThem) {
    test::TempDir dir;
    std::vector<std::string> paths = {"/dev/zero", "/dev/urandom", dir.path()};
    for (const test::SpecialNode& node : test::MakeSpecialNodes(dir.path()))
        paths.push_back(node.path);
    fs::create_symlink(dir.path() + "fifo", dir.path() + "link-to-fifo");
    paths.push_back(dir.path() + "link-to-fifo");
    FileCallLog log;
    for (const std::string& path : paths) {
        std::string content = "untouched";
        EXPECT_EQ(ReadWholeFile(path, content), LoadResult::NotRegular) << path;
        EXPECT_EQ(ReadFile(path, content, {.maxBytes = 120, .firstBytesOnly = true}), LoadResult::NotRegular) << path;
        EXPECT_EQ(ReadFile(path, content, {.withinFolder = true}), LoadResult::NotRegular) << path;
        EXPECT_EQ(content, "untouched");
        // The settings file: defaults, and no write that would replace it.
        IniFile ini(path);
        EXPECT_EQ(ini.readInteger("Form", "file", 255), 255) << path;
        EXPECT_FALSE(ini.writeString("Form", "file", "1")) << path;
    }
    // Refused by the open's own descriptor would be too late: opening alone
    // releases a FIFO's writer and acts on some devices.
    EXPECT_EQ(log.calls, std::vector<std::string>{});
    Write(dir.path() + "plain", "x");
    std::string content;
    EXPECT_EQ(ReadWholeFile(dir.path() + "plain", content), LoadResult::Loaded);
    EXPECT_EQ(log.calls, std::vector<std::string>{"open " + dir.path() + "plain"});
}

TEST(SpecialFiles, AtomicWritesReplaceOnlyRegularFiles) {
    test::TempDir dir;
    std::vector<test::SpecialNode> nodes = test::MakeSpecialNodes(dir.path());
    fs::create_symlink(dir.path() + "fifo", dir.path() + "link-to-fifo");
    fs::create_directories(dir.path() + "folder");
    std::vector<std::string> targets = {dir.path() + "link-to-fifo", dir.path() + "folder"};
    for (const test::SpecialNode& node : nodes)
        targets.push_back(node.path);
    {
        FileCallLog log;
        for (const std::string& target : targets)
            EXPECT_FALSE(WriteFileAtomically(target, "data")) << target;
        EXPECT_EQ(log.calls, std::vector<std::string>{}); // not even a temporary
    }
    for (const test::SpecialNode& node : nodes)
        EXPECT_TRUE(test::StillTheSameNode(node)) << node.path;
    EXPECT_TRUE(fs::is_symlink(dir.path() + "link-to-fifo"));
    EXPECT_TRUE(fs::is_directory(dir.path() + "folder"));
    EXPECT_EQ(test::TemporaryFiles(test::SnapshotFolder(dir.path())), 0u);

    // A regular file, and one through a link, are still replaced.
    Write(dir.path() + "plain", "old");
    fs::create_symlink(dir.path() + "plain", dir.path() + "link-to-plain");
    EXPECT_TRUE(WriteFileAtomically(dir.path() + "link-to-plain", "new"));
    EXPECT_TRUE(fs::is_symlink(dir.path() + "link-to-plain"));
    EXPECT_EQ(test::SnapshotFolder(dir.path()).at("plain"), "new");
}

TEST(FileIo, LinksInAListedFolderAreFollowedOnlyToFilesInsideIt) {
    test::TempDir dir;
    const std::string lib = dir.path() + "lib/";
    fs::create_directories(lib + "archive");
    Write(dir.path() + "secret", "outside");
    Write(lib + "a.rlb", "inside");
    Write(lib + "archive/b.rlb", "below");
    fs::create_symlink("a.rlb", lib + "same.rlb");
    fs::create_symlink(lib + "archive/b.rlb", lib + "below.rlb");
    fs::create_symlink("../secret", lib + "up.rlb");
    fs::create_symlink(dir.path() + "secret", lib + "absolute.rlb");
    fs::create_symlink("archive/../../secret", lib + "devious.rlb");
    // A sibling whose name begins with the folder's: "lib2/" is not inside "lib/".
    fs::create_directories(dir.path() + "lib2");
    Write(dir.path() + "lib2/Secret.rlb", "beside");
    fs::create_symlink("../lib2/Secret.rlb", lib + "sibling.rlb");
    const std::vector<std::pair<std::string, LoadResult>> cases = {
        {"a.rlb", LoadResult::Loaded},
        {"same.rlb", LoadResult::Loaded},
        {"below.rlb", LoadResult::Loaded},
        {"up.rlb", LoadResult::NotRegular},
        {"absolute.rlb", LoadResult::NotRegular},
        {"devious.rlb", LoadResult::NotRegular},
        {"sibling.rlb", LoadResult::NotRegular},
        {"none.rlb", LoadResult::Missing},
    };
    for (const auto& [name, expected] : cases) {
        std::string content;
        EXPECT_EQ(ReadFile(lib + name, content, {.withinFolder = true}), expected) << name;
    }
    // A path named on purpose (a command-line argument) may lead anywhere.
    std::string content;
    EXPECT_EQ(ReadWholeFile(lib + "up.rlb", content), LoadResult::Loaded);
    EXPECT_EQ(content, "outside");
}

TEST(FileIo, StaleTemporariesOfTheProgramAreRemovedAndNothingElse) {
    test::TempDir dir;
    const std::string target = dir.path() + "veltrane.ini";
    Write(target, "old");
    // A writer killed in the middle of its write, as by kill -9: the file size
    // limit's signal ends the child at its first write past 16 bytes.
    pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_DFL);
        rlimit limit{16, 16};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        WriteFileAtomically(target, std::string(4096, 'x'));
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (IsOwnTemporaryName(entry.path().filename().string(), "veltrane.ini")) left.push_back(entry.path());
    ASSERT_EQ(left.size(), 1u);

    // Names the program must leave alone: a live process's write (init's pid),
    // another file's temporary, and other programs' files.
    const std::vector<std::string> others = {
        "veltrane.ini.tmp.veltrane.1.0123abcd",   "local.ini.tmp.veltrane.999999.0123abcd",  "veltrane.ini.tmp01234567",
        "veltrane.ini.tmp.veltrane.12x.0123abcd", "veltrane.ini.tmp.veltrane.1234.0123ABCD", "veltrane.ini~"};
    for (const std::string& name : others)
        Write(dir.path() + name, "keep");
    EXPECT_TRUE(WriteFileAtomically(target, "new"));
    EXPECT_FALSE(fs::exists(left.front()));
    for (const std::string& name : others)
        EXPECT_TRUE(fs::exists(dir.path() + name)) << name;
    EXPECT_EQ(test::SnapshotFolder(dir.path()).at("veltrane.ini"), "new");
}

// A write is on the disk before the rename makes it the file, else a power
// cut soon after could leave the new name on an empty file. Any call that
// fails leaves the old file and no temporary.
TEST(FileIo, AtomicWriteReachesTheDiskBeforeItsRename) {
    test::TempDir dir;
    const std::string target = dir.path() + "a.rlb";
    Write(target, "old");
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write;
    fs::permissions(target, mode);
    FileCallLog log;
    ASSERT_TRUE(WriteFileAtomically(target, "new bytes"));
    EXPECT_EQ(fs::status(target).permissions(), mode); // the replaced file's, not the temporary's
    ASSERT_FALSE(log.calls.empty());
    const std::string temp = log.calls.front().substr(std::string("open ").size());
    EXPECT_TRUE(IsOwnTemporaryName(fs::path(temp).filename().string(), "a.rlb")) << temp;
    EXPECT_EQ(log.calls, (std::vector<std::string>{"open " + temp, "write " + temp + " 9", "fsync " + temp,
                                                   "rename " + temp + " -> " + target}));
    for (const char* failing : {"open", "write", "fsync", "rename"}) {
        log.failing = failing;
        EXPECT_FALSE(WriteFileAtomically(target, "newer")) << failing;
        EXPECT_EQ(test::SnapshotFolder(dir.path()), (test::FolderSnapshot{{"a.rlb", "new bytes"}})) << failing;
    }
}

// A file of exactly the limit is read and one byte more is not, also when
// the size the file system tells is short of the bytes there are (a /proc
// file, which tells 0; a file that grew since it was measured).
TEST(FileIo, TheSizeLimitHoldsToTheByte) {
    test::TempDir dir;
    Write(dir.path() + "five", "12345");
    std::string content;
    EXPECT_EQ(ReadWholeFile(dir.path() + "five", content, 5), LoadResult::Loaded);
    EXPECT_EQ(content, "12345");
    EXPECT_EQ(ReadWholeFile(dir.path() + "five", content, 4), LoadResult::TooLarge);
    EXPECT_EQ(ReadFile(dir.path() + "five", content, {.maxBytes = 4, .firstBytesOnly = true}), LoadResult::Loaded);
    EXPECT_EQ(content, "1234");
    ASSERT_EQ(fs::file_size("/proc/self/status"), 0u);
    EXPECT_EQ(ReadWholeFile("/proc/self/status", content, 10), LoadResult::TooLarge);
}

TEST(FileIo, SameFileIsTheSameInodeWhateverTheSpelling) {
    test::TempDir dir;
    Write(dir.path() + "a.rsd", "a");
    Write(dir.path() + "b.rsd", "b");
    fs::create_hard_link(dir.path() + "a.rsd", dir.path() + "hard.rsd");
    fs::create_symlink("a.rsd", dir.path() + "soft.rsd");
    for (const char* other : {"a.rsd", "./a.rsd", "hard.rsd", "soft.rsd"})
        EXPECT_TRUE(SameFile(dir.path() + "a.rsd", dir.path() + other)) << other;
    EXPECT_FALSE(SameFile(dir.path() + "a.rsd", dir.path() + "b.rsd"));
    // Two outputs not written yet: the same place by another spelling.
    EXPECT_TRUE(SameFile(dir.path() + "new.csv", dir.path() + "./new.csv"));
    EXPECT_FALSE(SameFile(dir.path() + "new.csv", dir.path() + "new.rsd"));
    EXPECT_EQ(OutputRefusal(dir.path() + "hard.rsd", {dir.path() + "a.rsd"}), std::string(kOutputIsInputMessage));
    EXPECT_EQ(OutputRefusal(dir.path() + "b.rsd", {dir.path() + "a.rsd"}), nullptr);
    EXPECT_EQ(OutputRefusal("/dev/null", {}), std::string(kNotRegularFileMessage));
}

TEST(DisplayText, ControlCharactersAreEscapedAndTheRestKept) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Polystyrene 2", "Polystyrene 2"},
        {"a\tb\nc\rd", "a\\tb\\nc\\rd"},
        {"back\\slash", "back\\\\slash"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},
        {"del\x7f", "del\\x7f"},
        {"Glühwein Ångström 石英", "Glühwein Ångström 石英"},
        {"\xc2\x9b"
         "2J",
         "\\xc2\\x9b2J"},        // the C1 control CSI in UTF-8
        {"lat\xe9", "lat\\xe9"}, // Latin-1, not UTF-8
        {"\xe2\x80\xae"
         "txt",
         "\\xe2\\x80\\xaetxt"},           // right-to-left override
        {"cut\xe2\x80", "cut\\xe2\\x80"}, // a sequence cut short
        {"\xc0\xaf", "\\xc0\\xaf"},       // an overlong '/'
        // The edges of what is escaped, on both sides.
        {"\x1f \x20", "\\x1f  "},
        {"\xc2\x9f \xc2\xa0", "\\xc2\\x9f \xc2\xa0"},                  // last C1 control, no-break space
        {"\xe2\x80\xa7\xe2\x80\xa8", "\xe2\x80\xa7\\xe2\\x80\\xa8"},   // hyphenation point, line separator
        {"\xe2\x80\xae\xe2\x80\xaf", "\\xe2\\x80\\xae\xe2\x80\xaf"},   // RLO, narrow no-break space
        {"\xe0\x80\xaf \xe0\xa0\x80", "\\xe0\\x80\\xaf \xe0\xa0\x80"}, // overlong, U+0800
        {"\xed\xa0\x80 \xed\x9f\xbf", "\\xed\\xa0\\x80 \xed\x9f\xbf"}, // surrogate, U+D7FF
        {"\xf4\x90\x80\x80 \xf4\x8f\xbf\xbf", "\\xf4\\x90\\x80\\x80 \xf4\x8f\xbf\xbf"}, // past U+10FFFF, U+10FFFF
    };
    for (const auto& [raw, shown] : cases)
        EXPECT_EQ(EscapeControlCharacters(raw), shown);
}

} // namespace
} // namespace veltrane
