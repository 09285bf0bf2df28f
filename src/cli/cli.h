#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace veltrane {

class VirtualInstrument;

// veltrane-cli: the core's files, libraries and measurement for scripts.

// Exit statuses shared by all commands. make-library and import return the
// result code of the creation (1 to 5) instead of kExitFailure; identify and
// check-axis add 2 (and identify 3) for their verdicts.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitNameRefused = 6;  // make-library, import: a name no library can carry
constexpr int kExitInputRefused = 7; // make-library, import: the input file was refused
constexpr int kExitUsage = 64;
constexpr int kExitStopped = 130; // measure ended by Ctrl-C, laser off

// What a command reads and writes besides its files. `outIsTerminal` tells
// whether standard output is a terminal, where binary data is refused;
// `stop` is raised by the executable's SIGINT handler, and only measure looks
// at it.
struct CliStreams {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    bool outIsTerminal = false;
    const std::atomic<bool>* stop = nullptr;
    // Handed the virtual instrument of `measure --simulator` as it is made,
    // so a caller can watch what the instrument is left doing (the laser
    // after a stop), which the wire protocol cannot ask.
    std::function<void(std::shared_ptr<VirtualInstrument>)> simulatorMade;
};

// Runs the command line `args` (without the program name) and returns the
// process exit status.
int RunCli(const std::vector<std::string>& args, const CliStreams& streams);

// The same with nothing on standard input and standard output not a
// terminal: the form scripts and tests see.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const std::atomic<bool>* stop = nullptr);

// The shortest decimal text that reads back as exactly this float32.
std::string FloatText(float value);

} // namespace veltrane
