#pragma once

#include <string>
#include <vector>

namespace veltrane {

// Wildcard match of a file name: '*' any run of characters, '?' one
// character, letters compared without regard to ASCII case, as the
// instrument's users know it from their other systems.
bool WildcardMatch(const std::string& pattern, const std::string& name);

// Names of the entries of `folder` (files and folders alike) that match the
// wildcard `pattern`, in the order the file system enumerates them.
std::vector<std::string> ListMatching(const std::string& folder, const std::string& pattern);
// The same into `names`, but false when the folder could not be opened or
// read to its end, so an unreadable folder is not taken for an empty one.
bool ListMatching(const std::string& folder, const std::string& pattern, std::vector<std::string>& names);

// Number of entries matching a path whose last component may hold wildcards
// ("/some/folder/name.rlb").
std::size_t CountMatchingFiles(const std::string& pathPattern);

// Deletes every regular file of `folder` matching `pattern`; returns how many
// could not be deleted.
std::size_t DeleteMatching(const std::string& folder, const std::string& pattern);

// Creates the folder (and its parents) when missing; true when it exists after.
bool EnsureFolder(const std::string& folder);
bool FolderExists(const std::string& folder);

} // namespace veltrane
