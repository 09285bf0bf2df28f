#include "library/maintenance.h"

#include <algorithm>
#include <filesystem>

#include "library/library_file.h"
#include "platform/file_io.h"
#include "platform/folder_listing.h"

namespace veltrane {

namespace fs = std::filesystem;

std::string DeleteQuestion(const std::vector<std::string>& names) {
    std::string question = "Delete Lib?";
    if (names.size() > 20) return question + "\n\n" + std::to_string(names.size()) + " libraries are ticked.";
    question += "\n\n";
    for (std::size_t i = 0; i < names.size(); ++i) question += std::to_string(i + 1) + ". " + names[i] + "\n";
    return question;
}

std::size_t DeleteLibraries(const std::string& folder, const std::vector<std::string>& names) {
    std::size_t removed = 0;
    for (const std::string& name : names) {
        if (!ValidLibraryName(name)) continue;
        std::error_code error;
        if (fs::remove(LibraryFilePath(folder, name), error)) ++removed;
    }
    return removed;
}

const char* RenameMessage(RenameResult result) {
    switch (result) {
    case RenameResult::Done: return "Process Completed";
    case RenameResult::NameTaken: return "File name existed";
    case RenameResult::InvalidName: return kInvalidNameMessage;
    case RenameResult::WriteFailed: return "Can not save file!";
    case RenameResult::OldUnreadable: return "Can not open file!";
    }
    return "";
}

RenameResult RenameLibrary(const std::string& folder, LibraryView view, const std::string& oldName,
                           const std::string& newName) {
    std::string newPath = LibraryFilePath(folder, newName);
    if (!ValidLibraryName(newName) || !ValidLibraryName(oldName)) return RenameResult::InvalidName;
    if (CountMatchingFiles(newPath) > 0) return RenameResult::NameTaken;

    std::string oldPath = LibraryFilePath(folder, oldName);
    std::string content;
    if (ReadFile(oldPath, content, {.maxBytes = 1u << 20, .withinFolder = true}) != LoadResult::Loaded ||
        content.size() < LibraryFileSize(view))
        return RenameResult::OldUnreadable;
    content.resize(LibraryFileSize(view));
    SpectrumHeader header;
    std::copy_n(content.begin(), kHeaderSize, header.bytes.begin());
    std::fill_n(header.bytes.begin(), kNameFieldSize, std::uint8_t{0});
    header.setName(newName);
    std::copy(header.bytes.begin(), header.bytes.end(), content.begin());

    if (!WriteFileAtomically(newPath, content)) return RenameResult::WriteFailed;
    std::error_code error;
    if (!fs::remove(oldPath, error)) {
        // Two files of one library would list it twice: take the new one back.
        fs::remove(newPath, error);
        return RenameResult::WriteFailed;
    }
    return RenameResult::Done;
}

} // namespace veltrane
