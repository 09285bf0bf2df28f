#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "library/library_state.h"
#include "shared/program_constants.h"

namespace veltrane {

constexpr const char* kRenameOneAtOnce = "Rename one file at once!";
constexpr const char* kNotSelect = "Not Select!";

// The delete question: "Delete Lib?", then for up to 20 libraries a blank
// line and one numbered line per name; for more, their number.
std::string DeleteQuestion(const std::vector<std::string>& names);

// The grid menu's captions for `ticked` ticked rows (`name`: the one row's
// name when there is exactly one). Without ticks they are the plain
// "Delete" and "Rename", and the menu shows them disabled.
struct MaintenanceMenuTexts {
    std::string remove, rename;
};
MaintenanceMenuTexts MaintenanceMenuCaptions(std::size_t ticked, const std::string& name);

// Deletes the listed files `fileNames` of `folder` (the files the ticked rows
// were listed from, never a name rebuilt from a header, which may belong to
// another file). Returns how many files were removed.
std::size_t DeleteLibraries(const std::string& folder, const std::vector<std::string>& fileNames);

enum class RenameResult : std::uint8_t {
    Done = 0,
    NameTaken = 2,
    InvalidName = 4,
    WriteFailed = 5,
    OldUnreadable = 6,
};
const char* RenameMessage(RenameResult result);

// Gives the library in the listed file `oldFile` of `folder` the name
// `newName` (bytes, at most 64): the old header with only the name field
// changed, and the old data. In the PC view the library moves to the file
// "newName.rlb", built completely beside the old file and renamed into place,
// then the old file is removed; the name is taken when another file of that
// name exists. In the device view the mirror file keeps its name (its number
// is the record's place in the instrument's store) and is rewritten in
// place; the name is taken when another record of the folder carries it. On
// any failure the old library stays as it was and no new file remains.
RenameResult RenameLibrary(const std::string& folder, LibraryView view, const std::string& oldFile,
                           const std::string& newName);

} // namespace veltrane
