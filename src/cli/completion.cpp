// Bash completion read off the commands' definitions, so that it offers
// exactly the commands, options and values the parser takes.

#include <cctype>
#include <sstream>

#include "cli/commands.h"

namespace veltrane {

namespace {

struct CompletionValues {
    std::string shell;
};

// How a value is completed, from its type name: "csv|jcamp|spc" offers the
// words, DIR folders, FILE and OUT files; other placeholders (NM, N) nothing.
std::string ValueCompletion(const std::string& typeName) {
    std::string words, generators;
    std::istringstream alternatives(typeName);
    for (std::string part; std::getline(alternatives, part, '|');) {
        if (part.empty()) continue;
        if (std::islower(static_cast<unsigned char>(part[0])))
            words += (words.empty() ? "" : " ") + part;
        else if (part == "DIR")
            generators += " -d";
        else if (part.find("FILE") != std::string::npos || part.find("OUT") != std::string::npos)
            generators += " -f";
    }
    if (words.empty() && generators.empty()) return "";
    std::string call = "compgen" + generators;
    if (!words.empty()) call += " -W \"" + words + "\"";
    return "COMPREPLY=($(" + call + " -- \"$cur\"))";
}

std::string CommandCase(const CLI::App* command) {
    std::string names, values, positional = "compgen -f";
    for (const CLI::Option* option : command->get_options()) {
        if (option->get_positional()) {
            if (option->get_type_name() == "DIR") positional = "compgen -d";
            continue;
        }
        std::string name = option->get_name();
        names += (names.empty() ? "" : " ") + name;
        if (option->get_expected_max() == 0) continue; // a flag: nothing follows it
        std::string value = ValueCompletion(option->get_type_name());
        values += "        " + name + ") " + (value.empty() ? "" : value + "; ") + "return ;;\n";
    }
    std::string text = "    " + command->get_name() + ")\n";
    if (!values.empty()) text += "        case $prev in\n" + values + "        esac\n";
    text += "        if [[ $cur == -* ]]; then\n"
            "            COMPREPLY=($(compgen -W \"" +
            names +
            "\" -- \"$cur\"))\n"
            "        else\n"
            "            COMPREPLY=($(" +
            positional +
            " -- \"$cur\"))\n"
            "        fi\n"
            "        ;;\n";
    return text;
}

std::string BashCompletion(const CLI::App& tool) {
    std::string commands, cases;
    for (const CLI::App* command : tool.get_subcommands({})) {
        if (command->get_group().empty()) continue; // hidden, as this one
        commands += command->get_name() + " ";
        cases += CommandCase(command);
    }
    return "# bash completion for veltrane-cli; made by `veltrane-cli completion bash`\n"
           "_veltrane_cli() {\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
           "    COMPREPLY=()\n"
           "    if [[ $COMP_CWORD -eq 1 ]]; then\n"
           "        COMPREPLY=($(compgen -W \"" +
           commands +
           "--help --version\" -- \"$cur\"))\n"
           "        return\n"
           "    fi\n"
           "    case ${COMP_WORDS[1]} in\n" +
           cases +
           "    esac\n"
           "}\n"
           "complete -o filenames -F _veltrane_cli veltrane-cli\n";
}

} // namespace

Command DefineCompletion(CLI::App& tool) {
    auto v = std::make_shared<CompletionValues>();
    CLI::App* app = tool.add_subcommand("completion", "the shell completion script");
    app->group(""); // not a command people run: the package installs its output
    app->add_option("SHELL", v->shell, "the shell")->required()->check(OneOf({"bash"}, "Unknown shell "));
    const CLI::App* whole = &tool;
    return {app, [whole, v](const CliStreams& io) {
                io.out << BashCompletion(*whole);
                return kExitOk;
            }};
}

} // namespace veltrane
