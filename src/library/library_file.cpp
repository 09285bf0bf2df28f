#include "library/library_file.h"

#include <algorithm>

#include "platform/byte_order.h"
#include "platform/file_io.h"

namespace veltrane {

std::size_t LibraryPoints(LibraryView view) {
    return view == LibraryView::Device ? kDeviceRecordPoints : kPcLibraryPoints;
}

std::size_t LibraryFileSize(LibraryView view) {
    return view == LibraryView::Device ? kDeviceRecordSize : kPcLibrarySize;
}

std::string LibraryFolderPath(const std::string& libraryRoot, LibraryView view) {
    std::string root = libraryRoot;
    if (!root.empty() && root.back() != '/') root.push_back('/');
    return root + (view == LibraryView::Device ? "device/" : "local/");
}

std::string LibraryFilePath(const std::string& folder, const std::string& name) {
    return folder + name + kLibraryExtension;
}

std::string LibraryModelName(std::uint16_t code, BrandVariant brand) {
    bool korvel = brand == BrandVariant::Korvel;
    if (code == 0 || code == 179) return korvel ? "QX810A" : "TL100";
    if (code == 180) return korvel ? "QX810B" : "TL200";
    return "";
}

bool ValidLibraryName(const std::string& name) {
    if (name == "." || name == "..") return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) return false;
        if (std::string_view("/\\*?<>:\"|").find(static_cast<char>(c)) != std::string_view::npos) return false;
    }
    return true;
}

bool ReadLibraryHeader(const std::string& path, SpectrumHeader& header) {
    std::string bytes;
    if (ReadFile(path, bytes, {.maxBytes = kHeaderSize, .firstBytesOnly = true, .withinFolder = true}) !=
            LoadResult::Loaded ||
        bytes.size() < kHeaderSize)
        return false;
    std::copy_n(bytes.begin(), kHeaderSize, header.bytes.begin());
    return true;
}

CurveRead DecodeLibraryCurve(std::string_view bytes, LibraryView view, SpectrumHeader& header, float* intensity,
                             float* axis) {
    if (bytes.size() < LibraryFileSize(view)) return CurveRead::TooShort;
    const auto* b = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::copy_n(b, kHeaderSize, header.bytes.begin());
    if (view == LibraryView::Device) {
        for (std::size_t k = 0; k < kDeviceRecordPoints; ++k) {
            intensity[k] = static_cast<float>(GetU16(b + kDeviceIntensityOffset + 2 * k));
            // Tenths of a wavenumber, dropped by integer division.
            axis[k] = static_cast<float>(GetU16(b + kDeviceAxisOffset + 2 * k) / 10);
        }
    } else {
        for (std::size_t i = 0; i < kPcLibraryPoints; ++i) {
            intensity[i] = GetF32(b + kPcIntensityOffset + 4 * i);
            axis[i] = GetF32(b + kPcAxisOffset + 4 * i);
        }
    }
    return CurveRead::Ok;
}

CurveRead ReadLibraryCurve(const std::string& path, LibraryView view, SpectrumHeader& header, float* intensity,
                           float* axis) {
    std::string bytes;
    // Only the layout's own bytes are read, however large the file.
    if (ReadFile(path, bytes, {.maxBytes = LibraryFileSize(view), .firstBytesOnly = true, .withinFolder = true}) !=
        LoadResult::Loaded)
        return CurveRead::Unreadable;
    return DecodeLibraryCurve(bytes, view, header, intensity, axis);
}

std::string EncodePcLibraryFile(const SpectrumHeader& header, const float* intensities, const float* axis) {
    std::string bytes(kPcLibrarySize, '\0');
    auto* b = reinterpret_cast<std::uint8_t*>(bytes.data());
    std::copy(header.bytes.begin(), header.bytes.end(), b);
    for (std::size_t i = 0; i < kPcLibraryPoints; ++i) {
        PutF32(b + kPcIntensityOffset + 4 * i, intensities[i]);
        PutF32(b + kPcAxisOffset + 4 * i, axis[i]);
    }
    return bytes;
}

bool WritePcLibraryFile(const std::string& path, const SpectrumHeader& header, const float* intensities,
                        const float* axis) {
    return WriteFileAtomically(path, EncodePcLibraryFile(header, intensities, axis));
}

} // namespace veltrane
