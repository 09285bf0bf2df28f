#include "cli/cli.h"

#include <cctype>
#include <charconv>
#include <sstream>

#include "cli/command.h"
#include "cli/commands.h"
#include "platform/display_text.h"
#include "shared/program_constants.h"

namespace veltrane {

namespace {

bool IsFlag(const CLI::Option* option) {
    return option->get_expected_max() == 0;
}

// What follows an option's name: its value's placeholder, or for a flag
// that takes one, the value after '=' alone.
std::string ValuePlaceholder(const CLI::Option* option) {
    if (!IsFlag(option)) return " " + option->get_type_name();
    return option->get_type_name().empty() ? "" : "[=" + option->get_type_name() + "]";
}

// The usage line of a command, read off its options: what --help shows
// cannot drift from what the parser takes.
std::string OptionSynopsis(const CLI::Option* option) {
    if (option->get_positional()) {
        std::string name = option->get_name(true);
        if (option->get_expected_max() > 1) name += "...";
        return option->get_required() ? name : "[" + name + "]";
    }
    std::string text = option->get_name() + ValuePlaceholder(option);
    if (!option->get_required()) text = "[" + text + "]";
    if (option->get_multi_option_policy() == CLI::MultiOptionPolicy::TakeAll) text += "...";
    return text;
}

std::string Synopsis(const CLI::App* command) {
    std::string text = command->get_name();
    for (const CLI::Option* option : command->get_options()) {
        if (option == command->get_help_ptr()) continue;
        text += " " + OptionSynopsis(option);
    }
    return text;
}

class HelpFormatter : public CLI::Formatter {
public:
    // The names without a flag's default value ("--simulator{2500}").
    std::string make_option_name(const CLI::Option* option, bool positional) const override {
        std::string names = CLI::Formatter::make_option_name(option, positional);
        std::size_t brace = names.find('{');
        return brace == std::string::npos ? names : names.erase(brace, names.find('}', brace) - brace + 1);
    }
    std::string make_option_opts(const CLI::Option* option) const override {
        if (option->get_positional()) return "";
        std::string text = ValuePlaceholder(option);
        if (option->get_required()) text += " (needed)";
        if (option->get_multi_option_policy() == CLI::MultiOptionPolicy::TakeAll) text += " (repeatable)";
        return text;
    }

    std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode mode) const override {
        std::ostringstream out;
        if (app->get_parent() == nullptr) {
            out << "Usage: veltrane-cli COMMAND [ARGS]\n" << app->get_description() << "\n\nCommands:\n";
            for (const CLI::App* command : app->get_subcommands({})) {
                if (command->get_group().empty()) continue;
                out << "  " << Synopsis(command) << "\n      " << command->get_description() << "\n";
            }
            out << make_groups(app, mode) << "\n" << make_footer(app);
            return out.str();
        }
        std::string summary = app->get_description();
        if (!summary.empty()) summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
        out << "Usage: veltrane-cli " << Synopsis(app) << "\n\n"
            << summary << ".\n\n"
            << make_footer(app) << make_positionals(app) << make_groups(app, mode);
        return out.str();
    }
};

int UsageFailure(const CliStreams& io, const std::string& message) {
    io.err << EscapeControlCharacters(message) << "\nSee --help.\n";
    return kExitUsage;
}

std::string VersionText() {
    return std::string("veltrane-cli ") + kVersionText;
}

// The commands in the order the help lists them, by the names they define.
struct CommandDefinition {
    const char* name;
    Command (*define)(CLI::App& tool);
};
constexpr CommandDefinition kCommands[] = {
    {"info", DefineInfo},
    {"export", DefineExport},
    {"convert", DefineConvert},
    {"import", DefineImport},
    {"import-folder", DefineImportFolder},
    {"smooth", DefineSmooth},
    {"make-library", DefineMakeLibrary},
    {"to-device", DefineToDevice},
    {"list", DefineList},
    {"measure", DefineMeasure},
    {"identify", DefineIdentify},
    {"baseline", DefineBaseline},
    {"check-axis", DefineCheckAxis},
#ifdef VELTRANE_WITH_REPORT
    {"report", DefineReport},
#endif
    {"completion", DefineCompletion},
};

// The tool with the command `only`, or with all of them when `only` names
// none (the tool's own help, its version, a wrong command): defining one
// command is what a run needs, and is quicker than defining thirteen.
std::vector<Command> DefineTool(CLI::App& tool, const std::string& only) {
    tool.formatter(std::make_shared<HelpFormatter>());
    tool.set_help_flag("-h,--help", "this help");
    tool.set_version_flag("--version", VersionText(), "the version, as the application shows it");
    tool.footer("Each command takes --help.");
    tool.require_subcommand(1);
    // An option given twice counts with its last value, as in most tools.
    tool.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    // The completion script is read off all the others.
    bool named = false;
    if (only != "completion")
        for (const CommandDefinition& command : kCommands)
            named = named || only == command.name;
    std::vector<Command> commands;
    for (const CommandDefinition& command : kCommands)
        if (!named || only == command.name) commands.push_back(command.define(tool));
    return commands;
}

} // namespace

std::string FloatText(float value) {
    char buffer[64];
    std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, r.ptr);
}

int RunCli(const std::vector<std::string>& args, const CliStreams& io) {
    CLI::App tool("The files, libraries and measurements of Veltrane for scripts.", "veltrane-cli");
    if (args.empty()) return UsageFailure(io, "No command given.");
    std::vector<Command> commands = DefineTool(tool, args[0]);
    if (args[0] == "help") {
        io.out << tool.help();
        return kExitOk;
    }
    auto named = [&](const CLI::App* command) { return command->get_name() == args[0]; };
    if (args[0].empty() || (args[0][0] != '-' && tool.get_subcommands(named).empty()))
        return UsageFailure(io, "Unknown command " + args[0] + ".");
    try {
        tool.parse(std::vector<std::string>(args.rbegin(), args.rend()));
    } catch (const CLI::CallForHelp&) {
        io.out << tool.help();
        return kExitOk;
    } catch (const CLI::CallForVersion&) {
        io.out << VersionText() << "\n";
        return kExitOk;
    } catch (const CLI::ParseError& error) {
        return UsageFailure(io, error.what());
    }
    for (const Command& command : commands) {
        if (!command.app->parsed()) continue;
        try {
            return command.run(io);
        } catch (const UsageError& error) {
            return UsageFailure(io, error.what());
        }
    }
    return UsageFailure(io, "No command given.");
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::atomic<bool>* stop) {
    std::istringstream nothing;
    return RunCli(args, CliStreams{nothing, out, err, false, stop, {}});
}

} // namespace veltrane
