#pragma once

// The library folder the library_index target searches. Its path is the same
// in every process (the index keys rows by path, and the seed index must
// name the file the target reads), so it holds one fixed PC library with a
// fixed modification time, written only when missing or different.

#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "library/library_file.h"
#include "platform/file_io.h"

namespace veltrane::fuzz {

inline std::string IndexRigFolder() {
    return (std::filesystem::temp_directory_path() / "veltrane-fuzz-index" / "local").string() + "/";
}

inline std::string IndexRigLibraryPath() {
    return IndexRigFolder() + "Sample.rlb";
}

inline std::string IndexRigLibraryBytes() {
    std::vector<float> y(kPcLibraryPoints), x(kPcLibraryPoints);
    for (std::size_t i = 0; i < kPcLibraryPoints; ++i) {
        x[i] = 300.0f + 1.2f * static_cast<float>(i);
        double d = (x[i] - 1001.0) / 4.0;
        y[i] = static_cast<float>(200.0 + 0.1 * x[i] + 1000.0 / (1.0 + d * d) + 10.0 * std::sin(0.37 * i));
    }
    SpectrumHeader header;
    header.setName("Sample");
    header.setModelCode(179);
    header.setDateTime({2024, 5, 6, 7, 8, 9});
    return EncodePcLibraryFile(header, y.data(), x.data());
}

inline void MakeIndexRigLibrary() {
    std::filesystem::create_directories(IndexRigFolder());
    std::string bytes = IndexRigLibraryBytes(), present;
    if (ReadWholeFile(IndexRigLibraryPath(), present) != LoadResult::Loaded || present != bytes)
        WriteFileAtomically(IndexRigLibraryPath(), bytes);
    std::error_code ec;
    std::filesystem::last_write_time(IndexRigLibraryPath(),
                                     std::filesystem::file_time_type(std::chrono::seconds(1700000000)), ec);
}

} // namespace veltrane::fuzz
