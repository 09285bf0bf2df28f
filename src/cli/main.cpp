#include <atomic>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"

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
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    std::vector<std::string> args(argv + 1, argv + argc);
    return veltrane::RunCli(args, std::cout, std::cerr, &g_stopRequested);
}
