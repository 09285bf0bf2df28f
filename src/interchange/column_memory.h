#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "interchange/delimited_text.h"
#include "platform/ini_file.h"

namespace veltrane {

// The X and Y columns a person chose for a table whose columns the reader
// could only guess, kept in the settings file so that the next file with the
// same header opens without the question.
constexpr const char* kColumnChoiceSection = "Column Choice";

// The header a choice is kept under: the column names in letters and digits
// only, lower case, joined by commas; for a table without names, its
// column count. Exports of one program share it whatever their values.
std::string ColumnHeaderKey(const ReadOutcome& outcome);

// The choice kept for the outcome's header as 1-based column numbers, or
// nothing when there is none or it no longer fits the table.
std::optional<ColumnChoice> RememberedColumns(const IniFile& settings, const ReadOutcome& outcome);

// Keeps the 0-based columns `x` and `y` for the outcome's header; false when
// the settings file could not be written.
bool RememberColumns(IniFile& settings, const ReadOutcome& outcome, std::size_t x, std::size_t y);

} // namespace veltrane
