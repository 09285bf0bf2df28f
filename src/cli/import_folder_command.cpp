// import-folder: a folder of spectrum files into PC library entries.

#include <memory>

#include "app/spectrum_import.h"
#include "cli/commands.h"
#include "cli/input.h"
#include "cli/output.h"
#include "measure/spectrum_header.h"

namespace veltrane {

namespace {

constexpr int kExitSomeSkipped = 3;

struct ImportFolderValues {
    std::string dir, folder, nameFrom = "header";
    ReadChoices read;
    bool recursive = false, force = false, json = false;
    double axisOffset = 0.0;
};

int RunImportFolder(const ImportFolderValues& v, const CliStreams& io) {
    ImportOptions options;
    options.nameFromHeader = v.nameFrom == "header";
    options.laserNm = v.read.laserNm;
    options.force = v.force;
    options.columns = ColumnChoiceOf(v.read.columns);
    options.axisOffset = v.axisOffset;
    std::string error;
    std::vector<std::string> files = SpectrumFilesIn(v.dir, v.recursive, error);
    if (!error.empty()) {
        io.err << Shown(v.dir) << ": " << error << "\n";
        return kExitFailure;
    }
    SpectrumImporter importer(v.folder, options, CurrentLocalDateTime());
    Json document = {{"folder", v.folder}, {"files", Json::array()}};
    std::size_t imported = 0;
    for (const std::string& file : files) {
        ImportResult r = importer.importFile(file);
        Json entry = {{"file", file}, {"imported", r.imported}};
        if (r.imported) {
            ++imported;
            entry["name"] = r.name;
            if (!v.json) io.out << "imported " << Shown(r.name) << "\n";
        } else {
            entry["reason"] = r.reason;
            if (!v.json) io.out << "skipped " << Shown(file) << ": " << r.reason << "\n";
        }
        if (!r.notice.empty()) {
            entry["notice"] = r.notice;
            if (!v.json) io.err << Shown(file) << ": " << r.notice << "\n";
        }
        document["files"].push_back(std::move(entry));
    }
    if (!importer.finish() && imported > 0) {
        io.err << Shown(v.folder) << ": the new entries could not be flushed to disk.\n";
        return kExitFailure;
    }
    const std::size_t skipped = files.size() - imported;
    document["imported"] = imported;
    document["skipped"] = skipped;
    if (v.json)
        io.out << JsonText(document) << "\n";
    else
        io.out << "Imported " << imported << " of " << files.size() << " files; " << skipped << " skipped.\n";
    if (imported == 0) return kExitFailure;
    return skipped > 0 ? kExitSomeSkipped : kExitOk;
}

} // namespace

Command DefineImportFolder(CLI::App& tool) {
    auto v = std::make_shared<ImportFolderValues>();
    CLI::App* app = AddCommand(tool, "import-folder", "every spectrum file of a folder as PC library entries", R"help(
Imports every readable spectrum file of DIR (with --recursive, of its subfolders
too) as a PC library entry in the folder given by --folder. An entry is named by
the file's own name field (a title, ##NAMES, a raw file's name) or, with
--name-from file or when it has none, by the file name without its extension;
a name already taken gets " (2)", " (3)" ... Prints "imported NAME" or
"skipped FILE: reason" for each file, then a summary. Intensities that are not
a Raman spectrum's (absorbance, transmittance) are skipped unless --force is
given. --axis-offset adds a correction to every Raman shift, as check-axis
finds it for the instrument the files were measured on. Exit status 0 when
every file was imported, 3 when some were skipped, 1 when none was imported.)help");
    app->add_option("DIR", v->dir, "the folder of spectrum files")->required();
    AddFolderOption(*app, v->folder);
    app->add_option("--name-from", v->nameFrom, "the entry's name from the file's name field (header, the default) or its file name (file)")
        ->type_name("header|file")
        ->check(OneOf({"header", "file"}, "--name-from is header or file, not"));
    AddReadOptions(*app, v->read);
    app->add_flag("--recursive", v->recursive, "also the files of every subfolder");
    app->add_flag("--force", v->force, "import intensities that are not a Raman spectrum's too");
    AddAxisOffsetOption(*app, v->axisOffset);
    AddJsonFlag(*app, v->json);
    return DefineCommand(app, v, RunImportFolder);
}

} // namespace veltrane
