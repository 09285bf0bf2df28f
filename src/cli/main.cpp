#include <atomic>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "cli/cli.h"
#include "platform/file_io.h"

namespace {

// Raised by Ctrl-C: a running measurement ends at its next step, and its
// worker switches the laser off before the program returns.
std::atomic<bool> g_stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

extern "C" void OnInterrupt(int) {
    g_stopRequested.store(true, std::memory_order_release);
}

} // namespace

int main(int argc, char* argv[]) {
    // Only a measurement has a laser to switch off first; every other command
    // ends at once on Ctrl-C or kill, as any program does.
    if (argc > 1 && std::string(argv[1]) == "measure") {
        std::signal(SIGINT, OnInterrupt);
        std::signal(SIGTERM, OnInterrupt);
    }
    // Past a file size limit a write should fail and be reported, not kill
    // the program halfway through a file.
    std::signal(SIGXFSZ, SIG_IGN);
    std::vector<std::string> args(argv + 1, argv + argc);
    int status = veltrane::RunCli(
        args, veltrane::CliStreams{std::cin, std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1, &g_stopRequested, {}});
    // Output cut short by a full disk or a size limit is a failure, not a
    // result: a script reading it must not take it for the whole.
    std::cout.flush();
    if (!std::cout || !veltrane::FlushStandardOutput()) {
        std::cerr << "Can not write standard output!\n";
        if (status == veltrane::kExitOk) status = veltrane::kExitFailure;
    }
    return status;
}
