#include "platform/file_calls.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace veltrane {

namespace {

// open is variadic; the table holds a plain function.
int OpenPath(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

// Constant-initialised, so a file read by another static's constructor
// already finds the real calls.
constinit FileCalls g_active{&OpenPath, &::write, &::fsync, &::rename};

} // namespace

FileCalls SystemFileCalls() {
    return {&OpenPath, &::write, &::fsync, &::rename};
}

FileCalls& ActiveFileCalls() {
    return g_active;
}

} // namespace veltrane
