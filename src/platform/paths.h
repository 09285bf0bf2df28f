#pragma once

#include <string>

namespace veltrane {

// Where the program keeps its settings file and its two library folders.
// A portable installation keeps them beside the executable; when that folder
// is not writable (an installed build) they go to the user's XDG folders.
// Every folder path ends in '/'.
struct AppPaths {
    std::string settingsFile;
    std::string libraryRoot;
    std::string pcLibraryFolder() const { return libraryRoot + "local/"; }
    std::string deviceLibraryFolder() const { return libraryRoot + "device/"; }
};

// Settings file "<base>.ini" and the library folders, all under `root`.
AppPaths AppPathsAt(const std::string& root, const std::string& baseName = "veltrane");
// The paths for the running executable, as described above.
AppPaths ResolveAppPaths(const std::string& executablePath);
// The same with the writability of the executable's folder given.
AppPaths ResolveAppPaths(const std::string& executablePath, bool folderWritable);
// The running executable's own path ("/proc/self/exe" resolved).
std::string ExecutablePath();

} // namespace veltrane
