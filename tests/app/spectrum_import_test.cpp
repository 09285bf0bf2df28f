#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "app/spectrum_import.h"
#include "library/library_file.h"
#include "support/temp_dir.h"

namespace veltrane {
namespace {

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string Jcamp(const std::string& yUnits) {
    return "##TITLE=Film\n##JCAMP-DX=4.24\n##XUNITS=1/CM\n##YUNITS=" + yUnits +
           "\n##XYPOINTS=(XY..XY)\n400, 1\n500, 2\n600, 3\n##END=\n";
}

// A folder of many files of every kind read, as a person collects them: the
// entries' names come from the files' own name fields, else the file names,
// and clash neither with each other nor with entries already there.
TEST(SpectrumImport, AFolderOfMixedFilesBecomesEntries) {
    test::TempDir source, library;
    Write(library.path() + "Quartz.rlb", std::string(20120, '\0'));
    constexpr int kFiles = 1000;
    for (int i = 0; i < kFiles; ++i) {
        const std::string n = std::to_string(i);
        switch (i % 5) {
        case 0: // a public database's file named by its header
            Write(source.path() + "db" + n + ".txt", "##NAMES=Quartz\n##END=\n100, 1\n200, 2\n300, 1\n");
            break;
        case 1: // a table of named columns
            Write(source.path() + "export" + n + ".csv",
                  "name,\nwl,785\nPixel,Wavelength,Raman Shift,Raw,Processed\n0,800,238.8,10,5\n1,810,393.2,12,7\n");
            break;
        case 2:
            Write(source.path() + "film" + n + ".jdx", Jcamp("COUNTS"));
            break;
        case 3: // not a Raman spectrum
            Write(source.path() + "ir" + n + ".jdx", Jcamp("TRANSMITTANCE"));
            break;
        case 4: // damaged
            Write(source.path() + "bad" + n + ".csv", "shift,intensity\n100,1\nnoise\n");
            break;
        }
    }
    std::string error;
    std::vector<std::string> files = SpectrumFilesIn(source.path(), false, error);
    ASSERT_EQ(files.size(), static_cast<std::size_t>(kFiles)) << error;
    SpectrumImporter importer(library.path(), ImportOptions{}, LocalDateTime{2026, 12, 9, 12, 0, 0});
    std::map<std::string, int> reasons;
    std::set<std::string> names;
    for (const std::string& file : files) {
        ImportResult r = importer.importFile(file);
        if (r.imported) {
            EXPECT_TRUE(names.insert(r.name).second) << r.name;
            SpectrumHeader header;
            ASSERT_TRUE(ReadLibraryHeader(library.path() + r.name + ".rlb", header)) << r.name;
            EXPECT_EQ(header.name(), r.name);
        } else {
            ++reasons[r.reason];
        }
    }
    EXPECT_TRUE(importer.finish());
    EXPECT_EQ(names.size(), 600u);
    EXPECT_EQ(reasons["Intensities in TRANSMITTANCE are not a Raman spectrum."], 200);
    EXPECT_EQ(reasons["Line 3 is not two numbers."], 200);
    // Quartz was taken before the import began.
    EXPECT_EQ(names.count("Quartz"), 0u);
    EXPECT_EQ(names.count("Quartz (2)"), 1u);
    EXPECT_EQ(names.count("Quartz (201)"), 1u);
    EXPECT_EQ(names.count("export1"), 1u); // an empty name field gives the file's name
    EXPECT_EQ(names.count("Film (200)"), 1u);

    // With --force the transmittance file is taken; by file name, as asked.
    ImportOptions options;
    options.force = true;
    options.nameFromHeader = false;
    SpectrumImporter forced(library.path(), options, LocalDateTime{2026, 12, 9, 12, 0, 0});
    ImportResult r = forced.importFile(source.path() + "ir3.jdx");
    EXPECT_TRUE(r.imported) << r.reason;
    EXPECT_EQ(r.name, "ir3");
}

} // namespace
} // namespace veltrane
