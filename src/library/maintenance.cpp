#include "library/maintenance.h"

#include <algorithm>
#include <filesystem>

#include "library/library_file.h"
#include "platform/file_io.h"
#include "platform/folder_listing.h"

namespace veltrane {

namespace fs = std::filesystem;

MaintenanceMenuTexts MaintenanceMenuCaptions(std::size_t ticked, const std::string& name) {
    if (ticked == 0) return {"Delete", "Rename"};
    if (ticked == 1)
        return {"Delete ticked library \"" + name + "\"…", "Rename ticked library \"" + name + "\"…"};
    return {"Delete " + std::to_string(ticked) + " ticked libraries…", "Rename (tick only one library)"};
}

std::string DeleteQuestion(const std::vector<std::string>& names) {
    std::string question = "Delete Lib?";
    if (names.size() > 20) return question + "\n\n" + std::to_string(names.size()) + " libraries are ticked.";
    question += "\n\n";
    for (std::size_t i = 0; i < names.size(); ++i) question += std::to_string(i + 1) + ". " + names[i] + "\n";
    return question;
}

std::size_t DeleteLibraries(const std::string& folder, const std::vector<std::string>& fileNames) {
    std::size_t removed = 0;
    for (const std::string& file : fileNames) {
        if (!FolderEntryName(file)) continue;
        std::error_code error;
        if (fs::remove(folder + file, error)) ++removed;
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

namespace {

// Another record of the device mirror already carries `name`.
bool RecordNameTaken(const std::string& folder, const std::string& name, const std::string& except) {
    SpectrumHeader header;
    for (const std::string& file : ListMatching(folder, kLibraryPattern))
        if (file != except && ReadLibraryHeader(folder + file, header) && header.name() == name) return true;
    return false;
}

} // namespace

RenameResult RenameLibrary(const std::string& folder, LibraryView view, const std::string& oldFile,
                           const std::string& newName) {
    if (!ValidLibraryName(newName) || newName.size() > kNameFieldSize || !FolderEntryName(oldFile))
        return RenameResult::InvalidName;
    bool inPlace = view == LibraryView::Device;
    std::string newFile = inPlace ? oldFile : newName + kLibraryExtension;
    std::string oldPath = folder + oldFile;
    std::string newPath = folder + newFile;

    std::string content;
    if (ReadFile(oldPath, content, {.maxBytes = 1u << 20, .withinFolder = true}) != LoadResult::Loaded ||
        content.size() < LibraryFileSize(view))
        return RenameResult::OldUnreadable;
    content.resize(LibraryFileSize(view));
    SpectrumHeader header;
    std::copy_n(content.begin(), kHeaderSize, header.bytes.begin());
    // Its own name is taken too: a rename to it would change nothing.
    if (header.name() == newName) return RenameResult::NameTaken;
    if (inPlace ? RecordNameTaken(folder, newName, oldFile) : LibraryFileTaken(folder, newFile, oldFile))
        return RenameResult::NameTaken;
    std::fill_n(header.bytes.begin(), kNameFieldSize, std::uint8_t{0});
    header.setName(newName);
    std::copy(header.bytes.begin(), header.bytes.end(), content.begin());

    if (!WriteFileAtomically(newPath, content)) return RenameResult::WriteFailed;
    if (inPlace || newPath == oldPath) return RenameResult::Done;
    std::error_code error;
    if (!fs::remove(oldPath, error)) {
        // Two files of one library would list it twice: take the new one back.
        fs::remove(newPath, error);
        return RenameResult::WriteFailed;
    }
    return RenameResult::Done;
}

} // namespace veltrane
