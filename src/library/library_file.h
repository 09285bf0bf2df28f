#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "library/lib_rw.h"
#include "measure/spectrum_header.h"
#include "shared/program_constants.h"

namespace veltrane {

// The two layouts of a library file. A PC library holds 2500 float32
// intensities and 2500 float32 X values; a device record, the instrument's
// own layout, 1250 u16 intensities and 1250 u16 Raman shifts in tenths.
constexpr std::size_t kPcLibrarySize = 20120;
constexpr std::size_t kDeviceRecordSize = 5120;
constexpr std::size_t kPcLibraryPoints = 2500;
constexpr std::size_t kDeviceRecordPoints = 1250;
constexpr std::size_t kPcIntensityOffset = 120;
constexpr std::size_t kPcAxisOffset = 10120;
constexpr std::size_t kDeviceIntensityOffset = 120;
constexpr std::size_t kDeviceAxisOffset = 2620;
constexpr const char* kLibraryExtension = ".rlb";
constexpr const char* kLibraryPattern = "*.rlb";

std::size_t LibraryPoints(LibraryView view);
std::size_t LibraryFileSize(LibraryView view);

// The folder a view lists (ending in '/'), and the file of a library in it.
std::string LibraryFolderPath(const std::string& libraryRoot, LibraryView view);
std::string LibraryFilePath(const std::string& folder, const std::string& name);

// Model name of a library's model code for the grid; empty for a code the
// program does not name.
std::string LibraryModelName(std::uint16_t code, BrandVariant brand);

// Whether a name the user gives a library can be its file name: not "." or
// "..", no '/' (the one character a file name cannot hold, and the way out of
// the library folder) and no control characters (tabs and line breaks in file
// names break every listing and script that reads them). Everything else,
// "Ethanol 1:1" and "50% v/v"'s neighbours included, is a file name here.
bool ValidLibraryName(const std::string& name);
constexpr const char* kInvalidNameMessage = "Invalid file name!";

// Whether a name from a listing of a folder can be used as a file of that
// folder: not empty, not "." or "..", no '/'.
bool FolderEntryName(const std::string& fileName);

// Whether `folder` holds an entry named `fileName`, letters compared without
// regard to ASCII case as the listing does; the entry `except` (a file being
// renamed) does not count.
bool LibraryFileTaken(const std::string& folder, const std::string& fileName, const std::string& except = {});

// A library name as the windows show it, in UTF-8: names that are valid
// UTF-8 as they are, anything else (an instrument record written in a Windows
// code page) decoded byte by byte as Windows-1252. Only for showing; files
// and headers keep the bytes.
std::string DisplayName(const std::string& bytes);

// The first 120 bytes of a library file; false when the file cannot be read
// or is shorter than a header. Library files are entries of a library folder:
// anything but a regular file (a FIFO, a device) and a link leading out of
// the folder count as unreadable, here and in ReadLibraryCurve.
bool ReadLibraryHeader(const std::string& path, SpectrumHeader& header);

enum class CurveRead : std::uint8_t { Ok, Unreadable, TooShort };
// Header and points of one library file, decoded by the view's layout into
// `intensity` and `axis` (2500 or 1250 values each; the rest untouched).
CurveRead ReadLibraryCurve(const std::string& path, LibraryView view, SpectrumHeader& header, float* intensity,
                           float* axis);
// The same from bytes already in memory.
CurveRead DecodeLibraryCurve(std::string_view bytes, LibraryView view, SpectrumHeader& header, float* intensity,
                             float* axis);

std::string EncodePcLibraryFile(const SpectrumHeader& header, const float* intensities, const float* axis);
// Creates or replaces the file through a temporary file renamed into place;
// false when the file could not be written (the old one then stays).
bool WritePcLibraryFile(const std::string& path, const SpectrumHeader& header, const float* intensities,
                        const float* axis);

} // namespace veltrane
