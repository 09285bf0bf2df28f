#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "interchange/delimited_text.h"
#include "measure/spectrum_header.h"

namespace veltrane {

// Turning other programs' spectrum files (and raw files) into PC library
// entries: one file or a whole folder of them.
struct ImportOptions {
    // The entry's name: the file's own name field (a title, NAMES, the raw
    // header's name) when it has one, else the file name without extension.
    bool nameFromHeader = true;
    // For files whose X is in wavelengths and that do not name their laser.
    double laserNm = 0.0;
    // Take intensities that are no Raman intensities (absorbance,
    // transmittance) all the same.
    bool force = false;
    ColumnChoice columns;
    // Added to every Raman shift: the correction check-axis finds for the
    // instrument the files come from, so a library measured on an axis a few
    // cm-1 off does not lead every search astray.
    double axisOffset = 0.0;
};

struct ImportResult {
    std::string file;
    bool imported = false;
    std::string name;   // of the new entry
    std::string reason; // why the file was skipped
    std::string notice; // something read but worth saying
};

// Files below `dir` that may be spectra, sorted: regular files (or links
// to them) not starting with '.'; with `recursive` those of every subfolder
// too. `error` says why the folder cannot be listed.
std::vector<std::string> SpectrumFilesIn(const std::string& dir, bool recursive, std::string& error);

// What an import of many files came to, as the window says it: a line of
// counts, and the files that were skipped (or read with a notice), one line
// each with the reason. Fewer results than `total` files: the import was
// cancelled; `flushed` is false when
// the new entries could not be flushed to disk.
struct ImportSummary {
    std::string headline;
    std::string details;
};
ImportSummary SummariseImport(const std::vector<ImportResult>& results, std::size_t total, bool flushed);

class SpectrumImporter {
public:
    // `libraryFolder` ends in '/'; its names are listed once, here.
    SpectrumImporter(std::string libraryFolder, ImportOptions options, LocalDateTime now);
    ~SpectrumImporter();
    ImportResult importFile(const std::string& path);
    // Flushes the new entries to disk; false when that failed.
    bool finish();

private:
    std::string uniqueName(std::string wanted);

    std::string folder_;
    ImportOptions options_;
    LocalDateTime now_;
    std::set<std::string> taken_;
};

} // namespace veltrane
