#pragma once

#include <sys/types.h>

#include <cstddef>

namespace veltrane {

// The system calls on which the safety of reading and writing files rests:
// a reader never opens a FIFO or a device (the open alone would release a
// FIFO's writer or act on the device), and a write reaches the disk (fsync)
// before its rename makes it the file, so a power cut cannot leave the new
// name on an empty file. Neither shows in any file's bytes afterwards, so
// file_io makes these calls through this table, and tests put recording or
// failing wrappers into it to see them reach the kernel in the right order.
// A seam rather than a tracer such as strace: ptrace is often forbidden in
// containers and CI machines, and a test skipped there would prove nothing.
//
// The program never changes the table. A test that does restores it before
// any other thread touches a file.
struct FileCalls {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*write)(int fd, const void* data, std::size_t size);
    int (*fsync)(int fd);
    int (*rename)(const char* from, const char* to);
};

// The kernel's calls.
FileCalls SystemFileCalls();

// The calls file_io makes: the kernel's unless a test replaced them.
FileCalls& ActiveFileCalls();

} // namespace veltrane
