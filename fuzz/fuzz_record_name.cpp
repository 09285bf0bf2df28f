// Library names from the instrument becoming PC file names:
// DeviceMirrorFileName, and the whole import (importFromDevice) of a store
// whose records carry the input as their name fields, 64 bytes each, into a
// scratch device folder.

#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include "app/connection_check.h"
#include "app/program_state.h"
#include "device/device_connection.h"
#include "fuzz_support.h"
#include "instrument_rig.h"
#include "library/catalogue.h"
#include "library/library_file.h"
#include "platform/file_io.h"
#include "sim/simulated_bridge.h"
#include "sim/virtual_instrument.h"
#include "transfer/transfer.h"

using namespace veltrane;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxRecords = 4;

void CheckFileName(const std::string& file) {
    FUZZ_CHECK(FolderEntryName(file));
    FUZZ_CHECK(file.find('\0') == std::string::npos);
    // Five digits, a blank, at most 64 bytes shown as up to three each, ".rlb".
    FUZZ_CHECK(file.size() <= 5 + 1 + 3 * kNameFieldSize + 4);
    for (unsigned char c : file)
        FUZZ_CHECK(c >= 0x20 && c != 0x7F);
}

struct Rig : fuzz::InstrumentRig {
    Rig() {
        ApplyStartupValues(*state);
        CheckConnection(*link, clock, *state);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Rig rig;
    fuzz::InputReader in(data, size);

    std::vector<std::uint8_t> store;
    std::vector<std::string> expectedFiles;
    for (std::size_t r = 0; r < kMaxRecords && in.remaining() > 0; ++r) {
        std::vector<std::uint8_t> record(kDeviceRecordSize, 0);
        in.fill(record.data(), kNameFieldSize);
        SpectrumHeader header;
        std::copy_n(record.begin(), kHeaderSize, header.bytes.begin());
        std::string file = DeviceMirrorFileName(static_cast<std::uint32_t>(r + 1), header.name());
        CheckFileName(file);
        expectedFiles.push_back(file);
        store.insert(store.end(), record.begin(), record.end());
    }

    fuzz::EmptyScratchFolder();
    const std::string folder = fuzz::ScratchFolder() + "device/";
    fs::create_directories(folder);
    rig.instrument->setFile(kDeviceLibraryPath, store);
    TransferContext ctx{*rig.link, rig.clock, rig.state->library, rig.state->device, folder, nullptr, {}};
    FUZZ_CHECK(importFromDevice(ctx) == 0);
    FUZZ_CHECK(rig.instrument->violations().empty());

    // Nothing lands outside the device folder, and the folder lists the
    // store's records in their order, each byte for byte.
    for (const auto& entry : fs::recursive_directory_iterator(fuzz::ScratchFolder())) {
        if (entry.is_directory()) {
            FUZZ_CHECK(entry.path().string() + "/" == folder);
            continue;
        }
        FUZZ_CHECK(entry.is_regular_file());
        FUZZ_CHECK(entry.path().parent_path().string() + "/" == folder);
    }
    std::vector<CatalogueRow> rows = ListLibraryFolder(folder, kBrandVariant);
    FUZZ_CHECK(rows.size() == expectedFiles.size());
    std::string listed;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        FUZZ_CHECK(rows[r].fileName == expectedFiles[r]);
        std::string content;
        FUZZ_CHECK(ReadWholeFile(folder + rows[r].fileName, content) == LoadResult::Loaded);
        listed += content;
    }
    FUZZ_CHECK(listed == std::string(store.begin(), store.end()));
    return 0;
}
