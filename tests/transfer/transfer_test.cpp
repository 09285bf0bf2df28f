#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "app/connection_check.h"
#include "app/program_state.h"
#include "device/device_connection.h"
#include "library/catalogue.h"
#include "library/library_file.h"
#include "platform/file_io.h"
#include "platform/folder_listing.h"
#include "platform/worker_thread.h"
#include "sim/sample_spectrum.h"
#include "support/file_faults.h"
#include "support/sim_rig.h"
#include "support/temp_dir.h"
#include "transfer/transfer.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using test::SimRig;

std::string Record(const std::string& name, std::uint16_t fill = 0) {
    std::string record(kDeviceRecordSize, static_cast<char>(fill));
    SpectrumHeader header;
    header.setName(name);
    header.setModelCode(179);
    std::copy(header.bytes.begin(), header.bytes.end(), record.begin());
    return record;
}

std::vector<std::uint8_t> Store(const std::vector<std::string>& records) {
    std::vector<std::uint8_t> store;
    for (const std::string& r : records)
        store.insert(store.end(), r.begin(), r.end());
    return store;
}

struct Transfer {
    SimRig rig;
    test::TempDir dir;
    std::unique_ptr<ProgramState> state = std::make_unique<ProgramState>();
    std::vector<std::uint8_t> progress;
    TransferContext ctx{rig.link, rig.clock, state->library, state->device, dir.path() + "device/", nullptr, {}};
    Transfer() {
        ApplyStartupValues(*state);
        CheckConnection(rig.link, rig.clock, *state);
        fs::create_directories(ctx.deviceFolder);
        ctx.progressObserver = [this](std::uint8_t p) { progress.push_back(p); };
        rig.instrument->clearLog();
    }
    std::vector<std::string> deviceFiles() const {
        auto names = ListMatching(ctx.deviceFolder, "*");
        std::sort(names.begin(), names.end());
        return names;
    }
    std::size_t chunksSent() const {
        auto codes = rig.commandCodes();
        return static_cast<std::size_t>(std::count(codes.begin(), codes.end(), wire::kTransferChunk));
    }
    void useView(LibraryView view) {
        state->library.lib.libraryView = view;
        state->library.lib.libraryFolder = LibraryFolderPath(dir.path(), view);
        fs::create_directories(state->library.lib.libraryFolder);
    }
};

TEST(Import, ThreeRecordsInFifteenChunksWithProgress) {
    Transfer t;
    t.rig.instrument->setFile(kDeviceLibraryPath, Store({Record("alpha", 1), Record("beta", 2), Record("gamma", 3)}));
    std::uint32_t start = t.rig.clock.tickCount();
    EXPECT_EQ(importFromDevice(t.ctx), 0);
    EXPECT_EQ(t.chunksSent(), 15u);
    EXPECT_EQ(t.progress, (std::vector<std::uint8_t>{33, 66, 100}));
    EXPECT_EQ(t.deviceFiles(), (std::vector<std::string>{"00001 alpha.rlb", "00002 beta.rlb", "00003 gamma.rlb"}));
    std::string beta;
    ReadWholeFile(t.ctx.deviceFolder + "00002 beta.rlb", beta);
    EXPECT_EQ(beta, Record("beta", 2));
    // The request is asked at once (not ready), then 50 ms later; every chunk
    // costs one 50 ms sleep before its poll. Nothing else waits.
    EXPECT_EQ(t.rig.clock.tickCount() - start, 50u + 15u * 50u);
}

TEST(Import, EmptyShortAndMissingStores) {
    {
        Transfer t;
        t.rig.instrument->setFile(kDeviceLibraryPath, {});
        EXPECT_EQ(importFromDevice(t.ctx), 0);
        EXPECT_EQ(t.chunksSent(), 0u);
        EXPECT_TRUE(t.deviceFiles().empty());
    }
    {
        Transfer t;
        auto store = Store({Record("one", 7)});
        store.resize(6000, 9);
        t.rig.instrument->setFile(kDeviceLibraryPath, store);
        EXPECT_EQ(importFromDevice(t.ctx), 0);
        EXPECT_EQ(t.chunksSent(), 6u);
        std::vector<std::uint32_t> lengths;
        for (const SimLogEntry& e : t.rig.entriesOf(wire::kTransferChunk))
            if (e.kind == SimLogEntry::Kind::Command) lengths.push_back(GetU32(e.bytes.data() + 8));
        EXPECT_EQ(lengths.back(), 880u);
        EXPECT_EQ(t.deviceFiles(), std::vector<std::string>{"00001 one.rlb"});
    }
    {
        Transfer t;
        t.rig.instrument->removeFile(kDeviceLibraryPath);
        EXPECT_EQ(importFromDevice(t.ctx), 4);
        EXPECT_STREQ(TransferResultMessage(4).text, "File not exist!");
    }
}

// Names an instrument may hold that are no Linux file names, or unsafe ones.
std::vector<std::string> HostileRecords() {
    std::string full(64, 'n'); // fills the name field: no terminator, the year follows
    std::string record64 = Record("");
    std::copy(full.begin(), full.end(), record64.begin());
    return {Record("a:b", 1),  Record("../evil", 2),   Record("a\\b", 3), Record("x*?", 4), Record("", 5),
            record64,          Record("same", 6),      Record("same", 7), Record("..", 8),  Record("caf\xE9 \x80", 9),
            Record("a_b", 10), Record("tab\there", 11)};
}

TEST(Import, EveryRecordKeepsItsBytesInAFileOfTheFolder) {
    Transfer t;
    std::vector<std::string> records = HostileRecords();
    t.rig.instrument->setFile(kDeviceLibraryPath, Store(records));
    EXPECT_EQ(importFromDevice(t.ctx), 0);
    auto files = t.deviceFiles();
    ASSERT_EQ(files.size(), records.size()); // equal names too: the store keeps both
    EXPECT_FALSE(fs::exists(t.dir.path() + "evil.rlb"));
    for (const auto& entry : fs::recursive_directory_iterator(t.dir.path())) {
        if (entry.is_regular_file()) {
            EXPECT_EQ(entry.path().parent_path().string() + "/", t.ctx.deviceFolder);
        }
    }
    // Sorted, the files are the store's records in order, byte for byte.
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::string bytes;
        ASSERT_EQ(ReadWholeFile(t.ctx.deviceFolder + files[i], bytes), LoadResult::Loaded);
        EXPECT_EQ(bytes, records[i]) << files[i];
    }
    EXPECT_EQ(files[0], "00001 a_b.rlb");
    EXPECT_EQ(files[4], "00005.rlb");
    EXPECT_EQ(files[9], "00010 caf\xC3\xA9 \xE2\x82\xAC.rlb"); // shown as Windows-1252, in UTF-8
}

std::string PcLibrary(const std::string& name, float intensity, float shift) {
    SpectrumHeader header;
    header.setName(name);
    header.setModelCode(179);
    std::vector<float> i(2500, intensity), x(2500, shift);
    return EncodePcLibraryFile(header, i.data(), x.data());
}

TEST(Export, ConversionOfPointPairs) {
    std::string pc = PcLibrary("conv", 0.0f, 0.0f);
    auto* b = reinterpret_cast<std::uint8_t*>(pc.data());
    PutF32(b + 120, -0.5f); // pair 0: mean -0.4 -> 0
    PutF32(b + 124, -0.3f);
    PutF32(b + 128, 70000.0f); // pair 1: mean 70000.5 -> 4464
    PutF32(b + 132, 70001.0f);
    PutF32(b + 10120, 1000.2f); // pair 1250: mean 1000.55 -> 10000
    PutF32(b + 10124, 1000.9f);
    PutF32(b + 10128, 7000.0f); // pair 1251: 7000 x 10 = 70000 -> 4464
    PutF32(b + 10132, 7000.0f);
    std::string record = ConvertPcLibraryToRecord(pc);
    ASSERT_EQ(record.size(), 5120u);
    const auto* r = reinterpret_cast<const std::uint8_t*>(record.data());
    EXPECT_EQ(std::string(record.data(), 4), "conv");
    EXPECT_EQ(GetU16(r + 120), 0);
    EXPECT_EQ(GetU16(r + 122), 4464);
    EXPECT_EQ(GetU16(r + 2620), 10000);
    EXPECT_EQ(GetU16(r + 2622), 4464);
}

TEST(Export, TwoLibrariesInTenChunksAndARoundTrip) {
    Transfer t;
    t.useView(LibraryView::Pc);
    std::ofstream(t.state->library.lib.libraryFolder + "first.rlb", std::ios::binary) << PcLibrary("first", 100, 500);
    std::ofstream(t.state->library.lib.libraryFolder + "second.rlb", std::ios::binary) << PcLibrary("second", 200, 600);
    EXPECT_EQ(exportToDevice(t.ctx, {"first.rlb", "second.rlb"}), 0);
    EXPECT_EQ(t.chunksSent(), 10u);
    EXPECT_EQ(t.progress, (std::vector<std::uint8_t>{50, 100}));
    auto request = t.rig.entriesOf(wire::kFileRwRequest)[0].bytes;
    EXPECT_EQ(GetU32(request.data() + 32), 10240u);
    auto store = t.rig.instrument->file(kDeviceLibraryPath);
    ASSERT_TRUE(store);
    ASSERT_EQ(store->size(), 10240u);

    // Import, then export every mirrored row: the same store comes back.
    t.progress.clear();
    ASSERT_EQ(importFromDevice(t.ctx), 0);
    t.useView(LibraryView::Device);
    auto before = *store;
    std::vector<std::string> all;
    for (const CatalogueRow& row : ListLibraryFolder(t.state->library.lib.libraryFolder, BrandVariant::Brenmor))
        all.push_back(row.fileName);
    ASSERT_EQ(exportToDevice(t.ctx, all), 0);
    EXPECT_EQ(*t.rig.instrument->file(kDeviceLibraryPath), before);
}

TEST(Export, ImportThenExportOfEveryRowGivesTheStoreBackByteForByte) {
    Transfer t;
    const std::vector<std::uint8_t> before = Store(HostileRecords());
    t.rig.instrument->setFile(kDeviceLibraryPath, before);
    ASSERT_EQ(importFromDevice(t.ctx), 0);
    t.useView(LibraryView::Device);
    // Every row of the grid, as it lists the mirror.
    std::vector<std::string> rows;
    for (const CatalogueRow& row : ListLibraryFolder(t.state->library.lib.libraryFolder, BrandVariant::Brenmor))
        rows.push_back(row.fileName);
    ASSERT_EQ(exportToDevice(t.ctx, rows), 0);
    EXPECT_TRUE(*t.rig.instrument->file(kDeviceLibraryPath) == before);
}

TEST(Export, MoreThanTheStoreTakesIsRefusedBeforeAnythingIsSent) {
    Transfer t;
    t.useView(LibraryView::Pc);
    std::ofstream(t.state->library.lib.libraryFolder + "one.rlb", std::ios::binary) << PcLibrary("one", 1, 2);
    EXPECT_EQ(ExportSelectionRefusal(kMaxExportSelection), nullptr);
    ASSERT_NE(ExportSelectionRefusal(kMaxExportSelection + 1), nullptr);
    EXPECT_STREQ(ExportSelectionRefusal(kMaxExportSelection + 1), TransferResultMessage(kTooManyLibraries).text);
    std::vector<std::string> files(kMaxExportSelection + 1, "one.rlb");
    EXPECT_EQ(exportToDevice(t.ctx, files), kTooManyLibraries);
    EXPECT_TRUE(t.rig.commandCodes().empty());
}

TEST(Export, MissingStoreIsWrittenAndAVanishedFileIsSkippedWithAResult) {
    Transfer t;
    t.useView(LibraryView::Pc);
    t.rig.instrument->removeFile(kDeviceLibraryPath);
    std::ofstream(t.state->library.lib.libraryFolder + "kept.rlb", std::ios::binary) << PcLibrary("kept", 1, 2);
    EXPECT_EQ(exportToDevice(t.ctx, {"kept.rlb", "gone.rlb"}), kLocalLibraryFailed); // a file gone since listing
    EXPECT_STREQ(TransferResultMessage(kLocalLibraryFailed).text, "Library File Fail!");
    ASSERT_TRUE(t.rig.instrument->file(kDeviceLibraryPath));
    EXPECT_EQ(t.rig.instrument->file(kDeviceLibraryPath)->size(), 5120u);

    t.rig.instrument->clearLog();
    EXPECT_EQ(exportToDevice(t.ctx, {"../kept.rlb"}), kLocalLibraryFailed);
    EXPECT_TRUE(t.rig.commandCodes().empty()); // nothing readable: the store is not touched
}

TEST(TransferResults, EveryCodeFromAFaultOfTheInstrument) {
    EXPECT_TRUE(TransferResultMessage(10).error);
    EXPECT_STREQ(TransferResultMessage(10).text, "No Device!");
    EXPECT_EQ(TransferResultMessage(0).text, nullptr);
    {
        Transfer t;
        t.state->device.deviceState = DeviceConnection::Disconnected;
        EXPECT_EQ(importFromDevice(t.ctx), 10);
        EXPECT_TRUE(t.rig.commandCodes().empty());
    }
    // Commands of an import of one record: control info, name, info, request,
    // two polls, then chunk and poll five times, then close.
    const std::pair<std::uint32_t, std::uint8_t> losses[] = {{0, 1}, {1, 2}, {2, 3}, {3, 5}, {6, 9}, {15, 9}};
    for (auto [index, code] : losses) {
        Transfer t;
        t.rig.instrument->setFile(kDeviceLibraryPath, Store({Record("x")}));
        t.rig.instrument->scheduleLoss(index, SimLossStage::BeforeData);
        // A lost device also fails the closing command, which then decides.
        EXPECT_EQ(importFromDevice(t.ctx), code) << index;
    }
    {
        Transfer t; // a chunk whose reply comes short, the device still there
        t.rig.instrument->setFile(kDeviceLibraryPath, Store({Record("x")}));
        t.rig.instrument->scheduleShortReply(6);
        EXPECT_EQ(importFromDevice(t.ctx), 7);
        EXPECT_EQ(t.rig.commandCodes().back(), wire::kCloseFile);
    }
    {
        Transfer t;
        t.rig.instrument->setFile(kDeviceLibraryPath, Store({Record("x")}));
        t.rig.instrument->setNeverReady(true);
        EXPECT_EQ(importFromDevice(t.ctx), 6);
    }
    {
        Transfer t;
        t.rig.instrument->setFile(kDeviceLibraryPath, Store({Record("x")}));
        t.rig.instrument->scheduleNeverReady(7); // from the poll after the first chunk
        EXPECT_EQ(importFromDevice(t.ctx), 8);
        EXPECT_EQ(t.rig.commandCodes().back(), wire::kCloseFile);
    }
}

// What a transfer is to survive: the device lost at one command (at one
// stage of its exchange), or the device no longer reporting ready from one
// command on, or from the first command of one code on.
enum class TransferFault : std::uint8_t { Lost, NeverReadyFrom, NeverReadyAfterCode };

// An instrument store of two records and, on the PC, two local libraries and
// an earlier mirror: "a" older than the store's and "old" that the store no
// longer holds. The direction is 0 (export both local libraries) or 1 (import).
struct TransferScene {
    Transfer t;
    std::vector<std::uint8_t> oldStore = Store({Record("a", 1), Record("b", 2)});
    test::FolderSnapshot earlierDevice, earlierLocal;
    explicit TransferScene(std::uint8_t direction) {
        t.useView(LibraryView::Pc);
        t.rig.instrument->setFile(kDeviceLibraryPath, oldStore);
        std::ofstream(t.state->library.lib.libraryFolder + "p.rlb", std::ios::binary) << PcLibrary("p", 1, 2);
        std::ofstream(t.state->library.lib.libraryFolder + "q.rlb", std::ios::binary) << PcLibrary("q", 3, 4);
        std::ofstream(t.ctx.deviceFolder + "a.rlb", std::ios::binary) << Record("a", 9);
        std::ofstream(t.ctx.deviceFolder + "old.rlb", std::ios::binary) << Record("old", 5);
        t.state->library.lib.transferDirection = direction;
        t.state->library.lib.exportCount = 2;
        t.state->library.lib.exportSelection[0] = 1;
        t.state->library.lib.exportSelection[1] = 2;
        t.state->library.lib.exportFiles = {"p.rlb", "q.rlb"};
        earlierDevice = test::SnapshotFolder(t.ctx.deviceFolder);
        earlierLocal = test::SnapshotFolder(t.state->library.lib.libraryFolder);
    }
    // The worker's whole run on its own thread, as the window starts it; the
    // result once the worker has published its end and returned.
    std::uint8_t run() {
        WorkerThread worker;
        TransferContext ctx = t.ctx;
        ctx.stop = worker.stopFlag();
        worker.start([&ctx] { RunTransfer(ctx); });
        for (int ms = 0; ms < 30000 && worker.busy(); ++ms)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_FALSE(worker.busy()) << "the transfer worker did not return";
        worker.stopAndWait();
        EXPECT_EQ(t.state->library.transferState.load(std::memory_order_acquire), 2);
        return t.state->library.lib.transferResult;
    }
    std::vector<std::uint8_t> store() const {
        return t.rig.instrument->file(kDeviceLibraryPath).value_or(std::vector<std::uint8_t>{});
    }
};

// The result the documented steps give for a fault at command `i` of a clean
// run whose command codes were `codes`.
std::uint8_t ExpectedResult(const std::vector<std::uint16_t>& codes, std::size_t i, TransferFault fault,
                            std::uint8_t direction) {
    std::size_t firstChunk = std::find(codes.begin(), codes.end(), wire::kTransferChunk) - codes.begin();
    if (fault != TransferFault::Lost) {
        // Only the polls see it: the first poll from `i` on decides.
        std::size_t poll =
            std::find(codes.begin() + static_cast<std::ptrdiff_t>(i), codes.end(), wire::kPollState) - codes.begin();
        if (poll == codes.size()) return 0;
        return poll < firstChunk ? 6 : 8; // request time-out, chunk time-out (the close then succeeds)
    }
    switch (codes[i]) {
    case wire::kGetControlInfo:
        return 1;
    case wire::kSetFileName:
        return 2;
    case wire::kGetFileInfo:
        return 3;
    case wire::kFileRwRequest:
        return 5;
    case wire::kCloseFile:
        return 9;
    default:
        break;
    }
    if (i < firstChunk) return 6; // a poll after the request: the wait runs out
    // An import still closes after a failed chunk, which then fails too; an
    // export stops at the failed chunk and leaves the store uncommitted.
    if (direction == 1) return 9;
    return codes[i] == wire::kTransferChunk ? 7 : 8;
}

TEST(TransferFaultSweep, EveryCommandEveryStageOfImportAndExport) {
    std::size_t runs = 0, total = 0;
    for (std::uint8_t direction : {0, 1}) {
        TransferScene clean(direction);
        ASSERT_EQ(clean.run(), 0);
        const std::vector<std::uint16_t> codes = clean.t.rig.commandCodes();
        const test::FolderSnapshot cleanDevice = test::SnapshotFolder(clean.t.ctx.deviceFolder);
        const std::vector<std::uint8_t> cleanStore = clean.store();
        // 4 to open, the polls of the request, 10 chunks with their polls, the close.
        ASSERT_GE(codes.size(), 4u + 1u + 20u + 1u);
        ASSERT_EQ(cleanStore.size(), direction == 0 ? 2 * kDeviceRecordSize : clean.oldStore.size());

        struct Case {
            TransferFault fault;
            std::size_t index;
            SimLossStage stage;
        };
        std::vector<Case> cases;
        for (std::size_t i = 0; i < codes.size(); ++i) {
            for (SimLossStage stage : {SimLossStage::BeforeBlock, SimLossStage::BeforeData, SimLossStage::BeforeStatus})
                cases.push_back({TransferFault::Lost, i, stage});
            cases.push_back({TransferFault::NeverReadyFrom, i, SimLossStage::BeforeBlock});
            if (std::find(codes.begin(), codes.begin() + static_cast<std::ptrdiff_t>(i), codes[i]) ==
                codes.begin() + static_cast<std::ptrdiff_t>(i))
                cases.push_back({TransferFault::NeverReadyAfterCode, i, SimLossStage::BeforeBlock});
        }
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << (direction ? "import" : "export") << ", command " << c.index << " (code "
                                            << std::hex << codes[c.index] << std::dec << "), fault "
                                            << static_cast<int>(c.fault) << ", stage " << static_cast<int>(c.stage));
            TransferScene scene(direction);
            VirtualInstrument& instrument = *scene.t.rig.instrument;
            switch (c.fault) {
            case TransferFault::Lost:
                instrument.scheduleLoss(static_cast<std::uint32_t>(c.index), c.stage);
                break;
            case TransferFault::NeverReadyFrom:
                instrument.scheduleNeverReady(static_cast<std::uint32_t>(c.index));
                break;
            case TransferFault::NeverReadyAfterCode:
                instrument.neverReadyAfterCode(codes[c.index]);
                break;
            }
            std::uint8_t expected = ExpectedResult(codes, c.index, c.fault, direction);
            EXPECT_EQ(scene.run(), expected);
            EXPECT_EQ(scene.t.state->library.lib.transferStatus, expected == 0 ? 1 : 3);
            EXPECT_FALSE(instrument.laserOn());

            // Files: the earlier ones as they were or complete new ones;
            // nothing else, no temporary; the local libraries untouched.
            for (const auto& [name, bytes] : test::SnapshotFolder(scene.t.ctx.deviceFolder)) {
                bool earlier = scene.earlierDevice.count(name) && scene.earlierDevice.at(name) == bytes;
                bool complete = cleanDevice.count(name) && cleanDevice.at(name) == bytes;
                EXPECT_TRUE(earlier || complete) << name << " is neither the earlier file nor a complete new one";
            }
            EXPECT_EQ(test::SnapshotFolder(scene.t.state->library.lib.libraryFolder), scene.earlierLocal);
            std::vector<std::uint8_t> store = scene.store();
            EXPECT_TRUE(store == scene.oldStore || store == cleanStore) << "the store is half written";

            // The application's next checks: idle while the device is gone, a
            // replug (or power cycle of a hung instrument) connects it again,
            // and the same transfer then succeeds.
            if (c.fault != TransferFault::Lost) scene.t.rig.bridge.unplug();
            CheckConnection(scene.t.rig.link, scene.t.rig.clock, *scene.t.state);
            EXPECT_EQ(scene.t.state->device.deviceState, DeviceConnection::Disconnected);
            EXPECT_EQ(scene.t.state->library.transferState, 0);
            EXPECT_EQ(scene.t.state->library.lib.transferStatus, 0);
            scene.t.rig.bridge.replug();
            CheckConnection(scene.t.rig.link, scene.t.rig.clock, *scene.t.state);
            ASSERT_EQ(scene.t.state->device.deviceState, DeviceConnection::Connected);
            EXPECT_EQ(scene.run(), 0);
            EXPECT_EQ(test::SnapshotFolder(scene.t.ctx.deviceFolder), cleanDevice);
            EXPECT_EQ(scene.store(), cleanStore);
            ++runs;
        }
        total += codes.size() * 4 + 7; // three stages and one never-ready for each, seven distinct codes
    }
    EXPECT_EQ(runs, total);
}

} // namespace
} // namespace veltrane
