#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veltrane {

// Helpers the text formats share.

// The lines of a text, without their ends (LF, CRLF or CR), after a UTF-8
// byte-order mark if there is one.
std::vector<std::string_view> TextLines(std::string_view text);

std::string_view TrimSpaces(std::string_view s);

// A whole field as a finite decimal number ("+1.5", "-2e3", ".5"); false
// for anything else, including NaN and infinities.
bool ParseDecimal(std::string_view field, double& value);

// The shortest decimal text that reads back as exactly this float32.
std::string ShortestText(float value);

} // namespace veltrane
