#include "platform/paths.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace veltrane {

namespace fs = std::filesystem;

namespace {

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder.push_back('/');
    return folder;
}

std::string XdgFolder(const char* variable, const char* fallbackUnderHome) {
    const char* value = std::getenv(variable);
    if (value && *value == '/') return WithSlash(value);
    const char* home = std::getenv("HOME");
    return WithSlash(std::string(home && *home ? home : "/tmp") + "/" + fallbackUnderHome);
}

} // namespace

AppPaths AppPathsAt(const std::string& root, const std::string& baseName) {
    std::string folder = WithSlash(root);
    return AppPaths{folder + baseName + ".ini", folder};
}

bool IsInstalledLayout(const std::string& executablePath) {
    std::error_code error;
    fs::path marker = fs::path(executablePath).parent_path().parent_path() / "share" / "veltrane" / "installed";
    return fs::is_regular_file(marker, error);
}

AppPaths ResolveAppPaths(const std::string& executablePath) {
    std::string folder = fs::path(executablePath).parent_path().string();
    bool portable = !folder.empty() && !IsInstalledLayout(executablePath) && ::access(folder.c_str(), W_OK) == 0;
    return ResolveAppPaths(executablePath, portable);
}

AppPaths ResolveAppPaths(const std::string& executablePath, bool folderWritable) {
    fs::path exe(executablePath);
    std::string base = exe.stem().string();
    if (base.empty()) base = "veltrane";
    if (folderWritable) return AppPathsAt(exe.parent_path().string(), base);
    return AppPaths{XdgFolder("XDG_CONFIG_HOME", ".config") + "veltrane/" + base + ".ini",
                    XdgFolder("XDG_DATA_HOME", ".local/share") + "veltrane/"};
}

std::string ExecutablePath() {
    std::error_code error;
    fs::path path = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

} // namespace veltrane
