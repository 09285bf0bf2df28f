#include "platform/file_io.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include <unistd.h>

namespace veltrane {

namespace fs = std::filesystem;

namespace {

std::string temporaryName(const std::string& target) {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    static constexpr char kHex[] = "0123456789abcdef";
    std::uint64_t bits = generator();
    std::string name = target + ".tmp";
    for (int i = 0; i < 8; ++i, bits >>= 4)
        name += kHex[bits & 0xF];
    return name;
}

} // namespace

bool WriteFileAtomically(const std::string& requestedPath, std::string_view content) {
    std::error_code ec;
    std::string target = requestedPath;
    // Through a symbolic link, replace the file it points at, not the link.
    if (fs::is_symlink(fs::symlink_status(requestedPath, ec))) {
        const fs::path resolved = fs::weakly_canonical(requestedPath, ec);
        if (ec) return false;
        target = resolved.string();
    }

    std::string tempPath;
    std::FILE* file = nullptr;
    for (int attempt = 0; attempt < 16 && file == nullptr; ++attempt) {
        tempPath = temporaryName(target);
        file = std::fopen(tempPath.c_str(), "wbx"); // fails rather than reuse a name in use
    }
    if (file == nullptr) return false;

    bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    ok = (std::fflush(file) == 0) && ok;
    // On the disk before the rename makes it the file: otherwise a power cut
    // soon after could leave the new name on an empty file.
    ok = ok && ::fsync(::fileno(file)) == 0;
    ok = (std::fclose(file) == 0) && ok;
    if (ok) {
        const fs::file_status old = fs::status(target, ec);
        if (!ec && fs::exists(old))
            fs::permissions(tempPath, old.permissions(), ec); // a failure here only loses the old mode
        fs::rename(tempPath, target, ec);
        ok = !ec;
    }
    if (!ok) fs::remove(tempPath, ec);
    return ok;
}


LoadResult ReadWholeFile(const std::string& path, std::string& content, std::size_t maxBytes) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) return LoadResult::Missing;
    if (ec || status.type() == fs::file_type::directory) return LoadResult::Failed;
    std::uintmax_t size = fs::file_size(path, ec);
    if (!ec && size > maxBytes) return LoadResult::TooLarge;
    std::ifstream in(path, std::ios::binary);
    if (!in) return LoadResult::Failed;
    content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) return LoadResult::Failed;
    return LoadResult::Loaded;
}

} // namespace veltrane
