#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane {

// NotRegular: the path names a FIFO, a device, a socket or a folder. Such a
// thing is never opened for reading, so it can neither block the program nor
// feed it an endless stream.
enum class LoadResult : std::uint8_t { Loaded, Missing, Failed, TooLarge, NotRegular };

struct ReadLimits {
    std::size_t maxBytes = 64u << 20;
    // Read the first maxBytes of a longer file rather than refusing it.
    bool firstBytesOnly = false;
    // For an entry of a listed folder (a library folder): a symbolic link is
    // followed only to a regular file inside the folder that holds the path,
    // so a link in a library folder cannot show or send files from elsewhere.
    bool withinFolder = false;
};

// Reads a regular file, or its beginning. Files above the limit are not read
// (TooLarge), so a stray huge file can never take the program's memory; the
// limit also holds against a file that grows while it is read.
LoadResult ReadFile(const std::string& path, std::string& content, const ReadLimits& limits);

inline LoadResult ReadWholeFile(const std::string& path, std::string& content, std::size_t maxBytes = 64u << 20) {
    return ReadFile(path, content, ReadLimits{maxBytes});
}

// Writes next to the target and renames over it: a crash or a full disk
// leaves either the old file or the new one, never half of one. Only a
// regular file is ever replaced: a target that is a device, a FIFO, a socket
// or a folder is refused and left alone. False when anything failed; the old
// file is then untouched.
//
// The temporary is named "<target>.tmp.veltrane.<process id>.<8 hex digits>".
// One whose process no longer runs was left by a crash; such leftovers of the
// same target are removed when it is next written. Nothing else in the folder
// is touched.
bool WriteFileAtomically(const std::string& path, std::string_view content);

// For writing many new files into one folder in a row (importing thousands
// of spectra): the same rename over a temporary, but neither the flush to
// disk nor the search for leftovers, which list the folder and wait for the
// disk once per file. The caller calls SyncFolder once at the end.
bool WriteFileAtomicallyInBatch(const std::string& path, std::string_view content);

// Flushes to disk what was written to the file system that holds `folder`;
// false when that failed.
bool SyncFolder(const std::string& folder);

// Whether a path names one of the program's own temporaries for `target`'s
// file name, and the process id in it.
bool IsOwnTemporaryName(const std::string& fileName, const std::string& targetFileName, long* pid = nullptr);

// Whether a path found by listing a folder may be read as one of its files:
// anything but a symbolic link, or a link to a file inside that folder. The
// rule ReadLimits::withinFolder applies, for callers that decide before
// reading.
bool LinkStaysInFolder(const std::string& path);

// Messages for files the program refuses.
constexpr const char* kNotRegularFileMessage = "Not a regular file!";
constexpr const char* kOutputIsInputMessage = "Output file is an input file!";

// True when both paths name the same file: the same device and inode when the
// first exists (so hard links and other spellings are caught), else the same
// resolved path.
bool SameFile(const std::string& a, const std::string& b);

// Why an output path must not be written, or nullptr when it may: it exists
// and is not a regular file, or it is one of `inputs`.
const char* OutputRefusal(const std::string& output, const std::vector<std::string>& inputs);

// Flushes standard output and tells whether everything written to it
// arrived: false after a write error (a full disk, a file size limit, a
// closed pipe). A program must not report success with its output cut short.
bool FlushStandardOutput();

} // namespace veltrane
