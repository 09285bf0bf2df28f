#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace veltrane {

enum class LoadResult : std::uint8_t { Loaded, Missing, Failed, TooLarge };

// Reads a whole file. Files above `maxBytes` are not read (TooLarge), so a
// stray huge file can never take the program's memory.
LoadResult ReadWholeFile(const std::string& path, std::string& content, std::size_t maxBytes = 64u << 20);

// Writes next to the target and renames over it: a crash or a full disk
// leaves either the old file or the new one, never half of one. False when
// anything failed; the old file is then untouched.
bool WriteFileAtomically(const std::string& path, std::string_view content);

} // namespace veltrane
