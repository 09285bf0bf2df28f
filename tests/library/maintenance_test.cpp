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

// A library whose header says `name`, in the file `file` (by default the
// name's own file).
std::string MakeLibraryFile(const std::string& folder, const std::string& name, LibraryView view,
                            std::string file = {}) {
    SpectrumHeader header;
    header.setName(name);
    header.setDateTime({2025, 12, 1, 23, 59, 58});
    header.setModelCode(179);
    header.bytes[100] = 0x5A; // a reserved byte, kept by a rename
    std::string content(LibraryFileSize(view), '\0');
    std::copy(header.bytes.begin(), header.bytes.end(), content.begin());
    for (std::size_t i = kHeaderSize; i < content.size(); ++i) content[i] = static_cast<char>(i * 31);
    if (file.empty()) file = name + ".rlb";
    std::ofstream(folder + file, std::ios::binary) << content;
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

TEST(DeleteLibraries, RemovesTheListedFilesAndNothingElse) {
    test::TempDir dir;
    fs::create_directories(dir.path() + "local");
    std::string folder = dir.path() + "local/";
    for (const char* name : {"a", "b", "c"}) MakeLibraryFile(folder, name, LibraryView::Pc);
    // A copy that carries the same header name, and a file whose extension
    // is written in capitals: each row deletes its own file.
    MakeLibraryFile(folder, "a", LibraryView::Pc, "copy_of_a.rlb");
    MakeLibraryFile(folder, "Upper", LibraryView::Pc, "Upper.RLB");
    std::ofstream(dir.path() + "outside.rlb") << "keep";
    EXPECT_EQ(DeleteLibraries(folder, {"copy_of_a.rlb", "Upper.RLB", "c.rlb", "../outside.rlb", "gone.rlb"}), 3u);
    EXPECT_TRUE(fs::exists(folder + "a.rlb"));
    EXPECT_FALSE(fs::exists(folder + "copy_of_a.rlb"));
    EXPECT_FALSE(fs::exists(folder + "Upper.RLB"));
    EXPECT_FALSE(fs::exists(folder + "c.rlb"));
    EXPECT_TRUE(fs::exists(folder + "b.rlb"));
    EXPECT_TRUE(fs::exists(dir.path() + "outside.rlb"));
}

TEST(RenameLibrary, NewFileCarriesEverythingButTheName) {
    test::TempDir dir;
    std::string old = MakeLibraryFile(dir.path(), "alpha", LibraryView::Pc);
    ASSERT_EQ(RenameLibrary(dir.path(), LibraryView::Pc, "alpha.rlb", "beta"), RenameResult::Done);
    EXPECT_FALSE(fs::exists(dir.path() + "alpha.rlb"));
    std::string renamed = Read(dir.path() + "beta.rlb");
    ASSERT_EQ(renamed.size(), 20120u);
    EXPECT_EQ(renamed.substr(0, 5), std::string("beta\0", 5));
    for (std::size_t i = 5; i < 64; ++i) EXPECT_EQ(renamed[i], '\0') << i; // the old name is wiped
    EXPECT_EQ(renamed.substr(64), old.substr(64)); // date, model, reserved bytes and data unchanged
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), 1); // no leftovers
}

TEST(RenameLibrary, TheListedFileIsRenamedWhateverItsHeaderSays) {
    test::TempDir dir;
    MakeLibraryFile(dir.path(), "Upper", LibraryView::Pc, "Upper.RLB");
    std::string alpha = MakeLibraryFile(dir.path(), "alpha", LibraryView::Pc);
    MakeLibraryFile(dir.path(), "alpha", LibraryView::Pc, "copy_of_alpha.rlb");
    ASSERT_EQ(RenameLibrary(dir.path(), LibraryView::Pc, "Upper.RLB", "upper"), RenameResult::Done);
    EXPECT_FALSE(fs::exists(dir.path() + "Upper.RLB"));
    EXPECT_EQ(Read(dir.path() + "upper.rlb").substr(0, 6), std::string("upper\0", 6));
    ASSERT_EQ(RenameLibrary(dir.path(), LibraryView::Pc, "copy_of_alpha.rlb", "second"), RenameResult::Done);
    EXPECT_EQ(Read(dir.path() + "alpha.rlb"), alpha);
    EXPECT_FALSE(fs::exists(dir.path() + "copy_of_alpha.rlb"));
    // A name that is no UTF-8 (a Windows code page) renames like any other.
    std::string cp1252 = "caf\xE9";
    MakeLibraryFile(dir.path(), cp1252, LibraryView::Pc);
    ASSERT_EQ(RenameLibrary(dir.path(), LibraryView::Pc, cp1252 + ".rlb", "cafe"), RenameResult::Done);
    EXPECT_TRUE(fs::exists(dir.path() + "cafe.rlb"));
}

TEST(RenameLibrary, RefusalsLeaveTheOldLibraryAlone) {
    test::TempDir dir;
    std::string old = MakeLibraryFile(dir.path(), "alpha", LibraryView::Pc);
    MakeLibraryFile(dir.path(), "beta", LibraryView::Pc, "BETA.rlb");
    EXPECT_EQ(RenameLibrary(dir.path(), LibraryView::Pc, "alpha.rlb", "alpha"), RenameResult::NameTaken);
    EXPECT_EQ(RenameLibrary(dir.path(), LibraryView::Pc, "alpha.rlb", "beta"), RenameResult::NameTaken);
    EXPECT_EQ(RenameLibrary(dir.path(), LibraryView::Pc, "alpha.rlb", "../escape"), RenameResult::InvalidName);
    EXPECT_EQ(RenameLibrary(dir.path(), LibraryView::Pc, "../alpha.rlb", "new"), RenameResult::InvalidName);
    EXPECT_EQ(RenameLibrary(dir.path(), LibraryView::Pc, "missing.rlb", "new"), RenameResult::OldUnreadable);
    EXPECT_FALSE(fs::exists(dir.path() + "new.rlb"));
    EXPECT_EQ(Read(dir.path() + "alpha.rlb"), old);
    // A device-view rename of a PC library reads it as a record; a PC-view
    // rename of a record finds it too short.
    MakeLibraryFile(dir.path(), "rec", LibraryView::Device);
    EXPECT_EQ(RenameLibrary(dir.path(), LibraryView::Pc, "rec.rlb", "gamma"), RenameResult::OldUnreadable);
    EXPECT_FALSE(fs::exists(dir.path() + "gamma.rlb"));
    EXPECT_STREQ(RenameMessage(RenameResult::NameTaken), "File name existed");
}

TEST(RenameLibrary, DeviceMirrorFilesAreRewrittenInPlace) {
    test::TempDir dir;
    std::string old = MakeLibraryFile(dir.path(), "short", LibraryView::Device, "00002 short.rlb");
    MakeLibraryFile(dir.path(), "other", LibraryView::Device, "00001 other.rlb");
    EXPECT_EQ(RenameLibrary(dir.path(), LibraryView::Device, "00002 short.rlb", "other"), RenameResult::NameTaken);
    std::string longName(64, 'L');
    ASSERT_EQ(RenameLibrary(dir.path(), LibraryView::Device, "00002 short.rlb", longName), RenameResult::Done);
    // The file keeps its place in the store's order.
    std::string renamed = Read(dir.path() + "00002 short.rlb");
    ASSERT_EQ(renamed.size(), 5120u);
    EXPECT_EQ(renamed.substr(0, 64), longName);
    EXPECT_EQ(renamed.substr(64), old.substr(64)); // the year right after the name is intact
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), 2);
}

} // namespace
} // namespace veltrane
