#pragma once

#include <string>
#include <string_view>

namespace veltrane {

// Text that came from a file or the command line (a name in a header, a file
// name), made safe to print where a terminal or another program reads it.
// A backslash becomes "\\"; tab, line feed and carriage return become "\t",
// "\n" and "\r"; every other control byte (0x00-0x1F, 0x7F), every byte that
// is not part of well-formed UTF-8, and the UTF-8 forms of the C1 controls
// (U+0080-U+009F), the line and paragraph separators and the bidirectional
// embeddings and overrides (U+2028-U+202E) become "\xHH" per byte, in lower
// case hex. The result is one line of valid UTF-8 that cannot move the cursor,
// set a terminal's title, or start a new record, and reads back unambiguously.
std::string EscapeControlCharacters(std::string_view text);

} // namespace veltrane
