#include "library/library_file.h"

#include <algorithm>

#include "platform/byte_order.h"
#include "platform/file_io.h"
#include "platform/folder_listing.h"

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
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/') return false;
    return true;
}

bool FolderEntryName(const std::string& fileName) {
    return !fileName.empty() && fileName != "." && fileName != ".." && fileName.find('/') == std::string::npos;
}

bool LibraryFileTaken(const std::string& folder, const std::string& fileName, const std::string& except) {
    auto lower = [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); };
    auto same = [&](const std::string& a, const std::string& b) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) return false;
        return true;
    };
    // Listed rather than probed: "A.RLB" takes the name "a.rlb" as the
    // listing shows both, and a name with '*' or '?' is no pattern.
    for (const std::string& entry : ListMatching(folder, "*"))
        if (entry != except && same(entry, fileName)) return true;
    return false;
}

namespace {

bool ValidUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        std::uint32_t code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false; // cut short
        for (std::size_t k = 1; k <= extra; ++k) {
            auto t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            code = (code << 6) | (t & 0x3F);
        }
        // Overlong forms, surrogates and code points past Unicode.
        if ((extra == 2 && code < 0x800) || (extra == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// Windows-1252 from 0x80 to 0x9F; the five unassigned bytes stay the C1
// controls of the same value, as Windows itself maps them.
constexpr std::uint16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                           0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                           0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                           0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

std::string DisplayName(const std::string& bytes) {
    if (ValidUtf8(bytes)) return bytes;
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes)
        AppendUtf8(out, c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c);
    return out;
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
