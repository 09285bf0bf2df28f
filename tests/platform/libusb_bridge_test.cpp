#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <set>

#include "device/device_link.h"
#include "platform/libusb_bridge.h"
#include "support/sim_rig.h"
#include "support/temp_dir.h"

namespace veltrane {
namespace {

constexpr std::uint8_t kIn = 0x81;
constexpr std::uint8_t kOut = 0x02;

// What a scripted transfer does: its error, how many bytes it moves, and for
// IN the bytes it delivers.
struct Step {
    UsbError error = UsbError::Success;
    std::int64_t count = -1; // -1: all that was asked for
    std::uint8_t fill = 0;
};

struct TransferCall {
    std::uint8_t endpoint;
    std::uint32_t length;
    std::uint32_t timeoutMs;
};

// A USB stack with scripted devices. Transfers follow the per-endpoint script
// and succeed in full when it is empty; when `peer` is set they go to it
// instead, so a whole instrument can stand behind the endpoints.
class FakeBackend : public UsbBackend {
public:
    std::uint32_t devices = 1;
    UsbError listError = UsbError::Success;
    UsbError openError = UsbError::Success;
    UsbError claimError = UsbError::Success;
    std::vector<UsbInterfaceInfo> descriptors = {{0, 0, {{kIn, 2}, {kOut, 2}}}};
    std::map<std::uint8_t, std::deque<Step>> script;
    UsbBridge* peer = nullptr;
    BridgeHandle peerHandle = 0;

    std::vector<UsbDeviceId> listedIds;
    std::vector<std::uint32_t> openedIndices;
    std::set<UsbDeviceHandle> openHandles;
    std::set<UsbDeviceHandle> claimed;
    std::vector<TransferCall> transfers;
    std::vector<std::uint8_t> clearedHalts;

    UsbError listDevices(const std::vector<UsbDeviceId>& ids, std::uint32_t& count) override {
        listedIds = ids;
        count = listError == UsbError::Success ? devices : 0;
        return listError;
    }
    UsbError open(std::uint32_t index, UsbDeviceHandle& handle) override {
        if (openError != UsbError::Success) return openError;
        if (index >= devices) return UsbError::NotFound;
        openedIndices.push_back(index);
        handle = m_next++;
        openHandles.insert(handle);
        if (peer && peer->open(index, peerHandle) != BridgeStatus::Success) return UsbError::NoDevice;
        return UsbError::Success;
    }
    UsbError interfaces(UsbDeviceHandle, std::vector<UsbInterfaceInfo>& out) override {
        out = descriptors;
        return UsbError::Success;
    }
    UsbError claimInterface(UsbDeviceHandle handle, std::uint8_t number) override {
        if (number != 0) return UsbError::NotFound;
        if (claimError == UsbError::Success) claimed.insert(handle);
        return claimError;
    }
    UsbError releaseInterface(UsbDeviceHandle handle, std::uint8_t) override {
        return claimed.erase(handle) ? UsbError::Success : UsbError::NotFound;
    }
    void close(UsbDeviceHandle handle) override {
        EXPECT_EQ(claimed.count(handle), 0u) << "closed while the interface was still claimed";
        openHandles.erase(handle);
        if (peer) peer->close(peerHandle);
    }
    UsbError bulkTransfer(UsbDeviceHandle handle, std::uint8_t endpoint, std::uint8_t* data, std::uint32_t length,
                          std::uint32_t& transferred, std::uint32_t timeoutMs) override {
        EXPECT_EQ(claimed.count(handle), 1u) << "transfer on an unclaimed interface";
        transfers.push_back({endpoint, length, timeoutMs});
        if (peer) {
            BridgeStatus s = endpoint == kIn ? peer->read(peerHandle, data, length, transferred)
                                             : peer->write(peerHandle, data, length, transferred);
            return s == BridgeStatus::Success ? UsbError::Success : UsbError::NoDevice;
        }
        Step step;
        auto& queue = script[endpoint];
        if (!queue.empty()) {
            step = queue.front();
            queue.pop_front();
        }
        transferred = step.count < 0 ? length : static_cast<std::uint32_t>(step.count);
        if (endpoint & 0x80)
            for (std::uint32_t i = 0; i < transferred; ++i)
                data[i] = step.fill;
        return step.error;
    }
    UsbError clearHalt(UsbDeviceHandle, std::uint8_t endpoint) override {
        clearedHalts.push_back(endpoint);
        return UsbError::Success;
    }

private:
    UsbDeviceHandle m_next = 0x100;
};

struct Rig {
    FakeBackend* usb;
    std::unique_ptr<LibusbBridge> bridge;
    explicit Rig(std::vector<UsbDeviceId> ids = {{0x10C4, 0xEA61}}) {
        auto backend = std::make_unique<FakeBackend>();
        usb = backend.get();
        bridge = std::make_unique<LibusbBridge>(std::move(backend), std::move(ids));
    }
    BridgeHandle openFirst() {
        BridgeHandle h = kInvalidBridgeHandle;
        EXPECT_EQ(bridge->open(0, h), BridgeStatus::Success);
        return h;
    }
};

TEST(LibusbBridge, CountsMatchingDevicesAndTheLinkOpensTheLastEnumerated) {
    Rig rig({{0x10C4, 0xEA61}, {0x1234, 0x5678}});
    rig.usb->devices = 3;
    std::uint32_t count = 99;
    EXPECT_EQ(rig.bridge->getNumDevices(count), BridgeStatus::Success);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(rig.usb->listedIds, (std::vector<UsbDeviceId>{{0x10C4, 0xEA61}, {0x1234, 0x5678}}));

    DeviceLink link(*rig.bridge);
    EXPECT_TRUE(link.CloseFile());
    EXPECT_EQ(rig.usb->openedIndices, std::vector<std::uint32_t>{2});
    EXPECT_TRUE(rig.usb->openHandles.empty());
    EXPECT_TRUE(rig.usb->claimed.empty());

    // None attached, or the USB stack failing: no device, count zero.
    rig.usb->devices = 0;
    EXPECT_EQ(rig.bridge->getNumDevices(count), BridgeStatus::DeviceNotFound);
    EXPECT_EQ(count, 0u);
    rig.usb->devices = 2;
    rig.usb->listError = UsbError::Other;
    count = 5;
    EXPECT_EQ(rig.bridge->getNumDevices(count), BridgeStatus::DeviceIoFailed);
    EXPECT_EQ(count, 0u);
}

TEST(LibusbBridge, UsesTheFirstBulkEndpointsOfInterfaceZeroSettingZero) {
    Rig rig;
    rig.usb->descriptors = {
        {1, 0, {{0x86, 2}, {0x07, 2}}}, // another interface
        {0, 1, {{0x88, 2}, {0x09, 2}}}, // another alternate setting
        {0, 0, {{0x83, 3}, {0x04, 3}, {0x05, 2}, {0x82, 2}, {0x84, 2}, {0x06, 2}}},
    };
    BridgeHandle h = rig.openFirst();
    std::uint8_t buf[4] = {};
    std::uint32_t n = 0;
    EXPECT_EQ(rig.bridge->write(h, buf, 4, n), BridgeStatus::Success);
    EXPECT_EQ(rig.bridge->read(h, buf, 4, n), BridgeStatus::Success);
    ASSERT_EQ(rig.usb->transfers.size(), 2u);
    EXPECT_EQ(rig.usb->transfers[0].endpoint, 0x05);
    EXPECT_EQ(rig.usb->transfers[1].endpoint, 0x82);
    EXPECT_EQ(rig.bridge->close(h), BridgeStatus::Success);
    EXPECT_EQ(rig.bridge->close(h), BridgeStatus::InvalidHandle);
    EXPECT_EQ(rig.bridge->read(h, buf, 4, n), BridgeStatus::InvalidHandle);
}

TEST(LibusbBridge, RefusesDevicesWithoutBothBulkEndpointsOrWhoseInterfaceIsTaken) {
    for (int variant = 0; variant < 3; ++variant) {
        Rig rig;
        if (variant == 0) rig.usb->descriptors = {{0, 0, {{0x81, 2}, {0x02, 3}}}}; // OUT is interrupt
        if (variant == 1) rig.usb->descriptors = {{1, 0, {{0x81, 2}, {0x02, 2}}}}; // no interface 0
        if (variant == 2) rig.usb->claimError = UsbError::Busy;
        BridgeHandle h = 77;
        EXPECT_EQ(rig.bridge->open(0, h), BridgeStatus::DeviceIoFailed) << variant;
        EXPECT_EQ(h, kInvalidBridgeHandle);
        EXPECT_TRUE(rig.usb->openHandles.empty()) << "device left open, variant " << variant;
    }
    Rig rig;
    BridgeHandle h = 0;
    EXPECT_EQ(rig.bridge->open(1, h), BridgeStatus::DeviceNotFound); // beyond the list
    rig.usb->openError = UsbError::NoDevice;
    EXPECT_EQ(rig.bridge->open(0, h), BridgeStatus::DeviceNotFound);
}

TEST(LibusbBridge, MapsTransferErrorsPerDirectionAndClearsStalls) {
    struct Case {
        UsbError error;
        BridgeStatus read;
        BridgeStatus write;
    };
    const Case cases[] = {
        {UsbError::Timeout, BridgeStatus::ReadTimedOut, BridgeStatus::WriteTimedOut},
        {UsbError::NoDevice, BridgeStatus::DeviceNotFound, BridgeStatus::DeviceNotFound},
        {UsbError::NotFound, BridgeStatus::DeviceNotFound, BridgeStatus::DeviceNotFound},
        {UsbError::Access, BridgeStatus::AccessDenied, BridgeStatus::AccessDenied},
        {UsbError::Pipe, BridgeStatus::ReadError, BridgeStatus::WriteError},
        {UsbError::Busy, BridgeStatus::DeviceIoFailed, BridgeStatus::DeviceIoFailed},
        {UsbError::Other, BridgeStatus::DeviceIoFailed, BridgeStatus::DeviceIoFailed},
    };
    for (const Case& c : cases) {
        Rig rig;
        BridgeHandle h = rig.openFirst();
        rig.usb->script[kIn] = {{c.error, 0}};
        rig.usb->script[kOut] = {{c.error, 0}};
        std::uint8_t buf[8] = {};
        std::uint32_t n = 0;
        EXPECT_EQ(rig.bridge->read(h, buf, 8, n), c.read) << static_cast<int>(c.error);
        EXPECT_EQ(rig.bridge->write(h, buf, 8, n), c.write) << static_cast<int>(c.error);
        if (c.error == UsbError::Pipe)
            EXPECT_EQ(rig.usb->clearedHalts, (std::vector<std::uint8_t>{kIn, kOut}));
        else
            EXPECT_TRUE(rig.usb->clearedHalts.empty());
        // After a stall is cleared the endpoint works again.
        EXPECT_EQ(rig.bridge->read(h, buf, 8, n), BridgeStatus::Success);
        EXPECT_EQ(n, 8u);
    }
}

TEST(LibusbBridge, ReportsTheBytesOfShortAndTimedOutTransfers) {
    Rig rig;
    BridgeHandle h = rig.openFirst();
    rig.usb->script[kIn] = {{UsbError::Success, 5, 0xAB}, {UsbError::Timeout, 3, 0xCD}};
    std::uint8_t buf[10] = {};
    std::uint32_t n = 0;
    EXPECT_EQ(rig.bridge->read(h, buf, 10, n), BridgeStatus::Success);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(buf[4], 0xAB);
    EXPECT_EQ(buf[5], 0x00);
    EXPECT_EQ(rig.bridge->read(h, buf, 10, n), BridgeStatus::ReadTimedOut);
    EXPECT_EQ(n, 3u);

    // The link takes a short status block as a failed exchange.
    DeviceLink link(*rig.bridge);
    auto openBefore = rig.usb->openHandles;
    rig.usb->script[kIn] = {{UsbError::Success, wire::kStatusSize - 1}};
    EXPECT_FALSE(link.CloseFile());
    EXPECT_EQ(rig.usb->openHandles, openBefore); // the link's own handle was closed
}

TEST(LibusbBridge, PassesTheTimeoutsOfEachDirection) {
    Rig rig;
    BridgeHandle h = rig.openFirst();
    std::uint8_t buf[2] = {};
    std::uint32_t n = 0;
    rig.bridge->read(h, buf, 2, n);
    rig.bridge->write(h, buf, 2, n);
    EXPECT_EQ(rig.bridge->setTimeouts(250, 40), BridgeStatus::Success);
    rig.bridge->read(h, buf, 2, n);
    rig.bridge->write(h, buf, 2, n);
    rig.bridge->close(h);

    DeviceLink link(*rig.bridge);
    link.InitLink();
    EXPECT_TRUE(link.CloseFile());
    const auto& t = rig.usb->transfers;
    ASSERT_EQ(t.size(), 6u);
    // Never unbounded, even before anyone set time-outs.
    EXPECT_EQ(t[0].timeoutMs, 3000u);
    EXPECT_EQ(t[1].timeoutMs, 1000u);
    EXPECT_EQ(t[2].timeoutMs, 250u);
    EXPECT_EQ(t[3].timeoutMs, 40u);
    EXPECT_EQ(t[4].endpoint, kOut);
    EXPECT_EQ(t[4].timeoutMs, 1000u);
    EXPECT_EQ(t[5].endpoint, kIn);
    EXPECT_EQ(t[5].timeoutMs, 3000u);
}

TEST(LibusbBridge, InstrumentUnpluggedMidExchangeFailsAndRecovers) {
    test::SimRig sim;
    Rig rig;
    rig.usb->peer = &sim.bridge;
    DeviceLink link(*rig.bridge);
    link.InitLink();
    ASSERT_TRUE(link.ReadSensorRecord());
    auto sensor = link.sensorRecord();

    // Gone after the command went out: the read fails, the handle is freed.
    rig.usb->peer = nullptr;
    rig.usb->script[kIn] = {{UsbError::NoDevice, 0}, {UsbError::NoDevice, 0}};
    EXPECT_FALSE(link.ReadSensorRecord());
    EXPECT_TRUE(rig.usb->openHandles.empty());
    rig.usb->devices = 0;
    EXPECT_FALSE(link.CountDevices());
    EXPECT_EQ(link.PollState(), DeviceLink::kPollFailed);

    rig.usb->devices = 1;
    rig.usb->peer = &sim.bridge;
    ASSERT_TRUE(link.CountDevices());
    ASSERT_TRUE(link.ReadSensorRecord());
    EXPECT_EQ(link.sensorRecord(), sensor);
    EXPECT_NE(sensor, decltype(sensor){});
}

TEST(LibusbBridge, GivesTheAccessDeniedNoticeOncePerAttempt) {
    Rig rig;
    EXPECT_FALSE(rig.bridge->takeAccessDeniedNotice());
    rig.usb->openError = UsbError::Access;
    BridgeHandle h = 0;
    std::uint32_t count = 0;
    EXPECT_EQ(rig.bridge->open(0, h), BridgeStatus::AccessDenied);
    EXPECT_TRUE(rig.bridge->takeAccessDeniedNotice());
    EXPECT_FALSE(rig.bridge->takeAccessDeniedNotice());
    // Every 1500 ms check finds the device and is refused again: no new notice.
    EXPECT_EQ(rig.bridge->getNumDevices(count), BridgeStatus::Success);
    EXPECT_EQ(rig.bridge->open(0, h), BridgeStatus::AccessDenied);
    EXPECT_FALSE(rig.bridge->takeAccessDeniedNotice());

    // Unplugged and plugged in again: a new attempt, a new notice.
    rig.usb->devices = 0;
    rig.bridge->getNumDevices(count);
    rig.usb->devices = 1;
    EXPECT_EQ(rig.bridge->open(0, h), BridgeStatus::AccessDenied);
    EXPECT_TRUE(rig.bridge->takeAccessDeniedNotice());

    // Fixed (udev rule installed) and opened; a later refusal is news again.
    rig.usb->openError = UsbError::Success;
    EXPECT_EQ(rig.bridge->open(0, h), BridgeStatus::Success);
    rig.bridge->close(h);
    rig.usb->openError = UsbError::Access;
    rig.bridge->open(0, h);
    EXPECT_TRUE(rig.bridge->takeAccessDeniedNotice());
}

TEST(UsbDeviceIds, ParsesVidPidAndExtendsTheDefaultsFromTheSettingsFile) {
    EXPECT_EQ(ParseUsbDeviceId("10C4:EA61"), (UsbDeviceId{0x10C4, 0xEA61}));
    EXPECT_EQ(ParseUsbDeviceId(" 0x1a2b : 0X00ff "), (UsbDeviceId{0x1A2B, 0x00FF}));
    for (const char* bad : {"", "10C4", "10C4:", ":EA61", "10C4EA61", "1:2:3", "10C45:1", "G0C4:1", "0x:1"})
        EXPECT_FALSE(ParseUsbDeviceId(bad)) << bad;

    test::TempDir dir;
    IniFile ini(dir.path() + "veltrane.ini");
    EXPECT_EQ(ReadUsbDeviceIds(ini), (std::vector<UsbDeviceId>{{0x10C4, 0xEA61}}));
    {
        std::ofstream out(ini.path());
        out << "[USB Devices]\nDevice1=1234:5678\nDevice2=nonsense\nDevice4=10c4:ea61\nDevice5=abcd:0001\n"
               "Device32=beef:0002\nDevice33=cafe:0003\n";
    }
    EXPECT_EQ(ReadUsbDeviceIds(ini),
              (std::vector<UsbDeviceId>{{0x10C4, 0xEA61}, {0x1234, 0x5678}, {0xABCD, 0x0001}, {0xBEEF, 0x0002}}));
}

} // namespace
} // namespace veltrane
