#include "cli/command.h"

#include <charconv>
#include <cmath>

namespace veltrane {

namespace {

// The whole text as one number, nothing before or after it.
template <typename Number> bool ReadNumber(const std::string& text, Number& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

} // namespace

CLI::App* AddCommand(CLI::App& parent, const std::string& name, const std::string& summary,
                     const std::string& details) {
    CLI::App* command = parent.add_subcommand(name, summary);
    command->group("Commands");
    // Texts written as raw strings start on the line after their quote.
    command->footer(details.starts_with('\n') ? details.substr(1) : details);
    return command;
}

CLI::Option* AddInputFile(CLI::App& app, std::string& path, const std::string& name) {
    return app.add_option(name, path, "the input file; - reads standard input")->required()->type_name("FILE");
}

CLI::Option* AddLaserOption(CLI::App& app, double& nm) {
    return app.add_option("--laser", nm, "the laser wavelength, for a spectrum whose X is in nm or um")
        ->type_name("NM")
        ->check(NumberIn(0.0, true, INFINITY, true, "The laser wavelength is a number of nm above 0."));
}

CLI::Option* AddAxisOffsetOption(CLI::App& app, double& offset) {
    return app.add_option("--axis-offset", offset, "a correction of the spectrum's Raman shifts, in cm-1")
        ->type_name("CM")
        ->check(NumberIn(-1000.0, false, 1000.0, false, "The axis offset is a number of cm-1 from -1000 to 1000."));
}

void AddReadOptions(CLI::App& app, ReadChoices& read) {
    AddLaserOption(app, read.laserNm);
    app.add_option("--columns", read.columns,
                   "the X and Y columns of a table, by name or 1-based number (default: chosen by their names)")
        ->type_name("X,Y")
        ->check(CLI::Validator(
            [](std::string& value) {
                const std::size_t comma = value.find(',');
                return comma == std::string::npos || comma == 0 || comma + 1 == value.size()
                           ? std::string("--columns takes X,Y: two column names or numbers.")
                           : std::string();
            },
            ""));
}

void AddSpectrumInput(CLI::App& app, std::string& path, ReadChoices& read, const std::string& name) {
    AddInputFile(app, path, name);
    AddReadOptions(app, read);
}

CLI::Option* AddOutputOption(CLI::App& app, std::string& path, const std::string& what) {
    return app.add_option("-o", path, what)->type_name("OUT")->check(NotEmpty("The output file name is empty."));
}

CLI::Option* AddJcampFormOption(CLI::App& app, std::string& form) {
    return app
        .add_option("--jcamp-form", form,
                    "JCAMP-DX as X, Y pairs (affn, the default) or compressed over evenly spaced X (difdup)")
        ->type_name("affn|difdup")
        ->check(OneOf({"affn", "difdup"}, "Unknown JCAMP-DX form "));
}

CLI::Option* AddJsonFlag(CLI::App& app, bool& json) {
    return app.add_flag("--json", json, "one JSON document on standard output instead of the text");
}

CLI::Option* AddFolderOption(CLI::App& app, std::string& folder) {
    return app.add_option("--folder", folder, "the library folder the entry is made in")
        ->required()
        ->type_name("DIR")
        ->check(NotEmpty("The folder name is empty."));
}

CLI::Validator NumberIn(double low, bool lowOpen, double high, bool highOpen, const std::string& message) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            double value = 0.0;
            if (!ReadNumber(text, value) || !std::isfinite(value)) return message;
            bool above = lowOpen ? value > low : value >= low;
            bool below = highOpen ? value < high : value <= high;
            return above && below ? "" : message;
        },
        "");
}

CLI::Validator WholeIn(long long low, long long high, const std::string& message) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            long long value = 0;
            return ReadNumber(text, value) && value >= low && value <= high ? "" : message;
        },
        "");
}

CLI::Validator NotEmpty(const std::string& message) {
    return CLI::Validator([=](std::string& text) { return text.empty() ? message : std::string(); }, "");
}

CLI::Validator OneOf(const std::vector<std::string>& choices, const std::string& refusal) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            for (const std::string& choice : choices)
                if (text == choice) return "";
            return refusal + text + ".";
        },
        "");
}

} // namespace veltrane
