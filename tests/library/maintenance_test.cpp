#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "library/library_file.h"
#include "library/maintenance.h"
#include "platform/file_io.h"
#include "support/temp_dir.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;

std::string MakeLibraryFile(const std::string& folder, const std::string& name, LibraryView view) {
    SpectrumHeader header;
    header.setName(name);
    header.setDateTime({2025, 12, 1, 23, 59, 58});
    header.setModelCode(179);
    header.bytes[100] = 0x5A; // a reserved byte, kept by a rename
    std::string content(LibraryFileSize(view), '\0');
    std::copy(header.bytes.begin(), header.bytes.end(), content.begin());
    for (std::size_t i = kHeaderSize; i < content.size(); ++i) content[i] = static_cast<char>(i * 31);
    std::ofstream(LibraryFilePath(folder, name), std::ios::binary) << content;
    return content;
}

std::string Read(const std::string& path) {
    std::string content;
    ReadWholeFile(path, content);
    return content;
}

TEST(DeleteLibraries, QuestionListsUpToTwentyNames) {
    EXPECT_EQ(DeleteQuestion({"alpha", "beta", "gamma"}), "Delete Lib?\n\n1. alpha\n2. beta\n3. gamma\n");
    std::vector<std::string> many(21, "x");
    EXPECT_EQ(DeleteQuestion(many).rfind("Delete Lib?", 0), 0u);
    EXPECT_EQ(DeleteQuestion(many).find("1. x"), std::string::npos);
}

TEST(DeleteLibraries, RemovesTheNamedFilesAndNothingOutsideTheFolder) {
    test::TempDir dir;
    fs::create_directories(dir.path() + "local");
    std::string folder = dir.path() + "local/";
    for (const char* name : {"a", "b", "c"}) MakeLibraryFile(folder, name, LibraryView::Pc);
    std::ofstream(dir.path() + "outside.rlb") << "keep";
    EXPECT_EQ(DeleteLibraries(folder, {"a", "c", "../outside", "gone"}), 2u);
    EXPECT_FALSE(fs::exists(folder + "a.rlb"));
    EXPECT_TRUE(fs::exists(folder + "b.rlb"));
    EXPECT_TRUE(fs::exists(dir.path() + "outside.rlb"));
}

TEST(RenameLibrary, NewFileCarriesEverythingButTheName) {
    test::TempDir dir;
    std::string old = MakeLibraryFile(dir.path(), "alpha", LibraryView::Pc);
    ASSERT_EQ(RenameLibrary(dir.path(), LibraryView::Pc, "alpha", "beta"), RenameResult::Done);
    EXPECT_FALSE(fs::exists(dir.path() + "alpha.rlb"));
    std::string renamed = Read(dir.path() + "beta.rlb");
    ASSERT_EQ(renamed.size(), 20120u);
    EXPECT_EQ(renamed.substr(0, 5), std::string("beta\0", 5));
    for (std::size_t i = 5; i < 64; ++i) EXPECT_EQ(renamed[i], '\0') << i; // the old name is wiped
    EXPECT_EQ(renamed.substr(64), old.substr(64)); // date, model, reserved bytes and data unchanged
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), 1); // no leftovers
}

TEST(RenameLibrary, RefusalsLeaveTheOldLibraryAlone) {
    test::TempDir dir;
    std::string old = MakeLibraryFile(dir.path(), "alpha", LibraryView::Device);
    MakeLibraryFile(dir.path(), "beta", LibraryView::Device);
    EXPECT_EQ(RenameLibrary(dir.path(), LibraryView::Device, "alpha", "alpha"), RenameResult::NameTaken);
    EXPECT_EQ(RenameLibrary(dir.path(), LibraryView::Device, "alpha", "beta"), RenameResult::NameTaken);
    EXPECT_EQ(RenameLibrary(dir.path(), LibraryView::Device, "alpha", "../escape"), RenameResult::InvalidName);
    EXPECT_EQ(RenameLibrary(dir.path(), LibraryView::Device, "missing", "new"), RenameResult::OldUnreadable);
    EXPECT_FALSE(fs::exists(dir.path() + "new.rlb"));
    EXPECT_EQ(Read(dir.path() + "alpha.rlb"), old);
    // A PC-view rename of a device record is too short for its layout.
    EXPECT_EQ(RenameLibrary(dir.path(), LibraryView::Pc, "alpha", "gamma"), RenameResult::OldUnreadable);
    EXPECT_FALSE(fs::exists(dir.path() + "gamma.rlb"));
    EXPECT_STREQ(RenameMessage(RenameResult::NameTaken), "File name existed");
}

TEST(RenameLibrary, SixtyFourByteNameInTheDeviceView) {
    test::TempDir dir;
    std::string old = MakeLibraryFile(dir.path(), "short", LibraryView::Device);
    std::string longName(64, 'L');
    ASSERT_EQ(RenameLibrary(dir.path(), LibraryView::Device, "short", longName), RenameResult::Done);
    std::string renamed = Read(dir.path() + longName + ".rlb");
    ASSERT_EQ(renamed.size(), 5120u);
    EXPECT_EQ(renamed.substr(0, 64), longName);
    EXPECT_EQ(renamed.substr(64), old.substr(64)); // the year right after the name is intact
}

} // namespace
} // namespace veltrane
