#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "measure/spectrum_header.h"
#include "shared/user_dialogs.h"

namespace veltrane {

struct MeasurementSession;
struct DeviceInfo;
struct LibraryState;

// Outcome of making a library entry. Codes 4 and 5 keep a name from reaching
// outside the library folder and a failed write from passing as done.
enum class MakeLibraryResult : std::uint8_t {
    Made = 0,
    FolderFailed = 1,
    NameExists = 2,
    NameTooLong = 3,
    InvalidName = 4,
    WriteFailed = 5,
};

constexpr const char* kNoDataToMakeLibrary = "No data to make library!";

// Whether the shown spectrum may become a library entry: nullptr when it may,
// else the message (error icon) that refuses it.
const char* MakeLibraryRefusal(const MeasurementSession& session, const DeviceInfo& device);

// Builds the PC library file of the shown spectrum, named `name` (8-bit
// text), in `pcFolder` (ending in '/'), dated `now`. The checks run in the
// order folder, existing name, length, file-name validity, so a long name
// that exists is reported as existing. Nothing is written unless the result
// is Made; then libraryMade is set when the PC view is current.
MakeLibraryResult MakeLibrary(const std::string& name, const MeasurementSession& session, const DeviceInfo& device,
                              LibraryState& library, const std::string& pcFolder, const LocalDateTime& now);

// Makes many entries in a row (an import of thousands of files): as
// MakeLibrary, but the folder is not listed for each name; `takenLowerCase`
// holds its file names in lower case (from LowerCaseFileNames, once) and
// gets each new one. The entries are not flushed to disk one by one: call
// SyncFolder when the batch is done.
MakeLibraryResult MakeLibraryInBatch(const std::string& name, const MeasurementSession& session,
                                     const DeviceInfo& device, const std::string& pcFolder, const LocalDateTime& now,
                                     std::set<std::string>& takenLowerCase);

// The names of a folder's entries in lower case, as library names compare.
std::set<std::string> LowerCaseFileNames(const std::string& folder);
std::string LowerCase(std::string text);

// Said when the shown spectrum has more points than an entry holds (one
// opened from another program's file at its full resolution): the entry
// takes it resampled evenly to 2500 points. Empty when it fits.
std::string ResampledForLibraryNotice(const MeasurementSession& session);

struct LibraryMessage {
    const char* text;
    MessageIcon icon;
};
// The message box that reports a result.
LibraryMessage MakeLibraryMessage(MakeLibraryResult result);

} // namespace veltrane
