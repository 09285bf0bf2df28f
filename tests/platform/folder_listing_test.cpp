#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/file_io.h"
#include "platform/folder_listing.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

namespace veltrane {
namespace {

TEST(FolderListing, WildcardsMatchLikeTheUsersExpect) {
    EXPECT_TRUE(WildcardMatch("*.rlb", "sample.rlb"));
    EXPECT_TRUE(WildcardMatch("*.rlb", "SAMPLE.RLB"));
    EXPECT_TRUE(WildcardMatch("*.rlb", ".rlb"));
    EXPECT_FALSE(WildcardMatch("*.rlb", "sample.rlb.bak"));
    EXPECT_TRUE(WildcardMatch("b*", "beta.rlb"));
    EXPECT_FALSE(WildcardMatch("b*", "alpha.rlb"));
    EXPECT_TRUE(WildcardMatch("a?c*", "abcdef"));
    EXPECT_FALSE(WildcardMatch("a?c", "ac"));
    EXPECT_TRUE(WildcardMatch("*a*b*", "xxaxxbxx"));
}

TEST(FolderListing, ListsCountsAndDeletesMatchingEntries) {
    test::TempDir dir;
    for (const char* name : {"one.rlb", "two.RLB", "three.txt"}) std::ofstream(dir.path() + name) << "x";
    std::filesystem::create_directories(dir.path() + "folder.rlb");
    auto names = ListMatching(dir.path(), "*.rlb");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"folder.rlb", "one.rlb", "two.RLB"}));
    EXPECT_EQ(CountMatchingFiles(dir.path() + "one.rlb"), 1u);
    EXPECT_EQ(CountMatchingFiles(dir.path() + "folder.rlb"), 1u); // folders count too
    EXPECT_EQ(CountMatchingFiles(dir.path() + "none.rlb"), 0u);
    EXPECT_EQ(DeleteMatching(dir.path(), "*.rlb"), 0u);
    names = ListMatching(dir.path(), "*");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"folder.rlb", "three.txt"}));
    EXPECT_TRUE(ListMatching(dir.path() + "missing/", "*").empty());
}

TEST(Paths, PortableFolderBesideTheExecutableOrXdgWhenReadOnly) {
    test::TempDir dir;
    AppPaths here = ResolveAppPaths(dir.path() + "veltrane");
    EXPECT_EQ(here.settingsFile, dir.path() + "veltrane.ini");
    EXPECT_EQ(here.pcLibraryFolder(), dir.path() + "local/");
    EXPECT_EQ(here.deviceLibraryFolder(), dir.path() + "device/");
    ::setenv("XDG_CONFIG_HOME", "/xdg/config", 1);
    ::setenv("XDG_DATA_HOME", "/xdg/data", 1);
    AppPaths installed = ResolveAppPaths("/usr/bin/veltrane", false);
    EXPECT_EQ(installed.settingsFile, "/xdg/config/veltrane/veltrane.ini");
    EXPECT_EQ(installed.pcLibraryFolder(), "/xdg/data/veltrane/local/");
    // A writable folder in an installed layout (root running /usr/bin/veltrane)
    // still keeps its files under XDG.
    std::filesystem::create_directories(dir.path() + "prefix/bin");
    std::filesystem::create_directories(dir.path() + "prefix/share/veltrane");
    EXPECT_FALSE(IsInstalledLayout(dir.path() + "prefix/bin/veltrane"));
    EXPECT_EQ(ResolveAppPaths(dir.path() + "prefix/bin/veltrane").settingsFile, dir.path() + "prefix/bin/veltrane.ini");
    WriteFileAtomically(dir.path() + "prefix/share/veltrane/installed", "installed\n");
    EXPECT_EQ(ResolveAppPaths(dir.path() + "prefix/bin/veltrane").settingsFile, "/xdg/config/veltrane/veltrane.ini");
    ::setenv("XDG_CONFIG_HOME", "relative/is/ignored", 1);
    ::setenv("HOME", "/home/user", 1);
    EXPECT_EQ(ResolveAppPaths("/usr/bin/veltrane", false).settingsFile, "/home/user/.config/veltrane/veltrane.ini");
}

} // namespace
} // namespace veltrane
