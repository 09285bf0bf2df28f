#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace veltrane::test {

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::random_device random;
        m_path = std::filesystem::temp_directory_path() / ("veltrane-test-" + std::to_string(random()) + "-" +
                                                           std::to_string(random()));
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path() const { return m_path.string() + "/"; }

private:
    std::filesystem::path m_path;
};

} // namespace veltrane::test
