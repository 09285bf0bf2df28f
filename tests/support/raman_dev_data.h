#pragma once

// The real measured spectra of the development data (RRUFF minerals, see
// that folder's README for sources and the citation RRUFF asks for), read
// for tests and evaluations that need real spectra. They are not part of
// the project: a test that needs them is skipped without them.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "interchange/interchange.h"

#ifndef VELTRANE_PROJECT_DIR
#define VELTRANE_PROJECT_DIR "."
#endif

namespace veltrane::test {

struct DevSpectrum {
    std::string material;
    std::string role; // "library" or "query_other_sample"
    std::vector<double> x, y;
};

// $VELTRANE_DEV_DATA, else ../shared/data/raman-dev beside the project;
// empty when neither holds the data.
inline std::string RamanDevFolder() {
    const char* given = std::getenv("VELTRANE_DEV_DATA");
    std::string folder = given && *given ? given : std::string(VELTRANE_PROJECT_DIR) + "/../shared/data/raman-dev";
    return std::filesystem::exists(folder + "/index.csv") ? folder : std::string();
}

// The mineral spectra with the given roles, in the order of index.csv.
inline std::vector<DevSpectrum> LoadMinerals(const std::string& folder) {
    std::vector<DevSpectrum> out;
    std::ifstream index(folder + "/index.csv");
    std::string line;
    std::getline(index, line); // the column names
    while (std::getline(index, line)) {
        std::vector<std::string> cells;
        std::stringstream row(line);
        for (std::string cell; std::getline(row, cell, ',') && cells.size() < 4;)
            cells.push_back(cell);
        if (cells.size() < 4 || cells[0] != "rruff") continue;
        if (cells[3] != "library" && cells[3] != "query_other_sample") continue;
        std::ifstream file(folder + "/" + cells[2], std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        InterchangeSpectrum s;
        if (!ReadInterchangeSpectrum(bytes, InterchangeFormat::Csv, 0, s).ok) continue;
        DevSpectrum d{cells[1], cells[3], {s.x.begin(), s.x.end()}, {s.y.begin(), s.y.end()}};
        out.push_back(std::move(d));
    }
    return out;
}

} // namespace veltrane::test
