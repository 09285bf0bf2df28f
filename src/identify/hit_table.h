#pragma once

#include <string>
#include <vector>

namespace veltrane {

// The identification panel's list as text, one line per row, the header row
// first: tab-separated for the clipboard (a spreadsheet pastes it into
// cells), or comma-separated for a CSV file, where a cell holding a comma,
// a quote or a line break is quoted and its quotes doubled. Tabs and line
// breaks inside a cell would split it in the tab-separated form and become
// blanks there.
enum class HitTableForm { Tabs, Csv };
std::string HitTableText(const std::vector<std::vector<std::string>>& rows, HitTableForm form);

} // namespace veltrane
