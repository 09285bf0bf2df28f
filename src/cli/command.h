#pragma once

// What every command file shares: how a command is defined, the option
// blocks several commands take, usage errors, and where output goes.

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/cli.h"
#include "cli/input.h"

namespace veltrane {

// A command: its definition (options, checks, help) and what runs once its
// arguments have been read into the values the options are bound to.
struct Command {
    CLI::App* app = nullptr;
    std::function<int(const CliStreams&)> run;
};

// Wrong arguments found after parsing (an option that needs another, a
// standard that does not exist): exit status 64, like a parse error.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A new command under `parent`. `summary` is its line in the tool's help,
// `details` the text its own --help adds after the options' synopsis.
CLI::App* AddCommand(CLI::App& parent, const std::string& name, const std::string& summary, const std::string& details);

// Binds the values of a command to its definition: they live as long as the
// returned run function, which reads them.
template <typename Values>
Command DefineCommand(CLI::App* app, std::shared_ptr<Values> values, int (*run)(const Values&, const CliStreams&)) {
    return {app, [values, run](const CliStreams& io) { return run(*values, io); }};
}

// ---- option blocks ------------------------------------------------------------

// One input file as a positional argument; "-" reads standard input.
CLI::Option* AddInputFile(CLI::App& app, std::string& path, const std::string& name = "FILE");
// "--laser NM": the laser wavelength for X in nm or um; 0 when not given.
CLI::Option* AddLaserOption(CLI::App& app, double& nm);
// "--laser NM" and "--columns X,Y": how another program's spectrum is read.
void AddReadOptions(CLI::App& app, ReadChoices& read);
// A spectrum of any format as the input, and how to read it.
void AddSpectrumInput(CLI::App& app, std::string& path, ReadChoices& read, const std::string& name = "FILE");
// "-o OUT": the output file; standard output when not given or "-".
CLI::Option* AddOutputOption(CLI::App& app, std::string& path,
                             const std::string& what = "the output file; standard output when not given or -");
// "--jcamp-form affn|difdup".
CLI::Option* AddJcampFormOption(CLI::App& app, std::string& form);
// "--json": one JSON document on standard output instead of the text.
CLI::Option* AddJsonFlag(CLI::App& app, bool& json);
// "--folder DIR": where a library entry is made.
CLI::Option* AddFolderOption(CLI::App& app, std::string& folder);
// "--axis-offset CM": a known correction of the Raman shifts read.
CLI::Option* AddAxisOffsetOption(CLI::App& app, double& offset);

// ---- checks of option values ------------------------------------------------------

// A number in [low, high] (the ends left out where `open`), else `message`.
CLI::Validator NumberIn(double low, bool lowOpen, double high, bool highOpen, const std::string& message);
// A whole number from `low` to `high`, else `message`.
CLI::Validator WholeIn(long long low, long long high, const std::string& message);
// Any text but an empty one, else `message`.
CLI::Validator NotEmpty(const std::string& message);
// One of `choices`, else `refusal` followed by the value and a full stop.
CLI::Validator OneOf(const std::vector<std::string>& choices, const std::string& refusal);

} // namespace veltrane
