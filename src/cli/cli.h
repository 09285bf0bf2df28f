#pragma once

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

namespace veltrane {

// veltrane-cli: the core's files, libraries and measurement for scripts.
// Every subcommand takes its own arguments (without the program and
// subcommand names), writes its results to `out` and its messages to `err`,
// and returns the process exit status.

// Exit statuses shared by all subcommands. make-library returns the result
// code of the creation (1 to 5) instead of kExitFailure.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitNameRefused = 6;  // make-library, import: a name no library can carry
constexpr int kExitInputRefused = 7; // make-library, import: the input file was refused
constexpr int kExitUsage = 64;
constexpr int kExitStopped = 130; // measure ended by Ctrl-C, laser off

// Dispatches on args[0], the subcommand. `stop` is raised by the
// executable's SIGINT handler; only measure looks at it.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const std::atomic<bool>* stop = nullptr);

int CliInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CliExport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CliConvert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// import returns the result code of the library creation like make-library.
int CliImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CliSmooth(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CliMakeLibrary(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CliToDevice(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CliList(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CliMeasure(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const std::atomic<bool>* stop = nullptr);
// Exit status 2 (no hit reaches the threshold) besides the shared ones.
int CliIdentify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CliBaseline(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int CliCheckAxis(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The shortest decimal text that reads back as exactly this float32.
std::string FloatText(float value);

} // namespace veltrane
