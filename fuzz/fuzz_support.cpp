#include "fuzz_support.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace veltrane::fuzz {

namespace fs = std::filesystem;

const std::string& ScratchFolder() {
    // Never destroyed, so the clean-up at exit can still use it.
    static const std::string* folder = [] {
        fs::path path = fs::temp_directory_path() / ("veltrane-fuzz-" + std::to_string(::getpid()));
        fs::create_directories(path);
        auto* name = new std::string(path.string() + "/");
        // Nothing of a run is worth keeping on disk: the findings are inputs.
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(fs::path(ScratchFolder()), ec);
        });
        return name;
    }();
    return *folder;
}

void EmptyScratchFolder() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(ScratchFolder(), ec)) fs::remove_all(entry.path(), ec);
}

bool SameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace veltrane::fuzz
