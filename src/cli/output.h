#pragma once

// Where the commands' results go: standard output or a file written whole,
// text or one JSON document.

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli.h"

namespace veltrane {

// Objects keep their keys in the order they were set, as the text output
// lists its fields.
using Json = nlohmann::ordered_json;

// Two decimals: HQIs and Raman shifts as the text output prints them.
std::string TwoDecimals(double value);

// A float32 as a JSON number whose shortest text is the float's own
// shortest text: it reads back as exactly the stored value.
double JsonFloat(float value);

// An output may only replace a regular file, and never a file the command
// reads: writing it would destroy the input before or while it is used.
// Empty and "-" stand for standard output, which is always allowed.
bool OutputAllowed(const std::string& path, const std::vector<std::string>& inputs, const CliStreams& io);

// Whether `path` stands for standard output.
bool IsStandardOutput(const std::string& path);

// Binary data is not for a terminal: exit status 64 with the reason, before
// any work, when `path` is standard output and that is a terminal; else 0.
int RefuseBinaryOnTerminal(const std::string& path, const CliStreams& io);

// The file written whole or not at all.
bool Save(const std::string& path, const std::string& bytes, const CliStreams& io);

// Standard output for an empty path or "-"; otherwise the file, written
// whole or not at all.
int Emit(const std::string& text, const std::string& path, const CliStreams& io);

// The document as one line of UTF-8 JSON. Names are written as they are;
// bytes that are not UTF-8 (a header written under another code page)
// become U+FFFD, as JSON text must be UTF-8.
std::string JsonText(const Json& document);

} // namespace veltrane
