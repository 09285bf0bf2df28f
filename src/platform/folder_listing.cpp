#include "platform/folder_listing.h"

#include <dirent.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <memory>

namespace veltrane {

namespace fs = std::filesystem;

bool WildcardMatch(const std::string& pattern, const std::string& name) {
    // Iterative matcher with one backtrack point for the last '*'.
    std::size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
    auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    };
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && same(pattern[p], name[n])))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool ListMatching(const std::string& folder, const std::string& pattern, std::vector<std::string>& names) {
    names.clear();
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()), &::closedir);
    if (!dir) return false;
    for (;;) {
        errno = 0;
        dirent* entry = ::readdir(dir.get());
        if (!entry) return errno == 0;
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (WildcardMatch(pattern, name)) names.push_back(std::move(name));
    }
}

std::vector<std::string> ListMatching(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> names;
    ListMatching(folder, pattern, names);
    return names;
}

std::size_t CountMatchingFiles(const std::string& pathPattern) {
    std::size_t slash = pathPattern.rfind('/');
    std::string folder = slash == std::string::npos ? std::string(".") : pathPattern.substr(0, slash + 1);
    std::string pattern = slash == std::string::npos ? pathPattern : pathPattern.substr(slash + 1);
    return ListMatching(folder, pattern).size();
}

std::size_t DeleteMatching(const std::string& folder, const std::string& pattern) {
    std::size_t failed = 0;
    for (const std::string& name : ListMatching(folder, pattern)) {
        std::error_code error;
        fs::path path = fs::path(folder) / name;
        if (!fs::is_regular_file(path, error)) continue;
        if (!fs::remove(path, error)) ++failed;
    }
    return failed;
}

bool EnsureFolder(const std::string& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    return fs::is_directory(folder, error);
}

bool FolderExists(const std::string& folder) {
    std::error_code error;
    return fs::is_directory(folder, error);
}

} // namespace veltrane
