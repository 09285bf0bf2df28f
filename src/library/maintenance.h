#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/program_state.h"

namespace veltrane {

constexpr const char* kRenameOneAtOnce = "Rename one file at once!";
constexpr const char* kNotSelect = "Not Select!";

// The delete question: "Delete Lib?", then for up to 20 libraries a blank
// line and one numbered line per name; for more, their number.
std::string DeleteQuestion(const std::vector<std::string>& names);

// Deletes the files of the named libraries in `folder`. Names that could not
// be file names of the folder (a path in them, a wildcard) are skipped, so a
// crafted header can never delete anything outside it. Returns how many
// files were removed.
std::size_t DeleteLibraries(const std::string& folder, const std::vector<std::string>& names);

enum class RenameResult : std::uint8_t {
    Done = 0,
    NameTaken = 2,
    InvalidName = 4,
    WriteFailed = 5,
    OldUnreadable = 6,
};
const char* RenameMessage(RenameResult result);

// Gives the library `oldName` of `folder` the name `newName`: a new file with
// the old header (only the name field changed) and the old data, built
// completely beside the old file and renamed into place, then the old file
// removed. On any failure the old library stays as it was and no new file
// remains.
RenameResult RenameLibrary(const std::string& folder, LibraryView view, const std::string& oldName,
                           const std::string& newName);

} // namespace veltrane
