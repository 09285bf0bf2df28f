#include <filesystem>

#include "cli/commands.h"
#include "cli/input.h"
#include "cli/output.h"
#include "library/catalogue.h"
#include "library/library_file.h"
#include "platform/folder_listing.h"

namespace veltrane {

namespace {

constexpr const char* kNoFolder = "Can not open folder!";
constexpr const char* kFolderUnreadable = "Can not read folder!";

struct ListValues {
    std::string folder;
    bool json = false;
};

int RunList(const ListValues& v, const CliStreams& io) {
    std::string folder = v.folder;
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        io.err << Shown(folder) << ": " << kNoFolder << "\n";
        return kExitFailure;
    }
    if (folder.back() != '/') folder += '/';
    // An unreadable folder would list as an empty one.
    std::vector<std::string> files;
    if (!ListMatching(folder, kLibraryPattern, files)) {
        io.err << Shown(folder) << ": " << kFolderUnreadable << "\n";
        return kExitFailure;
    }
    Json rows = Json::array();
    for (const CatalogueRow& row : ListLibraryFolder(folder, kBrandVariant)) {
        if (v.json) {
            rows.push_back({{"name", row.name},
                            {"model", row.model},
                            {"date", row.date},
                            {"file", row.fileName},
                            {"readable", row.readable}});
            continue;
        }
        // Names are escaped, so a tab or a line break in a header can neither
        // add a column nor forge a row.
        io.out << Shown(row.name) << "\t" << Shown(row.model) << "\t" << Shown(row.date) << "\n";
    }
    if (v.json) io.out << JsonText(Json{{"libraries", rows}});
    if (files.size() > kMaxCatalogueRows) {
        io.err << Shown(folder) << ": " << files.size() << " library files; only the first " << kMaxCatalogueRows
               << " are listed.\n";
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace

Command DefineList(CLI::App& tool) {
    auto v = std::make_shared<ListValues>();
    CLI::App* app = AddCommand(tool, "list", "the libraries of a folder: name, model, date", R"(
One line per library file of DIR in the application's order: name, model
name, date, separated by tabs, control characters escaped (\t, \n, \xHH).
Exit status 1 when DIR cannot be read, or holds more than 65535 library files
(the first 65535 are listed).)");
    app->add_option("DIR", v->folder, "the folder")->required()->type_name("DIR");
    AddJsonFlag(*app, v->json);
    return DefineCommand(app, v, RunList);
}

} // namespace veltrane
