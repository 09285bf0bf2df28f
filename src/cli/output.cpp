#include "cli/output.h"

#include <charconv>
#include <cstdio>

#include "cli/input.h"
#include "platform/file_io.h"

namespace veltrane {

constexpr const char* kBinaryOnTerminal = "Refusing to write binary data to a terminal; use -o FILE or a pipe.";

std::string TwoDecimals(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    return buffer;
}

double JsonFloat(float value) {
    // The shortest text of the float read as a double: written back as a
    // double, that is the same text again.
    std::string text = FloatText(value);
    double read = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), read);
    return read;
}

bool IsStandardOutput(const std::string& path) {
    return path.empty() || path == "-";
}

bool OutputAllowed(const std::string& path, const std::vector<std::string>& inputs, const CliStreams& io) {
    if (IsStandardOutput(path)) return true;
    if (const char* refusal = OutputRefusal(path, inputs)) {
        io.err << Shown(path) << ": " << refusal << "\n";
        return false;
    }
    return true;
}

int RefuseBinaryOnTerminal(const std::string& path, const CliStreams& io) {
    if (!IsStandardOutput(path) || !io.outIsTerminal) return kExitOk;
    io.err << kBinaryOnTerminal << "\n";
    return kExitUsage;
}

bool Save(const std::string& path, const std::string& bytes, const CliStreams& io) {
    if (WriteFileAtomically(path, bytes)) return true;
    io.err << Shown(path) << ": " << kSaveFailed << "\n";
    return false;
}

int Emit(const std::string& text, const std::string& path, const CliStreams& io) {
    if (IsStandardOutput(path)) {
        io.out << text;
        return kExitOk;
    }
    return Save(path, text, io) ? kExitOk : kExitFailure;
}

std::string JsonText(const Json& document) {
    return document.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace veltrane
