// Library names from the instrument becoming PC file names: SafeRecordName,
// and the whole import (importFromDevice) of a store whose records carry the
// input as their name fields, 64 bytes each, into a scratch device folder.

#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include "app/program_state.h"
#include "device/device_connection.h"
#include "fuzz_support.h"
#include "instrument_rig.h"
#include "library/library_file.h"
#include "platform/file_io.h"
#include "sim/simulated_bridge.h"
#include "sim/virtual_instrument.h"
#include "transfer/transfer.h"

using namespace veltrane;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxRecords = 4;

void CheckFileName(const std::string& name, const std::string& safe) {
    FUZZ_CHECK(!safe.empty() && safe != "." && safe != "..");
    FUZZ_CHECK(safe.find('/') == std::string::npos && safe.find('\0') == std::string::npos);
    FUZZ_CHECK(ValidLibraryName(safe));
    // It must fit the header's name field, which is rewritten to it.
    FUZZ_CHECK(safe.size() <= kNameFieldSize);
    FUZZ_CHECK(SafeRecordName(safe) == safe);
    if (!name.empty() && ValidLibraryName(name)) FUZZ_CHECK(safe == name);
}

struct Rig : fuzz::InstrumentRig {
    Rig() {
        ApplyStartupValues(*state);
        CheckDevice(*link, clock, *state);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Rig rig;
    fuzz::InputReader in(data, size);

    std::vector<std::uint8_t> store;
    std::set<std::string> expectedFiles;
    for (std::size_t r = 0; r < kMaxRecords && in.remaining() > 0; ++r) {
        std::vector<std::uint8_t> record(kDeviceRecordSize, 0);
        in.fill(record.data(), kNameFieldSize);
        SpectrumHeader header;
        std::copy_n(record.begin(), kHeaderSize, header.bytes.begin());
        std::string name = header.name();
        std::string safe = SafeRecordName(name);
        CheckFileName(name, safe);
        expectedFiles.insert(safe + kLibraryExtension);
        store.insert(store.end(), record.begin(), record.end());
    }

    fuzz::EmptyScratchFolder();
    const std::string folder = fuzz::ScratchFolder() + "device/";
    fs::create_directories(folder);
    rig.instrument->setFile(kDeviceLibraryPath, store);
    TransferContext ctx{*rig.link, rig.clock, *rig.state, folder, nullptr, {}};
    FUZZ_CHECK(importFromDevice(ctx) == 0);
    FUZZ_CHECK(rig.instrument->violations().empty());

    // Nothing lands outside the device folder, every file there is one the
    // names called for, and each file's header names the file it is in.
    std::set<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(fuzz::ScratchFolder())) {
        if (entry.is_directory()) {
            FUZZ_CHECK(entry.path().string() + "/" == folder);
            continue;
        }
        FUZZ_CHECK(entry.is_regular_file());
        FUZZ_CHECK(entry.path().parent_path().string() + "/" == folder);
        std::string fileName = entry.path().filename().string();
        found.insert(fileName);
        std::string content;
        FUZZ_CHECK(ReadWholeFile(entry.path().string(), content) == LoadResult::Loaded);
        FUZZ_CHECK(content.size() == kDeviceRecordSize);
        SpectrumHeader header;
        std::copy_n(content.begin(), kHeaderSize, header.bytes.begin());
        FUZZ_CHECK(header.name() + kLibraryExtension == fileName);
    }
    FUZZ_CHECK(found == expectedFiles);
    return 0;
}
