// The real LibusbBridge over the real libusb, against the virtual instrument
// behind an emulated usbfs (see usbfs_testbed.h). What the scripted-backend
// tests of the bridge cannot show: that the libusb calls themselves, as the
// kernel answers them, carry the protocol byte for byte and fail the way the
// program expects when the device misbehaves or goes away.

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/connection_check.h"
#include "app/program_state.h"
#include "device/device_connection.h"
#include "device/device_link.h"
#include "library/library_file.h"
#include "measure/measurement.h"
#include "platform/file_io.h"
#include "platform/folder_listing.h"
#include "platform/libusb_backend.h"
#include "platform/libusb_bridge.h"
#include "support/temp_dir.h"
#include "transfer/transfer.h"
#include "usb/usbfs_testbed.h"

namespace veltrane {
namespace {

using test::UsbfsTestbed;

constexpr std::uint8_t kOut = 0x01;
constexpr std::uint8_t kIn = 0x81;

struct UsbRig {
    VirtualClock clock{100000};
    std::shared_ptr<VirtualInstrument> instrument =
        std::make_shared<VirtualInstrument>(clock, SimModelLarge2500(), SimSample::Polystyrene, 7);
    UsbfsTestbed usb; // libusb must find the testbed when it starts
    std::unique_ptr<LibusbBridge> bridge;
    std::unique_ptr<DeviceLink> link;
    std::unique_ptr<ProgramState> state = std::make_unique<ProgramState>();

    UsbRig() {
        usb.plug(instrument);
        bridge = std::make_unique<LibusbBridge>(
            MakeLibusbBackend(),
            std::vector<UsbDeviceId>(std::begin(kDefaultUsbDeviceIds), std::end(kDefaultUsbDeviceIds)));
        link = std::make_unique<DeviceLink>(*bridge);
        link->InitLink();
        ApplyStartupValues(*state);
    }
    ~UsbRig() {
        link.reset();
        bridge.reset();
        for (const std::string& v : instrument->violations())
            ADD_FAILURE() << "protocol violation: " << v;
        for (const std::string& f : usb.hostFaults())
            ADD_FAILURE() << "usbfs misuse: " << f;
        test::UsbfsStats s = usb.stats();
        EXPECT_EQ(s.claims, s.releases) << "interface left claimed";
    }
    CheckResult check() { return CheckConnection(*link, clock, *state); }
    void identify() { ASSERT_TRUE(check().newlyIdentified); }
};

TEST(LibusbUmockdev, IdentifiesTheInstrumentThroughUsbfs) {
    UsbRig rig;
    CheckResult first = rig.check();
    EXPECT_EQ(first.outcome, IdentifyOutcome::Identified);
    EXPECT_TRUE(first.newlyIdentified);
    EXPECT_EQ(first.calibration, FileAccessResult::Success);
    EXPECT_EQ(rig.state->device.deviceState, DeviceConnection::Connected);
    EXPECT_EQ(rig.state->device.deviceType, 179);
    EXPECT_EQ(rig.state->device.pixelCount, 2500);
    EXPECT_EQ(rig.state->device.deviceSerial, rig.instrument->model().deviceSerial);
    EXPECT_EQ(rig.state->device.opticsSerial, rig.instrument->model().opticsSerial);
    EXPECT_TRUE(rig.state->device.waveCalValid);
    // Each exchange opened the node and claimed the interface for itself.
    test::UsbfsStats s = rig.usb.stats();
    EXPECT_GT(s.claims, 4u);
    EXPECT_EQ(s.opens, s.claims);

    // The blocks crossed the bulk OUT pipe as they are, without padding:
    // ReadDeviceRecord, 80 bytes to read, 26-byte block.
    std::vector<std::uint8_t> recordBlock;
    for (const SimLogEntry& e : rig.instrument->log())
        if (e.kind == SimLogEntry::Kind::Command && e.code == wire::kReadDeviceRecord) recordBlock = e.bytes;
    EXPECT_EQ(recordBlock, (std::vector<std::uint8_t>{0x22, 0x33, 0x44, 0x55, 0x4D, 0x3C, 0x2B, 0x1A, 0x50,
                                                      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1A, 0x00,
                                                      0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00}));

    // An identified device is only counted: no URB goes out.
    std::uint32_t urbs = s.urbs;
    EXPECT_EQ(rig.check().outcome, IdentifyOutcome::AlreadyIdentified);
    EXPECT_EQ(rig.usb.stats().urbs, urbs);
}

TEST(LibusbUmockdev, MeasurementRunsThroughUsbfs) {
    UsbRig rig;
    rig.identify();
    rig.state->measurement.measureParams = {1000, 2, 20000, 100, true};
    rig.state->measurement.measureState = 1;
    AcquisitionContext ctx{*rig.link, rig.clock, rig.state->measurement, rig.state->device};
    RunMeasurement(ctx);
    EXPECT_EQ(rig.state->measurement.measureState, 2);
    EXPECT_EQ(rig.state->measurement.measureStatus, 1);
    EXPECT_TRUE(rig.state->measurement.spectrum.haveMeasured);
    EXPECT_FALSE(rig.instrument->laserOn());
    float gainMax = 0;
    for (int i = 0; i < 2500; ++i)
        gainMax =
            std::max(gainMax, rig.state->measurement.spectrum.signal[i] - rig.state->measurement.spectrum.dark[i]);
    EXPECT_GT(gainMax, 2000.0f); // the sample's bands came through, not zeros
}

std::vector<std::string> Records(const std::vector<std::uint8_t>& store) {
    std::vector<std::string> records;
    for (std::size_t at = 0; at + kDeviceRecordSize <= store.size(); at += kDeviceRecordSize)
        records.emplace_back(store.begin() + at, store.begin() + at + kDeviceRecordSize);
    std::sort(records.begin(), records.end());
    return records;
}

// Import reads the store in 1024-byte chunks from the IN pipe; exporting the
// mirrored rows writes it back in chunks on the OUT pipe.
TEST(LibusbUmockdev, LibraryStoreRoundTripsThroughUsbfs) {
    UsbRig rig;
    rig.instrument->loadDefaultLibraryStore();
    const std::vector<std::uint8_t> store = *rig.instrument->file(kDeviceLibraryPath);
    ASSERT_EQ(store.size() % kDeviceRecordSize, 0u);
    rig.identify();
    test::TempDir dir;
    const std::string mirror = LibraryFolderPath(dir.path(), LibraryView::Device);
    std::filesystem::create_directories(mirror);
    TransferContext ctx{*rig.link, rig.clock, rig.state->library, rig.state->device, mirror, nullptr, {}};
    rig.state->library.lib.transferDirection = 1;
    rig.state->library.transferState = 1;
    RunTransfer(ctx);
    EXPECT_EQ(rig.state->library.transferState, 2);
    EXPECT_EQ(rig.state->library.lib.transferResult, 0);
    EXPECT_EQ(rig.state->library.lib.transferStatus, 1);

    // Each record arrived byte for byte, whatever chunk boundary it crossed.
    std::vector<std::string> files = ListMatching(mirror, "*.rlb");
    std::vector<std::string> imported;
    for (const std::string& name : files) {
        std::string bytes;
        ASSERT_EQ(ReadWholeFile(mirror + name, bytes), LoadResult::Loaded);
        imported.push_back(bytes);
    }
    std::sort(imported.begin(), imported.end());
    EXPECT_EQ(imported, Records(store));

    rig.instrument->removeFile(kDeviceLibraryPath);
    rig.state->library.lib.libraryView = LibraryView::Device;
    rig.state->library.lib.libraryFolder = mirror;
    rig.state->library.lib.transferDirection = 0;
    rig.state->library.lib.exportCount = static_cast<std::uint16_t>(files.size());
    for (std::size_t row = 0; row < files.size(); ++row)
        rig.state->library.lib.exportSelection[row] = static_cast<std::uint16_t>(row + 1);
    rig.state->library.lib.exportFiles = files;
    rig.state->library.transferState = 1;
    RunTransfer(ctx);
    EXPECT_EQ(rig.state->library.lib.transferResult, 0);
    auto written = rig.instrument->file(kDeviceLibraryPath);
    ASSERT_TRUE(written);
    EXPECT_EQ(written->size(), store.size());
    EXPECT_EQ(Records(*written), Records(store));
}

// The kernel's serial driver owns a freshly plugged bridge. The bridge is
// taken from it once and kept: handing it back after every exchange would
// bind and unbind the driver around each command, a tty coming and going
// (and probed by whatever watches new ttys) between them.
TEST(LibusbUmockdev, SerialDriverIsTakenOnceAndNotBoundAgain) {
    UsbRig rig;
    rig.identify();
    EXPECT_TRUE(rig.link->ReadDeviceRecord());
    test::UsbfsStats s = rig.usb.stats();
    EXPECT_GT(s.claims, 5u);
    EXPECT_EQ(s.serialDriverUnbinds, 1u);
    EXPECT_EQ(s.serialDriverBinds, 0u);
}

// The bridge pulled while a command is on the wire, at each point of the
// exchange and in both data directions.
TEST(LibusbUmockdev, PulledMidExchangeFailsThenReplugIdentifiesAgain) {
    struct Case {
        SimLossStage stage;
        bool writeCommand; // SetFileName (data to the device) or ReadDeviceRecord
    };
    const Case cases[] = {{SimLossStage::BeforeBlock, false},
                          {SimLossStage::BeforeData, false},
                          {SimLossStage::BeforeStatus, false},
                          {SimLossStage::BeforeData, true},
                          {SimLossStage::BeforeStatus, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "stage " << int(c.stage) << (c.writeCommand ? " write" : " read"));
        UsbRig rig;
        rig.identify();
        auto command = [&] {
            return c.writeCommand ? rig.link->SetFileName(MakePathField(wire::kCalibrationPath))
                                  : rig.link->ReadDeviceRecord();
        };
        rig.instrument->scheduleLoss(0, c.stage);
        EXPECT_FALSE(command());
        // udev has not told libusb yet: the node is there, the device is not.
        EXPECT_FALSE(command());
        EXPECT_EQ(rig.link->PollState(), DeviceLink::kPollFailed);

        rig.usb.unplug();
        CheckResult gone = rig.check();
        EXPECT_EQ(gone.state, DeviceConnection::Disconnected);
        EXPECT_FALSE(rig.state->device.deviceIdentified);

        rig.instrument->powerCycle();
        rig.usb.plug(rig.instrument);
        EXPECT_TRUE(rig.check().newlyIdentified);
        EXPECT_TRUE(command());
    }
}

TEST(LibusbUmockdev, MeasurementWithTheBridgePulledFailsAndTheReplugMeasures) {
    UsbRig rig;
    rig.identify();
    rig.state->measurement.measureParams = {500, 1, 20000, 100, true};
    AcquisitionContext ctx{*rig.link, rig.clock, rig.state->measurement, rig.state->device};
    // Lost while the dark frame's pixel blocks come in.
    rig.instrument->scheduleLoss(6, SimLossStage::BeforeData);
    rig.state->measurement.measureState = 1;
    RunMeasurement(ctx);
    std::uint16_t lastCode = 0;
    for (const SimLogEntry& e : rig.instrument->log())
        if (e.kind == SimLogEntry::Kind::Command) lastCode = e.code;
    EXPECT_EQ(lastCode, wire::kReadPixelBlock);
    EXPECT_EQ(rig.state->measurement.measureState, 2);
    EXPECT_EQ(rig.state->measurement.measureStatus, 3);
    EXPECT_FALSE(rig.state->measurement.spectrum.haveMeasured);

    rig.usb.unplug();
    EXPECT_EQ(rig.check().state, DeviceConnection::Disconnected);
    rig.instrument->powerCycle();
    rig.usb.plug(rig.instrument);
    ASSERT_TRUE(rig.check().newlyIdentified);
    rig.state->measurement.measureState = 1;
    RunMeasurement(ctx);
    EXPECT_EQ(rig.state->measurement.measureStatus, 1);
    EXPECT_TRUE(rig.state->measurement.spectrum.haveMeasured);
}

// Faults that spoil one exchange while the device stays: that exchange
// fails with its reply area cleared, and the next one goes through.
TEST(LibusbUmockdev, StallOrShortReadFailsOnlyThatExchange) {
    struct Case {
        const char* name;
        std::function<void(UsbRig&)> arm;
        std::vector<std::uint8_t> clearedHalts;
    };
    const Case cases[] = {
        {"command block stalled", [](UsbRig& r) { r.usb.stallNext(kOut); }, {kOut}},
        {"reply stalled", [](UsbRig& r) { r.usb.stallNext(kIn); }, {kIn}},
        {"short reply", [](UsbRig& r) { r.instrument->scheduleShortReply(0); }, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UsbRig rig;
        rig.identify();
        c.arm(rig);
        EXPECT_FALSE(rig.link->ReadDeviceRecord());
        auto record = rig.link->deviceRecord();
        EXPECT_TRUE(std::all_of(record.begin(), record.end(), [](std::uint8_t b) { return b == 0; }));
        // A halt stays until the host clears it; without that the next
        // exchange would fail too.
        EXPECT_EQ(rig.usb.stats().clearedHalts, c.clearedHalts);
        EXPECT_TRUE(rig.link->ReadDeviceRecord());
        EXPECT_EQ(rig.link->deviceRecord()[20], 179);
    }
}

// A bridge that stops answering costs one time-out, not a hang: libusb
// cancels the transfer, the bridge reports the time-out and the next
// exchange goes through once the device answers again.
TEST(LibusbUmockdev, UnansweredTransferTimesOutAndIsCancelled) {
    UsbRig rig;
    rig.identify();
    rig.bridge->setTimeouts(100, 100); // libusb waits in real time
    rig.usb.setUnresponsive(true);
    BridgeHandle handle = kInvalidBridgeHandle;
    ASSERT_EQ(rig.bridge->open(0, handle), BridgeStatus::Success);
    std::uint8_t block[26] = {};
    std::uint32_t transferred = 1;
    EXPECT_EQ(rig.bridge->write(handle, block, sizeof block, transferred), BridgeStatus::WriteTimedOut);
    EXPECT_EQ(transferred, 0u);
    std::uint8_t status[16];
    EXPECT_EQ(rig.bridge->read(handle, status, sizeof status, transferred), BridgeStatus::ReadTimedOut);
    EXPECT_EQ(rig.bridge->close(handle), BridgeStatus::Success);
    EXPECT_EQ(rig.usb.stats().discards, 2u);

    rig.usb.setUnresponsive(false);
    EXPECT_TRUE(rig.link->ReadDeviceRecord());
}

// Root opens any node whatever its mode; take the override away from this
// thread (where libusb opens the node) for as long as the guard lives.
class WithoutFilePermissionOverride {
public:
    WithoutFilePermissionOverride() {
        if (syscall(SYS_capget, &m_header, m_saved) != 0) return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_changed = syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~WithoutFilePermissionOverride() {
        if (m_changed) syscall(SYS_capset, &m_header, m_saved);
    }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_changed = false;
};

TEST(LibusbUmockdev, NodeWithoutPermissionIsAccessDeniedOncePerPlugging) {
    UsbRig rig;
    rig.usb.chmodNode(0);
    WithoutFilePermissionOverride guard;
    std::uint32_t count = 0;
    ASSERT_EQ(rig.bridge->getNumDevices(count), BridgeStatus::Success);
    EXPECT_EQ(count, 1u);
    BridgeHandle handle = kInvalidBridgeHandle;
    EXPECT_EQ(rig.bridge->open(0, handle), BridgeStatus::AccessDenied);
    EXPECT_EQ(handle, kInvalidBridgeHandle);

    EXPECT_EQ(rig.check().outcome, IdentifyOutcome::RecordsUnreadable);
    EXPECT_TRUE(rig.link->takeAccessDeniedNotice());
    EXPECT_FALSE(rig.check().newlyIdentified);
    EXPECT_FALSE(rig.link->takeAccessDeniedNotice());

    // Plugged in again, still without permission: told again.
    rig.usb.unplug();
    EXPECT_EQ(rig.check().state, DeviceConnection::Disconnected);
    rig.usb.plug(rig.instrument);
    rig.usb.chmodNode(0);
    EXPECT_FALSE(rig.check().newlyIdentified);
    EXPECT_TRUE(rig.link->takeAccessDeniedNotice());

    // The udev rule in place.
    rig.usb.chmodNode(0666);
    EXPECT_TRUE(rig.check().newlyIdentified);
    EXPECT_FALSE(rig.link->takeAccessDeniedNotice());
}

} // namespace
} // namespace veltrane
