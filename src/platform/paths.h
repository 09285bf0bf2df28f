#pragma once

#include <string>

namespace veltrane {

// Where the program keeps its settings file and its two library folders.
// A portable installation keeps them beside the executable; an installed one
// (marked by "share/veltrane/installed" under its prefix, which
// `cmake --install` and the .deb put there) or one whose folder is not
// writable keeps them in the user's XDG folders. The marker matters for root:
// /usr/bin is writable to root, and settings must not land there.
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
// True when the executable lies in an installed layout (the marker above).
bool IsInstalledLayout(const std::string& executablePath);
// The same with the writability of the executable's folder given (false for
// an installed layout).
AppPaths ResolveAppPaths(const std::string& executablePath, bool folderWritable);
// The running executable's own path ("/proc/self/exe" resolved).
std::string ExecutablePath();

} // namespace veltrane
